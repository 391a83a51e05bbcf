#pragma once
// One member's view of an MLS group: creating it, joining it from a Welcome, building commits,
// processing what other members send (staged first, merged later), the exporter, and keeping the
// whole state in the engine's storage so the group can be loaded back by its id.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/credential.h"
#include "mls/engine/extension.h"
#include "mls/engine/group_context.h"
#include "mls/engine/key_package.h"
#include "mls/engine/key_package_builder.h"
#include "mls/engine/key_schedule.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/messages.h"
#include "mls/engine/proposals.h"
#include "mls/engine/ratchet_tree.h"
#include "mls/engine/secret_tree.h"
#include "mls/engine/signer.h"
#include "mls/engine/storage.h"
#include "mls/engine/treekem.h"
#include "mls/engine/welcome.h"

namespace zerv::mls {

// Seconds since the Unix epoch; every lifetime check asks it.
using Clock = std::function<uint64_t()>;
uint64_t system_clock_now();

struct GroupConfig {
  bool outgoing_private = true;      // handshake messages sent as PrivateMessage
  bool accept_public = false;        // incoming handshake PublicMessage accepted
  bool accept_private = true;        // incoming handshake PrivateMessage accepted
  uint32_t padding_size = 0;         // PrivateMessage plaintext padded to a multiple (0: none)
  uint32_t past_epochs = 0;          // earlier epochs kept to read late application messages
  uint32_t resumption_psks = 0;      // earlier epochs whose resumption PSK is kept
  uint32_t out_of_order_tolerance = SecretTree::kDefaultTolerance;
  uint32_t max_forward_distance = SecretTree::kDefaultMaxForward;
  bool ratchet_tree_extension = true;  // the GroupInfo of a Welcome carries the tree

  void encode(TlsWriter& w) const;
  static GroupConfig decode(TlsReader& r);
  bool operator==(const GroupConfig&) const = default;
};

// External PSKs live in storage under their id, so a Welcome naming one finds it too.
void store_external_psk(Storage& storage, ByteView psk_id, ByteView psk);

// Everything that changes from one epoch to the next.
struct EpochState {
  GroupContext context;
  RatchetTree tree;
  TreePrivate tree_private;
  EpochSecrets secrets;
  SecretTree secret_tree;
  Bytes interim_transcript_hash;
  Bytes confirmation_tag;  // of the commit that began the epoch

  // Without the tree, decode leaves it empty for the caller to fill.
  void encode(TlsWriter& w, bool with_tree = true) const;
  static EpochState decode(TlsReader& r);
};

// A validated commit whose next epoch is computed but not yet in force.
struct StagedCommit {
  Bytes group_id;
  uint64_t from_epoch = 0;
  std::vector<Proposal> proposals;  // in the order the commit applies them
  std::vector<LeafIndex> added;     // leaves the commit's Adds took
  bool removes_self = false;        // this member is not in the next epoch
  std::unique_ptr<EpochState> next;

  StagedCommit clone() const;
  void encode(TlsWriter& w) const;
  static StagedCommit decode(TlsReader& r);
};

// A Welcome opened with the init key of the KeyPackage it is addressed to: the group secrets, the
// GroupInfo and the secrets of the epoch it describes. Nothing of it is verified yet.
struct OpenedWelcome {
  GroupSecrets group_secrets;
  GroupInfo group_info;
  EpochSecrets secrets;
};
// External PSKs the GroupSecrets name are looked up in storage.
Result<OpenedWelcome> open_welcome(const Storage& storage, const Welcome& welcome,
                                   const EncryptedGroupSecrets& entry, ByteView init_private);
bool verify_group_info(const GroupInfo& info, ByteView signature_key);

struct ProcessedMessage {
  enum class Kind { kApplication, kProposal, kCommit, kExternalJoinProposal };
  Kind kind = Kind::kApplication;
  Sender sender;
  Bytes authenticated_data;
  SecretBytes application_data;       // kApplication
  std::optional<Proposal> proposal;   // kProposal, kExternalJoinProposal
  std::optional<StagedCommit> commit;  // kCommit
};

// What a commit covers besides the proposals already received in this epoch.
struct CommitOptions {
  std::vector<KeyPackage> add;
  std::vector<uint32_t> remove;       // leaf indices
  std::vector<Bytes> external_psks;   // ids of PSKs registered in storage
  std::vector<uint64_t> resumption_psks;  // epochs of this group whose resumption PSK is kept
  std::optional<std::vector<Extension>> group_context_extensions;
  bool force_path = false;            // send an UpdatePath even when nothing requires one
  bool include_received = true;       // cover the proposals received in this epoch by reference
  Bytes authenticated_data;
};

struct CommitOutput {
  MLSMessage commit;
  std::optional<MLSMessage> welcome;  // when the commit adds members
  MLSMessage group_info;              // of the new epoch, without the tree
};

class Group {
 public:
  Group(Group&&) noexcept;
  Group& operator=(Group&&) noexcept;
  ~Group();

