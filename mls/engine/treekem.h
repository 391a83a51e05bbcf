#pragma once
// The private side of TreeKEM: a member's keys for its leaf and direct path, the fresh path a
// committer creates and encrypts to the group, and the decryption of a path another member sent.
//
// Committing:  start_update_path (changes the tree) -> caller builds the provisional GroupContext
//              from the new tree hash -> encrypt_update_path.
// Receiving:   RatchetTree::merge_update_path -> provisional GroupContext ->
//              TreePrivate::decrypt_update_path.

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/commit.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/ratchet_tree.h"
#include "mls/engine/tree_math.h"

namespace zerv::mls {

// Node key pair for a path secret: KEM.DeriveKeyPair(DeriveSecret(path_secret, "node")).
Result<suite::HpkeKeyPair> node_key_pair(ByteView path_secret);
// The next path secret up the path (also the commit secret after the root).
SecretBytes next_path_secret(ByteView path_secret);

struct PendingPath;
Result<PendingPath> start_update_path(RatchetTree& tree, LeafIndex leaf, LeafNode base,
                                      ByteView group_id, ByteView signature_private_key);

class TreePrivate {
 public:
  struct Decrypted {
    NodeIndex node;             // where the path secret was decrypted (common ancestor)
    SecretBytes path_secret;    // the decrypted value
    SecretBytes commit_secret;  // derived past the root
  };

  TreePrivate() = default;
  // The member at `leaf` holding the private key of its leaf's encryption key.
  static Result<TreePrivate> create(LeafIndex leaf, SecretBytes leaf_private_key);

  LeafIndex leaf() const { return leaf_; }

  // The held key pairs, for storing a group.
  void encode(TlsWriter& w) const;
  static TreePrivate decode(TlsReader& r);
  const SecretBytes& leaf_private_key() const { return leaf_key_.private_key; }
  // Replaces the leaf key (after the member's own Update is committed).
  Result<void> set_leaf_private_key(SecretBytes key);
  // The private key for node x (the leaf or a parent), nullptr when not held.
  const SecretBytes* private_key(NodeIndex x) const;

  // Holds the key pair derived from the path secret of parent x; it must match the tree.
  Result<void> set_path_secret(const RatchetTree& tree, NodeIndex x, ByteView path_secret);
  // From the path secret of `from` (a node of this member's filtered direct path, e.g. the
  // common ancestor with a Welcome's signer), derives and holds the keys of it and every
  // filtered node above; each must match the tree. Returns the commit secret.
  Result<SecretBytes> implant(const RatchetTree& tree, NodeIndex from, ByteView path_secret);

  // Decrypts the path secret of `sender`'s path meant for this member and derives the keys up
  // to the root. `tree` already has the path merged, `group_context` is the encoded provisional
  // GroupContext, `excluded` the leaves added by the same commit. On success the keys of the
  // sender's direct path are replaced and keys of nodes blanked since are dropped; on failure
  // nothing changes.
  Result<Decrypted> decrypt_update_path(const RatchetTree& tree, LeafIndex sender,
                                        const UpdatePath& path, ByteView group_context,
                                        std::span<const LeafIndex> excluded);

  // Every held key matches the public key of its node, and that node is on this member's path.
  Result<void> check(const RatchetTree& tree) const;
  // Forgets keys of nodes that are blank, changed, outside the tree or off the direct path.
  void prune(const RatchetTree& tree);

 private:
  friend Result<PendingPath> start_update_path(RatchetTree&, LeafIndex, LeafNode, ByteView,
                                               ByteView);

  LeafIndex leaf_;
  suite::HpkeKeyPair leaf_key_;
  std::map<uint32_t, suite::HpkeKeyPair> node_keys_;  // parent node index -> key pair
};

// A committer's fresh path, already set in its tree, before the secrets are encrypted.
struct PendingPath {
  LeafNode leaf_node;                     // re-signed, source commit
  std::vector<PathStep> steps;            // the filtered direct path
  std::vector<Bytes> public_keys;         // one per step
  std::vector<SecretBytes> path_secrets;  // one per step
  SecretBytes commit_secret;
  TreePrivate private_state;  // the committer's keys after the commit

  // The path secret a member at `joiner` receives in its Welcome: the one at the lowest common
  // ancestor with the committer. nullptr when that node is not on the path.
  const SecretBytes* path_secret_for(LeafIndex joiner) const;
};

// Gives `leaf` a fresh path: new leaf key, path secrets up the filtered direct path, parent
// hashes, and the leaf `base` re-signed with source commit. The tree is updated in place.
Result<PendingPath> start_update_path(RatchetTree& tree, LeafIndex leaf, LeafNode base,
                                      ByteView group_id, ByteView signature_private_key);

// Encrypts each path secret to the resolution of its copath child, leaving out `excluded`
// (the leaves added by the same commit).
Result<UpdatePath> encrypt_update_path(const RatchetTree& tree, const PendingPath& pending,
                                       ByteView group_context, std::span<const LeafIndex> excluded);

}  // namespace zerv::mls
