#include "mls/engine/group.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <utility>

#include "crypto/crypto.h"
#include "mls/engine/message_protection.h"
#include "mls/engine/psk.h"
#include "mls/engine/suite.h"
#include "mls/engine/transcript_hash.h"

namespace zerv::mls {
namespace {

constexpr uint8_t kStateFormat = 1;
constexpr size_t kGroupIdSize = 16;

bool listed(const std::vector<uint16_t>& list, uint16_t v) {
  return std::find(list.begin(), list.end(), v) != list.end();
}

Bytes encoded_context(const GroupContext& context) { return encode_one(context); }

SecretBytes zero_secret() { return SecretBytes(kHashSize, 0); }

void write_secret(TlsWriter& w, const SecretBytes& s) { w.opaque(s); }
SecretBytes read_secret(TlsReader& r) { return to_secret(r.opaque_view()); }

std::string epoch_text(uint64_t e) { return std::to_string(e); }

// Which proposal types force an UpdatePath into the commit that covers them.
bool requires_path(uint16_t type) {
  return type == proposal_type::kUpdate || type == proposal_type::kRemove ||
         type == proposal_type::kExternalInit || type == proposal_type::kGroupContextExtensions;
}

}  // namespace

uint64_t system_clock_now() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

// ---------------------------------------------------------------------------------------------
// Encodings of what the group keeps in storage.

void GroupConfig::encode(TlsWriter& w) const {
  w.boolean(outgoing_private);
  w.boolean(accept_public);
  w.boolean(accept_private);
  w.u32(padding_size);
  w.u32(past_epochs);
  w.u32(resumption_psks);
  w.u32(out_of_order_tolerance);
  w.u32(max_forward_distance);
  w.boolean(ratchet_tree_extension);
}

GroupConfig GroupConfig::decode(TlsReader& r) {
  GroupConfig c;
  c.outgoing_private = r.boolean();
  c.accept_public = r.boolean();
  c.accept_private = r.boolean();
  c.padding_size = r.u32();
  c.past_epochs = r.u32();
  c.resumption_psks = r.u32();
  c.out_of_order_tolerance = r.u32();
  c.max_forward_distance = r.u32();
  c.ratchet_tree_extension = r.boolean();
  return c;
}

void store_external_psk(Storage& storage, ByteView psk_id, ByteView psk) {
  storage.put(Storage::key(storage_kind::kExternalPsk, psk_id), psk);
}

static void encode_secrets(TlsWriter& w, const EpochSecrets& s) {
  for (const SecretBytes* v :
       {&s.joiner_secret, &s.welcome_secret, &s.sender_data_secret, &s.encryption_secret,
        &s.exporter_secret, &s.external_secret, &s.confirmation_key, &s.membership_key,
        &s.resumption_psk, &s.epoch_authenticator, &s.init_secret}) {
    write_secret(w, *v);
  }
}

static EpochSecrets decode_secrets(TlsReader& r) {
  EpochSecrets s;
  for (SecretBytes* v :
       {&s.joiner_secret, &s.welcome_secret, &s.sender_data_secret, &s.encryption_secret,
        &s.exporter_secret, &s.external_secret, &s.confirmation_key, &s.membership_key,
        &s.resumption_psk, &s.epoch_authenticator, &s.init_secret}) {
    *v = read_secret(r);
  }
  return s;
}

void EpochState::encode(TlsWriter& w, bool with_tree) const {
  context.encode(w);
  w.opaque(with_tree ? tree.encode() : Bytes{});
  tree_private.encode(w);
  encode_secrets(w, secrets);
  secret_tree.encode(w);
  w.opaque(interim_transcript_hash);
  w.opaque(confirmation_tag);
}

EpochState EpochState::decode(TlsReader& r) {
  EpochState s;
  s.context = GroupContext::decode(r);
  ByteView tree = r.opaque_view();
  if (r.ok() && !tree.empty()) {
    Result<RatchetTree> t = RatchetTree::decode(tree);
    if (t) {
      s.tree = std::move(*t);
    } else {
      r.fail("stored tree: " + t.error().message);
    }
  }
  s.tree_private = TreePrivate::decode(r);
  s.secrets = decode_secrets(r);
  s.secret_tree = SecretTree::decode(r);
  s.interim_transcript_hash = r.opaque();
  s.confirmation_tag = r.opaque();
  return s;
}

void StagedCommit::encode(TlsWriter& w) const {
  w.opaque(group_id);
  w.u64(from_epoch);
  w.vec([&](TlsWriter& v) {
    for (const Proposal& p : proposals) p.encode(v);
  });
  w.vec([&](TlsWriter& v) {
    for (LeafIndex l : added) v.u32(l.value);
  });
  w.boolean(removes_self);
  w.boolean(next != nullptr);
  if (next) next->encode(w);
}

StagedCommit StagedCommit::decode(TlsReader& r) {
  StagedCommit s;
  s.group_id = r.opaque();
  s.from_epoch = r.u64();
  s.proposals = decode_vec<Proposal>(r);
  r.for_each_in_vec([&](TlsReader& v) { s.added.emplace_back(v.u32()); });
  s.removes_self = r.boolean();
  if (r.boolean()) s.next = std::make_unique<EpochState>(EpochState::decode(r));
  return s;
}

StagedCommit StagedCommit::clone() const {
  StagedCommit s;
  s.group_id = group_id;
  s.from_epoch = from_epoch;
  s.proposals = proposals;
  s.added = added;
  s.removes_self = removes_self;
  if (next) s.next = std::make_unique<EpochState>(*next);
  return s;
}

// ---------------------------------------------------------------------------------------------

struct Group::CachedProposal {
  Proposal proposal;
  Sender sender;
};

struct Group::ResolvedProposal {
  Proposal proposal;
  Sender sender;
  std::optional<ProposalRef> ref;  // set when covered by reference
};

struct Group::Applied {
  RatchetTree tree;
  GroupContext context;
  std::vector<Proposal> ordered;
  std::vector<LeafIndex> added;
  std::vector<KeyPackage> added_key_packages;
  std::vector<PreSharedKeyID> psks;
  bool path_required = false;
  bool removes_self = false;
  std::optional<SecretBytes> own_leaf_key;  // this member's Update was committed
};

struct Group::PastEpoch {
  uint64_t epoch = 0;
  GroupContext context;
  SecretBytes sender_data_secret;
  SecretTree secret_tree;
  std::vector<Bytes> signature_keys;  // by leaf index, empty for blank leaves
};

Group::Group() = default;
Group::Group(Group&&) noexcept = default;
Group& Group::operator=(Group&&) noexcept = default;
Group::~Group() = default;

const Bytes& Group::group_id() const { return state_->context.group_id; }
uint64_t Group::epoch() const { return state_->context.epoch; }
const GroupContext& Group::context() const { return state_->context; }
const RatchetTree& Group::tree() const { return state_->tree; }
LeafIndex Group::own_leaf() const { return state_->tree_private.leaf(); }
uint32_t Group::member_count() const {
  return static_cast<uint32_t>(state_->tree.occupied_leaves().size());
}
std::vector<LeafIndex> Group::members() const { return state_->tree.occupied_leaves(); }
const LeafNode* Group::member(LeafIndex leaf) const { return state_->tree.leaf(leaf); }
ByteView Group::epoch_authenticator() const { return state_->secrets.epoch_authenticator; }

Result<SecretBytes> Group::export_secret(std::string_view label, ByteView context,
                                         size_t length) const {
  if (!active_) return fail("this member was removed from the group");
  return key_schedule::export_secret(state_->secrets.exporter_secret, label, context, length);
}

// ---------------------------------------------------------------------------------------------
// Creation.

Result<Group> Group::create(Storage& storage, const Signer& signer, const Credential& credential,
                            const GroupConfig& config, Clock clock, std::optional<Bytes> group_id,
                            const KeyPackageOptions& leaf_options) {
  if (!clock) clock = system_clock_now;
  Group g;
  g.storage_ = &storage;
  g.config_ = config;
  g.clock_ = std::move(clock);
  g.signer_ = Signer{signer.private_key, signer.public_key};
  Bytes id = group_id ? std::move(*group_id) : crypto::random_bytes(kGroupIdSize);

  suite::HpkeKeyPair leaf_keys = suite::generate_key_pair();
  LeafNode leaf;
  leaf.encryption_key = leaf_keys.public_key;
  leaf.signature_key = signer.public_key;
  leaf.credential = credential;
  leaf.capabilities = leaf_options.capabilities.value_or(default_capabilities());
  leaf.source = leaf_options.lifetime.value_or(default_lifetime(g.clock_()));
  leaf.extensions = leaf_options.leaf_extensions;
  Result<Bytes> sig =
      suite::sign_with_label(signer.private_key, "LeafNodeTBS", leaf.to_be_signed({}, 0));
  if (!sig) return fail("leaf signature: ", sig.error());
  leaf.signature = std::move(*sig);

  auto state = std::make_unique<EpochState>();
  state->tree = RatchetTree(std::move(leaf));
  Result<TreePrivate> priv = TreePrivate::create(LeafIndex(0), std::move(leaf_keys.private_key));
  if (!priv) return fail("own leaf key: ", priv.error());
  state->tree_private = std::move(*priv);
  GroupContext& ctx = state->context;
  ctx.version = kProtocolVersion;
  ctx.cipher_suite = kCipherSuite;
  ctx.group_id = std::move(id);
  ctx.epoch = 0;
  ctx.tree_hash = state->tree.tree_hash();
  // A random init secret stands for the random first epoch secret; it leaves no other choice.
  SecretBytes init = crypto::random_secret(kHashSize);
  state->secrets = key_schedule::advance(init, zero_secret(), zero_secret(), encoded_context(ctx));
  state->confirmation_tag = key_schedule::confirmation_tag(state->secrets.confirmation_key, {});
  state->interim_transcript_hash = interim_transcript_hash({}, state->confirmation_tag);
  state->secret_tree = SecretTree(state->secrets.encryption_secret, state->tree.leaf_count(),
                                  config.out_of_order_tolerance, config.max_forward_distance);
  g.state_ = std::move(state);
  g.tree_dirty_ = true;
  signer.store(storage);
  if (Result<void> ok = g.persist(); !ok) return std::unexpected(ok.error());
  return g;
}

// ---------------------------------------------------------------------------------------------
// Joining.

Result<Group> Group::join(Storage& storage, const Welcome& welcome, const GroupConfig& config,
                          Clock clock, const std::optional<std::vector<std::optional<Node>>>& tree) {
  if (!clock) clock = system_clock_now;
  if (welcome.cipher_suite != kCipherSuite) return fail("welcome for an unsupported cipher suite");

  // The entry addressed to one of our key packages.
  const EncryptedGroupSecrets* entry = nullptr;
  Result<KeyPackagePrivate> kp = fail("welcome names none of this member's key packages");
  for (const EncryptedGroupSecrets& s : welcome.secrets) {
    Result<KeyPackagePrivate> found = load_key_package_private(storage, s.new_member);
    if (found) {
      kp = std::move(found);
      entry = &s;
      break;
    }
  }
  if (!entry) return std::unexpected(kp.error());
  if (kp->key_package.cipher_suite != welcome.cipher_suite) {
    return fail("welcome cipher suite differs from the key package's");
  }

  Result<OpenedWelcome> opened = open_welcome(storage, welcome, *entry, kp->init_private);
  if (!opened) return std::unexpected(opened.error());
  const GroupInfo& info = opened->group_info;
  const GroupContext& ctx = info.group_context;
  if (ctx.version != kProtocolVersion || ctx.cipher_suite != kp->key_package.cipher_suite) {
    return fail("group info version or cipher suite differs from the key package's");
  }

  // The group's extensions must all be understood here.
  const Capabilities& own_caps = kp->key_package.leaf_node.capabilities;
  for (const Extension& ext : ctx.extensions) {
    if (!is_default_extension_type(ext.extension_type) &&
        !listed(own_caps.extensions, ext.extension_type)) {
      return fail("group uses extension type " + std::to_string(ext.extension_type) +
                  " which this member does not support");
    }
  }
  if (Result<std::optional<RequiredCapabilities>> rc =
          get_extension<RequiredCapabilities>(ctx.extensions);
      !rc) {
    return std::unexpected(rc.error());
  }
  if (Result<std::optional<ExternalSenders>> es = get_extension<ExternalSenders>(ctx.extensions);
      !es) {
    return std::unexpected(es.error());
  }

  // The tree: given out of band, or carried in the GroupInfo.
  std::vector<std::optional<Node>> nodes;
  if (tree) {
    nodes = *tree;
  } else {
    Result<std::optional<RatchetTreeExtension>> ext =
        get_extension<RatchetTreeExtension>(info.extensions);
    if (!ext) return std::unexpected(ext.error());
    if (!*ext) return fail("no ratchet tree: the welcome carries none and none was given");
    nodes = std::move((*ext)->nodes);
  }
  Result<RatchetTree> public_tree = RatchetTree::from_nodes(std::move(nodes));
  if (!public_tree) return fail("ratchet tree: ", public_tree.error());
  uint64_t now = clock();
  if (Result<void> ok = public_tree->validate(TreeCheck{ctx.group_id, ctx.tree_hash, now}); !ok) {
    return fail("ratchet tree: ", ok.error());
  }

  const LeafNode* signer_leaf = public_tree->leaf(LeafIndex(info.signer));
  if (!signer_leaf) return fail("group info signer is not a member");
  if (!verify_group_info(info, signer_leaf->signature_key)) {
    return fail("bad group info signature");
  }

  std::optional<LeafIndex> mine;
  for (LeafIndex l : public_tree->occupied_leaves()) {
    if (*public_tree->leaf(l) == kp->key_package.leaf_node) {
      mine = l;
      break;
    }
  }
  if (!mine) return fail("own leaf not found in the ratchet tree");
  if (mine->value == info.signer) return fail("group info signed by the joining member's leaf");

  Group g;
  g.storage_ = &storage;
  g.config_ = config;
  g.clock_ = std::move(clock);
  Result<Signer> signer = Signer::load(storage, kp->key_package.leaf_node.signature_key);
  if (!signer) return std::unexpected(signer.error());
  g.signer_ = std::move(*signer);

  auto state = std::make_unique<EpochState>();
  state->tree = std::move(*public_tree);
  Result<TreePrivate> priv = TreePrivate::create(*mine, kp->encryption_private);
  if (!priv) return fail("own leaf key: ", priv.error());
  state->tree_private = std::move(*priv);
  if (opened->group_secrets.path_secret) {
    NodeIndex ancestor =
        tree_math::common_ancestor(NodeIndex(*mine), NodeIndex(LeafIndex(info.signer)));
    Result<SecretBytes> implanted = state->tree_private.implant(
        state->tree, ancestor, opened->group_secrets.path_secret->path_secret);
    if (!implanted) return fail("path secret: ", implanted.error());
  }
  if (Result<void> ok = state->tree_private.check(state->tree); !ok) {
    return fail("own keys: ", ok.error());
  }
  state->context = ctx;
  state->secrets = std::move(opened->secrets);
  if (!key_schedule::verify_confirmation_tag(state->secrets.confirmation_key,
                                             ctx.confirmed_transcript_hash,
                                             info.confirmation_tag)) {
    return fail("bad confirmation tag in group info");
  }
  state->confirmation_tag = info.confirmation_tag;
  state->interim_transcript_hash =
      interim_transcript_hash(ctx.confirmed_transcript_hash, info.confirmation_tag);
  state->secret_tree = SecretTree(state->secrets.encryption_secret, state->tree.leaf_count(),
                                  config.out_of_order_tolerance, config.max_forward_distance);
  g.state_ = std::move(state);
  g.tree_dirty_ = true;
  if (Result<void> ok = g.persist(); !ok) return std::unexpected(ok.error());
  return g;
}

Result<OpenedWelcome> open_welcome(const Storage& storage, const Welcome& welcome,
                                   const EncryptedGroupSecrets& entry, ByteView init_private) {
  Result<Bytes> plain = suite::decrypt_with_label(
      init_private, "Welcome", welcome.encrypted_group_info,
      entry.encrypted_group_secrets.kem_output, entry.encrypted_group_secrets.ciphertext);
  if (!plain) return fail("cannot decrypt group secrets");
  Result<GroupSecrets> secrets = decode_all<GroupSecrets>(*plain);
  secure_wipe(plain->data(), plain->size());
  if (!secrets) return fail("malformed group secrets: ", secrets.error());

  std::vector<Bytes> encoded_ids;
  std::vector<SecretBytes> values;
  for (const PreSharedKeyID& id : secrets->psks) {
    if (id.psk_nonce.size() != kHashSize) return fail("psk nonce of the wrong length");
    const auto* ext = std::get_if<ExternalPskId>(&id.psk);
    if (!ext) return fail("resumption PSKs are not available to a joining member");
    std::optional<SecretBytes> psk =
        storage.get(Storage::key(storage_kind::kExternalPsk, ext->psk_id));
    if (!psk) return fail("unknown external PSK");
    encoded_ids.push_back(encode_one(id));
    values.push_back(std::move(*psk));
  }
  std::vector<PskInput> inputs;
  for (size_t i = 0; i < values.size(); ++i) inputs.push_back({encoded_ids[i], values[i]});
  Result<SecretBytes> psk = psk_secret(inputs);
  if (!psk) return std::unexpected(psk.error());

  SecretBytes welcome_secret = key_schedule::welcome_secret(secrets->joiner_secret, *psk);
  key_schedule::WelcomeKey wk = key_schedule::welcome_key(welcome_secret);
  Result<Bytes> info_bytes = suite::aead_open(wk.key, wk.nonce, {}, welcome.encrypted_group_info);
  if (!info_bytes) return fail("cannot decrypt group info");
  Result<GroupInfo> info = decode_all<GroupInfo>(*info_bytes);
  if (!info) return fail("malformed group info: ", info.error());

  OpenedWelcome out;
  out.secrets = key_schedule::from_joiner(secrets->joiner_secret, *psk,
                                          encoded_context(info->group_context));
  out.group_secrets = std::move(*secrets);
  out.group_info = std::move(*info);
  return out;
}

bool verify_group_info(const GroupInfo& info, ByteView signature_key) {
  return suite::verify_with_label(signature_key, "GroupInfoTBS", info.to_be_signed(),
                                  info.signature);
}

// ---------------------------------------------------------------------------------------------
// Persistence.

bool Group::stored(const Storage& storage, ByteView group_id) {
  return storage.contains(Storage::key(storage_kind::kGroup, group_id));
}

Result<void> Group::persist() {
  TlsWriter w;
  w.u8(kStateFormat);
  config_.encode(w);
  w.opaque(signer_.public_key);
  w.boolean(active_);
  // The tree is large and changes only with the epoch: it has an entry of its own, written only
  // when it changed, so ratchet progress costs no tree encoding.
  state_->encode(w, false);
  w.vec([&](TlsWriter& v) {
    for (const auto& [ref, cached] : proposals_) {
      v.opaque(ref);
      cached.sender.encode(v);
      cached.proposal.encode(v);
    }
  });
  w.vec([&](TlsWriter& v) {
    for (const auto& [pub, priv] : update_keys_) {
      v.opaque(pub);
      v.opaque(priv);
    }
  });
  w.vec([&](TlsWriter& v) {
    for (const auto& [e, psk] : resumption_psks_) {
      v.u64(e);
      v.opaque(psk);
    }
  });
  w.vec([&](TlsWriter& v) {
    for (const PastEpoch& p : past_epochs_) {
      v.u64(p.epoch);
      p.context.encode(v);
      v.opaque(p.sender_data_secret);
      p.secret_tree.encode(v);
      encode_opaque_vec(v, p.signature_keys);
    }
  });
  Bytes raw = w.take();
  storage_->put(Storage::key(storage_kind::kGroup, group_id()), raw);
  secure_wipe(raw.data(), raw.size());
  if (tree_dirty_) {
    storage_->put(Storage::key(storage_kind::kGroupTree, group_id()), state_->tree.encode());
    tree_dirty_ = false;
  }
  return {};
}

Result<void> Group::persist_pending() {
  Bytes key = Storage::key(storage_kind::kPendingCommit, group_id());
  if (!pending_) {
    storage_->erase(key);
    return {};
  }
  Bytes raw = encode_one(*pending_);
  storage_->put(key, raw);
  secure_wipe(raw.data(), raw.size());
  return {};
}

Result<Group> Group::load(Storage& storage, ByteView group_id, Clock clock) {
  if (!clock) clock = system_clock_now;
  std::optional<SecretBytes> raw = storage.get(Storage::key(storage_kind::kGroup, group_id));
  if (!raw) return fail("no group stored with this id");
  Group g;
  g.storage_ = &storage;
  g.clock_ = std::move(clock);
  TlsReader r(*raw);
  if (r.u8() != kStateFormat) return fail("stored group in an unknown format");
  g.config_ = GroupConfig::decode(r);
  Bytes signer_pub = r.opaque();
  g.active_ = r.boolean();
  g.state_ = std::make_unique<EpochState>(EpochState::decode(r));
  r.for_each_in_vec([&](TlsReader& v) {
    Bytes ref = v.opaque();
    Sender sender = Sender::decode(v);
    Proposal p = Proposal::decode(v);
    if (v.ok()) g.proposals_.emplace(std::move(ref), CachedProposal{std::move(p), sender});
  });
  r.for_each_in_vec([&](TlsReader& v) {
    Bytes pub = v.opaque();
    SecretBytes priv = read_secret(v);
    g.update_keys_.emplace(std::move(pub), std::move(priv));
  });
  r.for_each_in_vec([&](TlsReader& v) {
    uint64_t e = v.u64();
    g.resumption_psks_[e] = read_secret(v);
  });
  r.for_each_in_vec([&](TlsReader& v) {
    PastEpoch p;
    p.epoch = v.u64();
    p.context = GroupContext::decode(v);
    p.sender_data_secret = read_secret(v);
    p.secret_tree = SecretTree::decode(v);
    p.signature_keys = decode_opaque_vec(v);
    g.past_epochs_.push_back(std::move(p));
  });
  if (!r.finish()) return fail("stored group: " + r.error());
  if (!std::ranges::equal(g.state_->context.group_id, group_id)) {
    return fail("stored group has another id");
  }
  std::optional<SecretBytes> tree = storage.get(Storage::key(storage_kind::kGroupTree, group_id));
  if (!tree) return fail("stored group has no tree");
  Result<RatchetTree> public_tree = RatchetTree::decode(*tree);
  if (!public_tree) return fail("stored tree: ", public_tree.error());
  g.state_->tree = std::move(*public_tree);
  // A stored state is only as trustworthy as the blob it came from: check it hangs together.
  if (g.state_->tree.leaf_count() == 0) return fail("stored group: empty tree");
  // A member that was removed keeps the public state only.
  if (g.active_) {
    if (g.state_->secret_tree.n_leaves() != g.state_->tree.leaf_count()) {
      return fail("stored group: secret tree does not match the tree");
    }
    if (Result<void> ok = g.state_->tree_private.check(g.state_->tree); !ok) {
      return fail("stored group: ", ok.error());
    }
  }
  Result<Signer> signer = Signer::load(storage, signer_pub);
  if (!signer) return std::unexpected(signer.error());
  g.signer_ = std::move(*signer);

  if (std::optional<SecretBytes> pending =
          storage.get(Storage::key(storage_kind::kPendingCommit, group_id))) {
    Result<StagedCommit> staged = decode_all<StagedCommit>(*pending);
    if (!staged) return fail("stored pending commit: ", staged.error());
    const EpochState* next = staged->next.get();
    if (!next || staged->from_epoch != g.epoch() || staged->group_id != g.group_id() ||
        next->tree.leaf_count() == 0 || next->secret_tree.n_leaves() != next->tree.leaf_count() ||
        !next->tree_private.check(next->tree)) {
      return fail("stored pending commit does not fit the group");
    }
    g.pending_ = std::move(*staged);
  }
  return g;
}

// ---------------------------------------------------------------------------------------------
// Validation of leaves and proposal lists.

Result<void> Group::validate_leaf_in_group(const LeafNode& leaf, const RatchetTree& tree,
                                           const GroupContext& context, uint32_t leaf_index,
                                           std::optional<LeafIndex> replacing) const {
  if (Result<void> ok = validate_leaf_node_alone(leaf, context.group_id, leaf_index, now()); !ok) {
    return ok;
  }
  const Capabilities& caps = leaf.capabilities;
  if (!listed(caps.versions, context.version) || !listed(caps.cipher_suites, context.cipher_suite)) {
    return fail("leaf does not support the group's version and cipher suite");
  }
  Result<std::optional<RequiredCapabilities>> required =
      get_extension<RequiredCapabilities>(context.extensions);
  if (!required) return std::unexpected(required.error());
  if (*required) {
    for (uint16_t t : (*required)->extension_types) {
      if (!is_default_extension_type(t) && !listed(caps.extensions, t)) {
        return fail("leaf lacks a required extension type");
      }
    }
    for (uint16_t t : (*required)->proposal_types) {
      if (!is_default_proposal_type(t) && !listed(caps.proposals, t)) {
        return fail("leaf lacks a required proposal type");
      }
    }
    for (uint16_t t : (*required)->credential_types) {
      if (!listed(caps.credentials, t)) return fail("leaf lacks a required credential type");
    }
  }
  for (const Extension& ext : context.extensions) {
    if (!is_default_extension_type(ext.extension_type) &&
        !listed(caps.extensions, ext.extension_type)) {
      return fail("leaf does not support the group's extensions");
    }
  }
  for (LeafIndex l : tree.occupied_leaves()) {
    if (replacing && l == *replacing) continue;
    const LeafNode* other = tree.leaf(l);
    if (!listed(other->capabilities.credentials, leaf.credential.type())) {
      return fail("a member does not support the leaf's credential type");
    }
    if (!listed(caps.credentials, other->credential.type())) {
      return fail("leaf does not support a member's credential type");
    }
  }
  if (tree.has_signature_key(leaf.signature_key, replacing)) {
    return fail("signature key already used in the group");
  }
  std::optional<NodeIndex> except;
  if (replacing) except = NodeIndex(*replacing);
  if (tree.has_encryption_key(leaf.encryption_key, except)) {
    return fail("encryption key already used in the group");
  }
  return {};
}

Result<Group::Applied> Group::apply_proposals(const std::vector<ResolvedProposal>& list,
                                              LeafIndex committer, bool /*has_path*/) const {
  const EpochState& cur = *state_;
  Applied a;
  a.context = cur.context;

  const GroupContextExtensions* gce = nullptr;
  std::vector<std::pair<LeafIndex, const LeafNode*>> updates;
  std::vector<LeafIndex> removes;
  std::vector<const KeyPackage*> adds;
  std::set<uint32_t> touched;
  std::set<Bytes> psk_ids;
  std::set<Bytes> add_keys;
  a.path_required = list.empty();

  for (const ResolvedProposal& rp : list) {
    uint16_t type = rp.proposal.type();
    if (requires_path(type)) a.path_required = true;
    std::optional<uint32_t> sender = rp.sender.leaf_index();
    if (!sender && type != proposal_type::kAdd) {
      return fail("proposal of type " + std::to_string(type) + " from a non-member");
    }
    switch (type) {
      case proposal_type::kAdd: {
        const KeyPackage& kp = std::get<Add>(rp.proposal.content).key_package;
        if (Result<void> ok = validate_key_package(kp, now()); !ok) {
          return fail("add: ", ok.error());
        }
        if (kp.version != cur.context.version || kp.cipher_suite != cur.context.cipher_suite) {
          return fail("add: key package does not match the group's version and suite");
        }
        if (!add_keys.insert(kp.leaf_node.signature_key).second) {
          return fail("two adds of the same client");
        }
        adds.push_back(&kp);
        break;
      }
      case proposal_type::kUpdate: {
        LeafIndex from(*sender);
        if (from == committer) return fail("commit covers an update from the committer");
        if (!touched.insert(from.value).second) return fail("two changes to the same leaf");
        if (!cur.tree.leaf(from)) return fail("update from a blank leaf");
        updates.emplace_back(from, &std::get<Update>(rp.proposal.content).leaf_node);
        break;
      }
      case proposal_type::kRemove: {
        LeafIndex removed(std::get<Remove>(rp.proposal.content).removed);
        if (!cur.tree.leaf(removed)) return fail("remove of a blank or missing leaf");
        if (removed == committer) return fail("commit removes the committer");
        if (!touched.insert(removed.value).second) return fail("two changes to the same leaf");
        removes.push_back(removed);
        break;
      }
      case proposal_type::kPsk: {
        const PreSharedKeyID& id = std::get<PreSharedKey>(rp.proposal.content).psk;
        if (id.psk_nonce.size() != kHashSize) return fail("psk nonce of the wrong length");
        if (const auto* res = std::get_if<ResumptionPskId>(&id.psk);
            res && res->usage != resumption_psk_usage::kApplication) {
          return fail("resumption PSK for reinit or branch outside those operations");
        }
        if (!psk_ids.insert(encode_one(id)).second) return fail("the same PSK twice");
        a.psks.push_back(id);
        break;
      }
      case proposal_type::kReInit:
        return fail("ReInit proposals are not supported");
      case proposal_type::kExternalInit:
        return fail("ExternalInit outside an external commit");
      case proposal_type::kGroupContextExtensions:
        if (gce) return fail("more than one GroupContextExtensions proposal");
        gce = &std::get<GroupContextExtensions>(rp.proposal.content);
        break;
      default:
        return fail("unsupported proposal type " + std::to_string(type));
    }
  }

  // Applied in the fixed order: extensions, updates, removes, adds.
  a.tree = cur.tree;
  if (gce) {
    if (has_duplicate_extensions(gce->extensions)) return fail("duplicate group extension");
    for (const Extension& ext : gce->extensions) {
      if (ext.extension_type == extension_type::kRatchetTree) {
        return fail("ratchet_tree is not a group context extension");
      }
    }
    if (Result<std::optional<RequiredCapabilities>> rc =
            get_extension<RequiredCapabilities>(gce->extensions);
        !rc) {
      return std::unexpected(rc.error());
    }
    if (Result<std::optional<ExternalSenders>> es = get_extension<ExternalSenders>(gce->extensions);
        !es) {
      return std::unexpected(es.error());
    }
    a.context.extensions = gce->extensions;
    a.ordered.push_back(Proposal{*gce});
  }
  for (const auto& [from, leaf] : updates) {
    if (leaf->source_type() != leaf_node_source::kUpdate) {
      return fail("update leaf source is not update");
    }
    if (leaf->encryption_key == cur.tree.leaf(from)->encryption_key) {
      return fail("update keeps the old encryption key");
    }
    if (Result<void> ok = validate_leaf_in_group(*leaf, a.tree, a.context, from.value, from); !ok) {
      return fail("update: ", ok.error());
    }
    if (Result<void> ok = a.tree.update_leaf(from, *leaf); !ok) return std::unexpected(ok.error());
    if (from == own_leaf()) {
      auto key = update_keys_.find(leaf->encryption_key);
      if (key == update_keys_.end()) return fail("own update with an unknown key");
      a.own_leaf_key = key->second;
    }
    a.ordered.push_back(Proposal{Update{*leaf}});
  }
  for (LeafIndex removed : removes) {
    if (Result<void> ok = a.tree.remove_leaf(removed); !ok) return std::unexpected(ok.error());
    if (removed == own_leaf()) a.removes_self = true;
    a.ordered.push_back(Proposal{Remove{removed.value}});
  }
  for (const KeyPackage* kp : adds) {
    if (Result<void> ok = validate_leaf_in_group(kp->leaf_node, a.tree, a.context, 0, {}); !ok) {
      return fail("add: ", ok.error());
    }
    a.added.push_back(a.tree.add_leaf(kp->leaf_node));
    a.added_key_packages.push_back(*kp);
    a.ordered.push_back(Proposal{Add{*kp}});
  }
  for (const PreSharedKeyID& id : a.psks) a.ordered.push_back(Proposal{PreSharedKey{id}});

  // New group extensions must suit every member of the next epoch.
  if (gce) {
    for (LeafIndex l : a.tree.occupied_leaves()) {
      const LeafNode* leaf = a.tree.leaf(l);
      for (const Extension& ext : a.context.extensions) {
        if (!is_default_extension_type(ext.extension_type) &&
            !listed(leaf->capabilities.extensions, ext.extension_type)) {
          return fail("a member does not support a new group extension");
        }
      }
      Result<std::optional<RequiredCapabilities>> rc =
          get_extension<RequiredCapabilities>(a.context.extensions);
      if (*rc) {
        for (uint16_t t : (*rc)->extension_types) {
          if (!is_default_extension_type(t) && !listed(leaf->capabilities.extensions, t)) {
            return fail("a member lacks a newly required extension type");
          }
        }
        for (uint16_t t : (*rc)->proposal_types) {
          if (!is_default_proposal_type(t) && !listed(leaf->capabilities.proposals, t)) {
            return fail("a member lacks a newly required proposal type");
          }
        }
        for (uint16_t t : (*rc)->credential_types) {
          if (!listed(leaf->capabilities.credentials, t)) {
            return fail("a member lacks a newly required credential type");
          }
        }
      }
    }
  }
  return a;
}

Result<SecretBytes> Group::psk_secret_for(const std::vector<PreSharedKeyID>& ids) const {
  std::vector<Bytes> encoded;
  std::vector<SecretBytes> values;
  for (const PreSharedKeyID& id : ids) {
    if (const auto* ext = std::get_if<ExternalPskId>(&id.psk)) {
      std::optional<SecretBytes> psk =
          storage_->get(Storage::key(storage_kind::kExternalPsk, ext->psk_id));
      if (!psk) return fail("unknown external PSK");
      values.push_back(std::move(*psk));
    } else {
      const auto& res = std::get<ResumptionPskId>(id.psk);
      if (res.psk_group_id != group_id()) return fail("resumption PSK of another group");
      if (res.psk_epoch == epoch()) {
        values.push_back(state_->secrets.resumption_psk);
      } else {
        auto it = resumption_psks_.find(res.psk_epoch);
        if (it == resumption_psks_.end()) {
          return fail("resumption PSK of epoch " + epoch_text(res.psk_epoch) + " is not kept");
        }
        values.push_back(it->second);
      }
    }
    encoded.push_back(encode_one(id));
  }
  std::vector<PskInput> inputs;
  for (size_t i = 0; i < values.size(); ++i) inputs.push_back({encoded[i], values[i]});
  return psk_secret(inputs);
}

// ---------------------------------------------------------------------------------------------
// Processing received messages.

Result<ProcessedMessage> Group::process(const MLSMessage& message) {
  if (!active_) return fail("this member was removed from the group");
  if (message.version != kProtocolVersion) return fail("unsupported protocol version");
  const EpochState& cur = *state_;
  auto lookup_in = [](const RatchetTree& tree) {
    return [&tree](const FramedContent& fc) -> std::optional<Bytes> {
      if (std::optional<uint32_t> leaf = fc.sender.leaf_index()) {
        if (const LeafNode* node = tree.leaf(LeafIndex(*leaf))) return node->signature_key;
        return std::nullopt;
      }
      // A new member proposing its own addition signs with the key of the leaf it proposes.
      if (std::holds_alternative<NewMemberProposalSender>(fc.sender.content)) {
        if (const auto* p = std::get_if<Proposal>(&fc.body)) {
          if (const auto* add = std::get_if<Add>(&p->content)) {
            return add->key_package.leaf_node.signature_key;
          }
        }
      }
      return std::nullopt;
    };
  };

  if (const auto* pub = std::get_if<PublicMessage>(&message.content)) {
    if (pub->content.group_id != group_id()) return fail("message for another group");
    if (pub->content.epoch != epoch()) {
      return fail("message for epoch " + epoch_text(pub->content.epoch) + ", group is at epoch " +
                  epoch_text(epoch()));
    }
    if (!config_.accept_public) return fail("handshake messages must be sent as PrivateMessage");
    const uint8_t st = pub->content.sender.type();
    if (st == sender_type::kExternal) return fail("external senders are not supported");
    if (st == sender_type::kNewMemberCommit) return fail("external commits are not supported");
    Result<AuthenticatedContent> content =
        unprotect_public(*pub, cur.context, cur.secrets.membership_key, lookup_in(cur.tree));
    if (!content) return std::unexpected(content.error());
    return process_content(*content);
  }
  if (const auto* priv = std::get_if<PrivateMessage>(&message.content)) {
    if (priv->group_id != group_id()) return fail("message for another group");
    if (priv->epoch != epoch()) {
      // Late application data from an epoch still kept.
      if (priv->content_type == content_type::kApplication) {
        for (PastEpoch& past : past_epochs_) {
          if (past.epoch != priv->epoch) continue;
          auto lookup = [&past](const FramedContent& fc) -> std::optional<Bytes> {
            std::optional<uint32_t> leaf = fc.sender.leaf_index();
            if (!leaf || *leaf >= past.signature_keys.size() ||
                past.signature_keys[*leaf].empty()) {
              return std::nullopt;
            }
            return past.signature_keys[*leaf];
          };
          Result<AuthenticatedContent> content = unprotect_private(
              *priv, past.context, past.secret_tree, past.sender_data_secret, lookup);
          if (!content) return std::unexpected(content.error());
          persist();
          ProcessedMessage out;
          out.kind = ProcessedMessage::Kind::kApplication;
          out.sender = content->content.sender;
          out.authenticated_data = content->content.authenticated_data;
          out.application_data = to_secret(std::get<Bytes>(content->content.body));
          return out;
        }
      }
      return fail("message for epoch " + epoch_text(priv->epoch) + ", group is at epoch " +
                  epoch_text(epoch()));
    }
    if (priv->content_type != content_type::kApplication && !config_.accept_private) {
      return fail("handshake messages must be sent as PublicMessage");
    }
    Result<AuthenticatedContent> content =
        unprotect_private(*priv, cur.context, state_->secret_tree, cur.secrets.sender_data_secret,
                          lookup_in(cur.tree));
    // The ratchet moved even when the content is refused later on: keep that progress.
    if (!content) return std::unexpected(content.error());
    Result<ProcessedMessage> out = process_content(*content);
    persist();
    return out;
  }
  return fail("not a PublicMessage or PrivateMessage");
}

Result<ProcessedMessage> Group::process_content(const AuthenticatedContent& content) {
  ProcessedMessage out;
  out.sender = content.content.sender;
  out.authenticated_data = content.content.authenticated_data;
  std::optional<uint32_t> sender_leaf = content.content.sender.leaf_index();
  if (sender_leaf && *sender_leaf == own_leaf().value) {
    return fail("message sent by this member");
  }

  if (const auto* data = std::get_if<Bytes>(&content.content.body)) {
    out.kind = ProcessedMessage::Kind::kApplication;
    out.application_data = to_secret(*data);
    return out;
  }
  if (const auto* proposal = std::get_if<Proposal>(&content.content.body)) {
    const uint16_t type = proposal->type();
    const bool new_member =
        std::holds_alternative<NewMemberProposalSender>(content.content.sender.content);
    if (new_member && type != proposal_type::kAdd) {
      return fail("a new member may only propose its own addition");
    }
    // Checks that need no other proposal; the list as a whole is checked when committed.
    switch (type) {
      case proposal_type::kAdd: {
        const KeyPackage& kp = std::get<Add>(proposal->content).key_package;
        if (Result<void> ok = validate_key_package(kp, now()); !ok) {
          return fail("add: ", ok.error());
        }
        break;
      }
      case proposal_type::kUpdate: {
        const LeafNode& leaf = std::get<Update>(proposal->content).leaf_node;
        if (leaf.source_type() != leaf_node_source::kUpdate) {
          return fail("update leaf source is not update");
        }
        if (Result<void> ok = validate_leaf_node_alone(leaf, group_id(), *sender_leaf, now());
            !ok) {
          return fail("update: ", ok.error());
        }
        break;
      }
      case proposal_type::kRemove:
        if (!state_->tree.leaf(LeafIndex(std::get<Remove>(proposal->content).removed))) {
          return fail("remove of a blank or missing leaf");
        }
        break;
      case proposal_type::kReInit:
        return fail("ReInit proposals are not supported");
      case proposal_type::kExternalInit:
        return fail("ExternalInit outside an external commit");
      default:
        break;
    }
    Bytes ref = suite::ref_hash("MLS 1.0 Proposal Reference", encode_one(content));
    proposals_.insert_or_assign(std::move(ref), CachedProposal{*proposal, content.content.sender});
    if (Result<void> ok = persist(); !ok) return std::unexpected(ok.error());
    out.kind = new_member ? ProcessedMessage::Kind::kExternalJoinProposal
                          : ProcessedMessage::Kind::kProposal;
    out.proposal = *proposal;
    return out;
  }
  Result<StagedCommit> staged = stage_commit(content);
  if (!staged) return std::unexpected(staged.error());
  out.kind = ProcessedMessage::Kind::kCommit;
  out.commit = std::move(*staged);
  return out;
}

Result<StagedCommit> Group::stage_commit(const AuthenticatedContent& content) {
  const EpochState& cur = *state_;
  const Commit& commit = std::get<Commit>(content.content.body);
  std::optional<uint32_t> sender = content.content.sender.leaf_index();
  if (!sender) return fail("commits from non-members are not supported");
  LeafIndex committer(*sender);

  std::vector<ResolvedProposal> list;
  for (const ProposalOrRef& por : commit.proposals) {
    if (const Proposal* p = por.proposal()) {
      list.push_back({*p, content.content.sender, std::nullopt});
    } else {
      auto it = proposals_.find(*por.reference());
      if (it == proposals_.end()) return fail("commit refers to an unknown proposal");
      list.push_back({it->second.proposal, it->second.sender, *por.reference()});
    }
  }
  Result<Applied> applied = apply_proposals(list, committer, commit.path.has_value());
  if (!applied) return std::unexpected(applied.error());
  if (applied->path_required && !commit.path) return fail("commit lacks a required path");

  StagedCommit staged;
  staged.group_id = group_id();
  staged.from_epoch = epoch();
  staged.proposals = std::move(applied->ordered);
  staged.added = applied->added;
  staged.removes_self = applied->removes_self;

  auto next = std::make_unique<EpochState>();
  next->tree = std::move(applied->tree);
  GroupContext& ctx = next->context;
  ctx = std::move(applied->context);
  ctx.epoch = cur.context.epoch + 1;

  SecretBytes commit_secret = zero_secret();
  if (commit.path) {
    const LeafNode& leaf = commit.path->leaf_node;
    if (leaf.source_type() != leaf_node_source::kCommit) {
      return fail("path leaf source is not commit");
    }
    const LeafNode* old_leaf = next->tree.leaf(committer);
    if (old_leaf && old_leaf->encryption_key == leaf.encryption_key) {
      return fail("path keeps the committer's encryption key");
    }
    if (Result<void> ok =
            validate_leaf_in_group(leaf, next->tree, ctx, committer.value, committer);
        !ok) {
      return fail("path leaf: ", ok.error());
    }
    if (Result<void> ok = next->tree.merge_update_path(committer, *commit.path); !ok) {
      return fail("path: ", ok.error());
    }
  }
  ctx.tree_hash = next->tree.tree_hash();

  if (!applied->removes_self) {
    next->tree_private = cur.tree_private;
    if (applied->own_leaf_key) {
      if (Result<void> ok = next->tree_private.set_leaf_private_key(*applied->own_leaf_key); !ok) {
        return std::unexpected(ok.error());
      }
    }
    next->tree_private.prune(next->tree);
    if (commit.path) {
      Result<TreePrivate::Decrypted> dec = next->tree_private.decrypt_update_path(
          next->tree, committer, *commit.path, encoded_context(ctx), applied->added);
      if (!dec) return fail("path: ", dec.error());
      commit_secret = std::move(dec->commit_secret);
    }
  }

  ctx.confirmed_transcript_hash = confirmed_transcript_hash(
      cur.interim_transcript_hash, confirmed_transcript_hash_input(content));
  Result<SecretBytes> psk = psk_secret_for(applied->psks);
  if (!psk) return std::unexpected(psk.error());

  if (applied->removes_self) {
    // A removed member learns no secret of the next epoch; it only keeps the new public state.
    staged.next = std::move(next);
    return staged;
  }
  next->secrets = key_schedule::advance(cur.secrets.init_secret, commit_secret, *psk,
                                        encoded_context(ctx));
  if (!key_schedule::verify_confirmation_tag(next->secrets.confirmation_key,
                                             ctx.confirmed_transcript_hash,
                                             content.auth.confirmation_tag)) {
    return fail("bad confirmation tag");
  }
  next->confirmation_tag = content.auth.confirmation_tag;
  next->interim_transcript_hash =
      interim_transcript_hash(ctx.confirmed_transcript_hash, next->confirmation_tag);
  next->secret_tree = SecretTree(next->secrets.encryption_secret, next->tree.leaf_count(),
                                 config_.out_of_order_tolerance, config_.max_forward_distance);
  staged.next = std::move(next);
  return staged;
}

Result<void> Group::merge_staged_commit(StagedCommit staged) {
  if (!active_) return fail("this member was removed from the group");
  if (staged.group_id != group_id() || staged.from_epoch != epoch()) {
    return fail("staged commit is not for the current epoch");
  }
  return merge(std::move(staged));
}

Result<void> Group::merge(StagedCommit staged) {
  if (!staged.next) return fail("staged commit holds no next epoch");
  EpochState& cur = *state_;
  if (config_.resumption_psks > 0) {
    resumption_psks_[cur.context.epoch] = cur.secrets.resumption_psk;
    while (resumption_psks_.size() > config_.resumption_psks) {
      resumption_psks_.erase(resumption_psks_.begin());
    }
  }
  if (config_.past_epochs > 0) {
    PastEpoch past;
    past.epoch = cur.context.epoch;
    past.context = cur.context;
    past.sender_data_secret = cur.secrets.sender_data_secret;
    past.secret_tree = std::move(cur.secret_tree);
    for (uint32_t i = 0; i < cur.tree.leaf_count(); ++i) {
      const LeafNode* leaf = cur.tree.leaf(LeafIndex(i));
      past.signature_keys.push_back(leaf ? leaf->signature_key : Bytes{});
    }
    past_epochs_.push_back(std::move(past));
    while (past_epochs_.size() > config_.past_epochs) past_epochs_.erase(past_epochs_.begin());
  }
  if (staged.removes_self) active_ = false;
  state_ = std::move(staged.next);
  tree_dirty_ = true;
  proposals_.clear();
  update_keys_.clear();
  pending_.reset();
  if (Result<void> ok = persist_pending(); !ok) return ok;
  return persist();
}

// ---------------------------------------------------------------------------------------------
// Sending.

Result<MLSMessage> Group::protect(const AuthenticatedContent& content) {
  MLSMessage msg;
  if (content.wire_format == wire_format::kPrivateMessage) {
    Result<PrivateMessage> priv = protect_private(content, state_->secret_tree,
                                                  state_->secrets.sender_data_secret,
                                                  config_.padding_size);
    if (!priv) return std::unexpected(priv.error());
    msg.content = std::move(*priv);
  } else {
    Result<PublicMessage> pub =
        protect_public(content, state_->context, state_->secrets.membership_key);
    if (!pub) return std::unexpected(pub.error());
    msg.content = std::move(*pub);
  }
  return msg;
}

Result<MLSMessage> Group::protect_application(ByteView data, ByteView authenticated_data) {
  if (!active_) return fail("this member was removed from the group");
  FramedContent fc{group_id(), epoch(), Sender::member(own_leaf().value),
                   to_bytes(authenticated_data), to_bytes(data)};
  Result<AuthenticatedContent> ac = sign_content(wire_format::kPrivateMessage, std::move(fc),
                                                 state_->context, signer_.private_key);
  if (!ac) return std::unexpected(ac.error());
  Result<MLSMessage> msg = protect(*ac);
  if (msg) persist();
  return msg;
}

Result<MLSMessage> Group::propose(Proposal proposal, ByteView authenticated_data) {
  if (!active_) return fail("this member was removed from the group");
  const uint16_t type = proposal.type();
  if (type == proposal_type::kReInit) return fail("ReInit proposals are not supported");
  if (type == proposal_type::kExternalInit) return fail("ExternalInit outside an external commit");
  FramedContent fc{group_id(), epoch(), Sender::member(own_leaf().value),
                   to_bytes(authenticated_data), proposal};
  uint16_t wf = config_.outgoing_private ? wire_format::kPrivateMessage
                                         : wire_format::kPublicMessage;
  Result<AuthenticatedContent> ac =
      sign_content(wf, std::move(fc), state_->context, signer_.private_key);
  if (!ac) return std::unexpected(ac.error());
  Result<MLSMessage> msg = protect(*ac);
  if (!msg) return msg;
  Bytes ref = suite::ref_hash("MLS 1.0 Proposal Reference", encode_one(*ac));
  proposals_.insert_or_assign(std::move(ref),
                              CachedProposal{std::move(proposal), Sender::member(own_leaf().value)});
  if (Result<void> ok = persist(); !ok) return std::unexpected(ok.error());
  return msg;
}

Result<MLSMessage> Group::propose_update(ByteView authenticated_data) {
  const LeafNode* current = state_->tree.leaf(own_leaf());
  if (!current) return fail("own leaf is blank");
  suite::HpkeKeyPair keys = suite::generate_key_pair();
  LeafNode leaf = *current;
  leaf.encryption_key = keys.public_key;
  leaf.source = UpdateSource{};
  Result<Bytes> sig = suite::sign_with_label(signer_.private_key, "LeafNodeTBS",
                                             leaf.to_be_signed(group_id(), own_leaf().value));
  if (!sig) return fail("leaf signature: ", sig.error());
  leaf.signature = std::move(*sig);
  update_keys_.insert_or_assign(keys.public_key, std::move(keys.private_key));
  return propose(Proposal{Update{std::move(leaf)}}, authenticated_data);
}

Result<GroupInfo> Group::sign_group_info(const EpochState& state, bool with_tree) const {
  GroupInfo info;
  info.group_context = state.context;
  if (with_tree) {
    info.extensions.push_back(Extension{extension_type::kRatchetTree, state.tree.encode()});
  }
  info.confirmation_tag = state.confirmation_tag;
  info.signer = state.tree_private.leaf().value;
  Result<Bytes> sig = suite::sign_with_label(signer_.private_key, "GroupInfoTBS",
                                             info.to_be_signed());
  if (!sig) return fail("group info signature: ", sig.error());
  info.signature = std::move(*sig);
  return info;
}

Result<GroupInfo> Group::group_info(bool with_tree) const {
  if (!active_) return fail("this member was removed from the group");
  return sign_group_info(*state_, with_tree);
}

Result<CommitOutput> Group::commit(const CommitOptions& options) {
  if (!active_) return fail("this member was removed from the group");
  if (pending_) return fail("a commit of this member is already pending");
  const EpochState& cur = *state_;
  const LeafIndex me = own_leaf();
  const Sender self = Sender::member(me.value);

  // Proposals received in this epoch go first, by reference; the committer's own Updates are
  // superseded by its path, and a proposal to remove the committer cannot be honoured.
  std::vector<ResolvedProposal> list;
  std::vector<ProposalOrRef> covered;
  bool own_update_dropped = false;
  if (options.include_received) {
    for (const auto& [ref, cached] : proposals_) {
      const Proposal& p = cached.proposal;
      if (p.type() == proposal_type::kUpdate && cached.sender == self) {
        own_update_dropped = true;
        continue;
      }
      if (const auto* rm = std::get_if<Remove>(&p.content); rm && rm->removed == me.value) continue;
      list.push_back({p, cached.sender, ref});
      covered.push_back(ProposalOrRef{ref});
    }
  }
  const size_t received = list.size();
  auto add_value = [&](Proposal p) {
    covered.push_back(ProposalOrRef{p});
    list.push_back({std::move(p), self, std::nullopt});
  };
  for (const KeyPackage& kp : options.add) add_value(Proposal{Add{kp}});
  for (uint32_t leaf : options.remove) add_value(Proposal{Remove{leaf}});
  for (const Bytes& id : options.external_psks) {
    add_value(Proposal{PreSharedKey{
        PreSharedKeyID{ExternalPskId{id}, crypto::random_bytes(kHashSize)}}});
  }
  for (uint64_t e : options.resumption_psks) {
    add_value(Proposal{PreSharedKey{PreSharedKeyID{
        ResumptionPskId{resumption_psk_usage::kApplication, group_id(), e},
        crypto::random_bytes(kHashSize)}}});
  }
  if (options.group_context_extensions) {
    add_value(Proposal{GroupContextExtensions{*options.group_context_extensions}});
  }

  Result<Applied> applied = apply_proposals(list, me, true);
  if (!applied && received > 0) {
    // A received proposal that no longer fits, or clashes with this commit's own, is left out
    // rather than blocking every commit of the epoch.
    std::vector<ResolvedProposal> kept(list.begin() + received, list.end());
    std::vector<ProposalOrRef> kept_covered(covered.begin() + received, covered.end());
    if (apply_proposals(kept, me, true)) {
      for (size_t i = 0; i < received; ++i) {
        kept.push_back(list[i]);
        if (apply_proposals(kept, me, true)) {
          kept_covered.push_back(covered[i]);
        } else {
          kept.pop_back();
        }
      }
      list = std::move(kept);
      covered = std::move(kept_covered);
      applied = apply_proposals(list, me, true);
    }
  }
  if (!applied) return std::unexpected(applied.error());
  const bool with_path = options.force_path || applied->path_required || own_update_dropped;

  auto next = std::make_unique<EpochState>();
  next->tree = std::move(applied->tree);
  GroupContext& ctx = next->context;
  ctx = std::move(applied->context);
  ctx.epoch = cur.context.epoch + 1;

  Commit commit;
  commit.proposals = std::move(covered);
  SecretBytes commit_secret = zero_secret();
  std::optional<PendingPath> path;
  if (with_path) {
    const LeafNode* base = next->tree.leaf(me);
    if (!base) return fail("own leaf is blank");
    Result<PendingPath> started =
        start_update_path(next->tree, me, *base, group_id(), signer_.private_key);
    if (!started) return fail("path: ", started.error());
    path = std::move(*started);
    ctx.tree_hash = next->tree.tree_hash();
    Result<UpdatePath> encrypted =
        encrypt_update_path(next->tree, *path, encoded_context(ctx), applied->added);
    if (!encrypted) return fail("path: ", encrypted.error());
    commit.path = std::move(*encrypted);
    commit_secret = path->commit_secret;
    next->tree_private = std::move(path->private_state);
  } else {
    ctx.tree_hash = next->tree.tree_hash();
    next->tree_private = cur.tree_private;
    next->tree_private.prune(next->tree);
  }

  Result<SecretBytes> psk = psk_secret_for(applied->psks);
  if (!psk) return std::unexpected(psk.error());

  const uint16_t wf =
      config_.outgoing_private ? wire_format::kPrivateMessage : wire_format::kPublicMessage;
  FramedContent fc{group_id(), epoch(), self, options.authenticated_data, std::move(commit)};
  Result<AuthenticatedContent> ac = sign_content(wf, std::move(fc), cur.context,
                                                 signer_.private_key);
  if (!ac) return std::unexpected(ac.error());
  ctx.confirmed_transcript_hash = confirmed_transcript_hash(
      cur.interim_transcript_hash, confirmed_transcript_hash_input(*ac));
  next->secrets =
      key_schedule::advance(cur.secrets.init_secret, commit_secret, *psk, encoded_context(ctx));
  ac->auth.confirmation_tag = key_schedule::confirmation_tag(next->secrets.confirmation_key,
                                                             ctx.confirmed_transcript_hash);
  next->confirmation_tag = ac->auth.confirmation_tag;
  next->interim_transcript_hash =
      interim_transcript_hash(ctx.confirmed_transcript_hash, next->confirmation_tag);
  next->secret_tree = SecretTree(next->secrets.encryption_secret, next->tree.leaf_count(),
                                 config_.out_of_order_tolerance, config_.max_forward_distance);

  Result<MLSMessage> message = protect(*ac);
  if (!message) return std::unexpected(message.error());

  // The GroupInfo handed back carries no tree; the one inside a Welcome does when configured.
  Result<GroupInfo> info = sign_group_info(*next, false);
  if (!info) return std::unexpected(info.error());

  CommitOutput out;
  out.commit = std::move(*message);
  if (!applied->added.empty()) {
    key_schedule::WelcomeKey wk = key_schedule::welcome_key(next->secrets.welcome_secret);
    Result<GroupInfo> welcome_info = config_.ratchet_tree_extension
                                         ? sign_group_info(*next, true)
                                         : Result<GroupInfo>(*info);
    if (!welcome_info) return std::unexpected(welcome_info.error());
    Result<Bytes> sealed = suite::aead_seal(wk.key, wk.nonce, {}, encode_one(*welcome_info));
    if (!sealed) return fail("encrypt group info: ", sealed.error());
    Welcome welcome;
    welcome.cipher_suite = kCipherSuite;
    welcome.encrypted_group_info = std::move(*sealed);
    for (size_t i = 0; i < applied->added.size(); ++i) {
      const KeyPackage& kp = applied->added_key_packages[i];
      GroupSecrets gs;
      gs.joiner_secret = next->secrets.joiner_secret;
      if (path) {
        if (const SecretBytes* ps = path->path_secret_for(applied->added[i])) {
          gs.path_secret = PathSecret{*ps};
        }
      }
      gs.psks = applied->psks;
      Bytes plain = encode_one(gs);
      Result<HpkeCiphertext> ct =
          suite::encrypt_with_label(kp.init_key, "Welcome", welcome.encrypted_group_info, plain);
      secure_wipe(plain.data(), plain.size());
      if (!ct) return fail("encrypt group secrets: ", ct.error());
      welcome.secrets.push_back({kp.ref(), std::move(*ct)});
    }
    out.welcome = MLSMessage{kProtocolVersion, std::move(welcome)};
  }
  out.group_info = MLSMessage{kProtocolVersion, std::move(*info)};

  StagedCommit staged;
  staged.group_id = group_id();
  staged.from_epoch = epoch();
  staged.proposals = std::move(applied->ordered);
  staged.added = std::move(applied->added);
  staged.next = std::move(next);
  pending_ = std::move(staged);
  // The handshake ratchet moved: keep that even if the commit is later discarded.
  if (Result<void> ok = persist(); !ok) return std::unexpected(ok.error());
  if (Result<void> ok = persist_pending(); !ok) return std::unexpected(ok.error());
  return out;
}

Result<void> Group::merge_pending_commit() {
  if (!pending_) return fail("no pending commit");
  StagedCommit staged = std::move(*pending_);
  pending_.reset();
  return merge(std::move(staged));
}

Result<void> Group::discard_pending_commit() {
  if (!pending_) return {};
  pending_.reset();
  return persist_pending();
}

}  // namespace zerv::mls