  // A one-member group at epoch 0 whose only leaf (0) is this member. The group id is 16 random
  // bytes unless given. The signer is written into storage.
  static Result<Group> create(Storage& storage, const Signer& signer, const Credential& credential,
                              const GroupConfig& config, Clock clock,
                              std::optional<Bytes> group_id = std::nullopt,
                              const KeyPackageOptions& leaf_options = {});

  // Joins from a Welcome addressed to one of the KeyPackages whose private keys are in storage.
  // The tree comes from the GroupInfo's ratchet_tree extension unless given here.
  static Result<Group> join(Storage& storage, const Welcome& welcome, const GroupConfig& config,
                            Clock clock,
                            const std::optional<std::vector<std::optional<Node>>>& tree = {});

  // The group stored under this id, with its own pending commit if one was stored.
  static Result<Group> load(Storage& storage, ByteView group_id, Clock clock);
  static bool stored(const Storage& storage, ByteView group_id);

  const Bytes& group_id() const;
  uint64_t epoch() const;
  const GroupContext& context() const;
  const RatchetTree& tree() const;
  const GroupConfig& config() const { return config_; }
  LeafIndex own_leaf() const;
  // False once a commit that removed this member was merged.
  bool active() const { return active_; }
  uint32_t member_count() const;
  std::vector<LeafIndex> members() const;
  const LeafNode* member(LeafIndex leaf) const;
  ByteView epoch_authenticator() const;
  Result<SecretBytes> export_secret(std::string_view label, ByteView context,
                                    size_t length) const;

  void set_clock(Clock clock) { clock_ = std::move(clock); }
  uint64_t now() const { return clock_(); }

  // Builds and holds the own pending commit; refused while one is pending.
  Result<CommitOutput> commit(const CommitOptions& options);
  bool has_pending_commit() const { return pending_.has_value(); }
  Result<void> merge_pending_commit();
  Result<void> discard_pending_commit();

  // A standalone proposal from this member, remembered so a later commit can cover it.
  Result<MLSMessage> propose(Proposal proposal, ByteView authenticated_data = {});
  // An Update proposal with a fresh leaf encryption key.
  Result<MLSMessage> propose_update(ByteView authenticated_data = {});

  Result<MLSMessage> protect_application(ByteView data, ByteView authenticated_data = {});

  // Checks and opens a PublicMessage or PrivateMessage of this group. A Commit comes back staged;
  // nothing of the epoch changes until merge_staged_commit.
  Result<ProcessedMessage> process(const MLSMessage& message);
  // Moves to the epoch of a staged commit of the current epoch. A pending own commit is dropped.
  Result<void> merge_staged_commit(StagedCommit staged);

  // Signed GroupInfo of the current epoch.
  Result<GroupInfo> group_info(bool with_tree) const;

 private:
  struct CachedProposal;
  struct PastEpoch;
  struct ResolvedProposal;
  struct Applied;

  Group();
  Result<void> persist();
  Result<void> persist_pending();
  Result<Applied> apply_proposals(const std::vector<ResolvedProposal>& list, LeafIndex committer,
                                  bool has_path) const;
  Result<SecretBytes> psk_secret_for(const std::vector<PreSharedKeyID>& ids) const;
  Result<ProcessedMessage> process_content(const AuthenticatedContent& content);
  Result<StagedCommit> stage_commit(const AuthenticatedContent& content);
  Result<MLSMessage> protect(const AuthenticatedContent& content);
  Result<void> merge(StagedCommit staged);
  Result<GroupInfo> sign_group_info(const EpochState& state, bool with_tree) const;
  Result<void> validate_leaf_in_group(const LeafNode& leaf, const RatchetTree& tree,
                                      const GroupContext& context, uint32_t leaf_index,
                                      std::optional<LeafIndex> replacing) const;

  Storage* storage_ = nullptr;
  GroupConfig config_;
  Clock clock_;
  Signer signer_;
  bool active_ = true;
  bool tree_dirty_ = false;  // the tree entry in storage is behind
  std::unique_ptr<EpochState> state_;
  std::map<Bytes, CachedProposal, BytesLess> proposals_;  // by ProposalRef
  // Leaf private keys of own Update proposals, by their public key.
  std::map<Bytes, SecretBytes, BytesLess> update_keys_;
  std::map<uint64_t, SecretBytes> resumption_psks_;  // earlier epochs only
  std::vector<PastEpoch> past_epochs_;
  std::optional<StagedCommit> pending_;
};

}  // namespace zerv::mls
