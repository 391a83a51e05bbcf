#pragma once
// The public ratchet tree: an array of optional leaf and parent nodes in the left-balanced layout
// of tree_math.h, with the tree hash of every node cached and recomputed only along the paths a
// change touched.

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/commit.h"
#include "mls/engine/extension.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/tree_math.h"

namespace zerv::mls {

// Passed as `now` to skip lifetime checks (only for replaying recorded trees in tests).
inline constexpr uint64_t kSkipLifetimeCheck = std::numeric_limits<uint64_t>::max();

// What a joiner checks a received tree against.
struct TreeCheck {
  ByteView group_id;
  ByteView tree_hash;  // expected root tree hash; empty skips the comparison
  uint64_t now = 0;    // seconds since the Unix epoch, or kSkipLifetimeCheck
  // The group's required_capabilities, when it has them.
  const RequiredCapabilities* required = nullptr;
};

// A parent node on a leaf's filtered direct path with its child on the leaf's copath.
struct PathStep {
  NodeIndex node;
  NodeIndex copath_child;
};

class RatchetTree {
 public:
  RatchetTree() = default;
  // A one-member tree holding the group creator's leaf.
  explicit RatchetTree(LeafNode creator);

  // From the nodes of a ratchet_tree extension: the last node must be non-blank; the tree is padded
  // with blanks to a full power-of-two width. Rejects leaves at parent positions and the reverse,
  // and unmerged leaf lists that are unsorted or name leaves outside the parent's subtree.
  static Result<RatchetTree> from_nodes(std::vector<std::optional<Node>> nodes);
  static Result<RatchetTree> decode(ByteView ratchet_tree_value);
  // The nodes with trailing blanks dropped, as the ratchet_tree extension carries them.
  std::vector<std::optional<Node>> to_nodes() const;
  Bytes encode() const;

  // Width of the tree in leaves (a power of two, blanks included).
  uint32_t leaf_count() const { return leaf_count_; }
  std::vector<LeafIndex> occupied_leaves() const;
  uint32_t node_count() const { return static_cast<uint32_t>(nodes_.size()); }

  const std::optional<Node>& node(NodeIndex x) const { return nodes_.at(x.value); }
  bool is_blank(NodeIndex x) const { return !nodes_.at(x.value).has_value(); }
  // nullptr when blank or outside the tree.
  const LeafNode* leaf(LeafIndex i) const;
  const ParentNode* parent(NodeIndex x) const;
  // Encryption key of a non-blank node (leaf or parent); empty view when blank.
  ByteView encryption_key(NodeIndex x) const;

  // Places a leaf in the leftmost blank slot, extending the tree when full, and records it as
  // unmerged at every non-blank parent above it.
  LeafIndex add_leaf(LeafNode leaf);
  // Replaces an occupied leaf and blanks its direct path.
  Result<void> update_leaf(LeafIndex i, LeafNode leaf);
  // Blanks a leaf and its direct path, then drops the right half while it holds no member.
  Result<void> remove_leaf(LeafIndex i);
  // Blanks the parents on the direct path of leaf i.
  void blank_path(LeafIndex i);

  // Undo for provisional changes (a commit that may still fail): after begin_changes(),
  // rollback() restores the tree as it was and keep_changes() accepts the new state. Only the
  // nodes touched in between are saved, so no copy of the whole tree is needed.
  void begin_changes();
  void keep_changes();
  void rollback();

  // Non-blank nodes covering the subtree under x, left to right, with unmerged leaves after their
  // parent; leaves listed in `excluded` are left out.
  std::vector<NodeIndex> resolution(NodeIndex x, std::span<const LeafIndex> excluded = {}) const;
  // The direct path of leaf i without parents whose copath child has an empty resolution.
  std::vector<PathStep> filtered_path(LeafIndex i) const;
  std::vector<NodeIndex> filtered_direct_path(LeafIndex i) const;

  Bytes tree_hash() const;
  Bytes tree_hash(NodeIndex x) const;

  // Parent hash of parent p towards the child `copath_child` (its original sibling tree hash taken
  // with p's unmerged leaves removed from that subtree).
  Bytes parent_hash(NodeIndex p, NodeIndex copath_child) const;

  // The parent_hash fields for the nodes of `steps` once they carry `keys` (one per step), and in
  // `leaf_parent_hash` the value the leaf must sign.
  std::vector<Bytes> path_parent_hashes(std::span<const PathStep> steps,
                                        std::span<const Bytes> keys, Bytes& leaf_parent_hash) const;

  // Checks a received path against the tree (shape, fresh keys, the leaf's parent hash) and merges
  // it: direct path blanked, filtered path set with no unmerged leaves, sender's leaf replaced.
  // Leaves the tree unchanged on failure.
  Result<void> merge_update_path(LeafIndex sender, const UpdatePath& path);
  // Sets an already-checked path (used by the committer, whose leaf is signed over these values).
  void set_path(LeafIndex sender, std::span<const PathStep> steps, std::span<const Bytes> keys,
                std::vector<Bytes> parent_hashes, LeafNode leaf);

  // Every non-blank parent must be reachable by exactly one parent-hash link from below.
  Result<void> verify_parent_hashes() const;
  // Whether parent p has a valid parent-hash link from a descendant (exposed for the vectors).
  bool parent_hash_valid(NodeIndex p) const;
  // Everything a joiner checks: tree hash, parent hashes, unmerged leaf lists, key uniqueness,
  // and every leaf (signature, capabilities, credential types, lifetime, extensions).
  Result<void> validate(const TreeCheck& check) const;
  // Checks a leaf about to enter the tree: from an Add's KeyPackage (`replacing` empty), an
  // Update, or a commit's path (`replacing` the sender's leaf). Verifies its source, signature,
  // contents against `check`, credential types against the other members, and that its
  // encryption key is new to the tree and its signature key new apart from the replaced leaf.
  Result<void> validate_leaf(const LeafNode& leaf, uint8_t expected_source,
                             std::optional<LeafIndex> replacing, const TreeCheck& check) const;
  // The leaf holding exactly this node (a joiner finding itself), if any.
  std::optional<LeafIndex> find_leaf(const LeafNode& node) const;

  // Signature of the leaf at i under its own signature key (group id and index bound for leaves
  // from updates and commits).
  bool leaf_signature_valid(LeafIndex i, ByteView group_id) const;

  // Whether a node other than `except` already carries this encryption key.
  bool has_encryption_key(ByteView key, std::optional<NodeIndex> except = std::nullopt) const;
  // Whether a leaf other than `except` already carries this signature key.
  bool has_signature_key(ByteView key, std::optional<LeafIndex> except = std::nullopt) const;

 private:
  // The nodes up to the last non-blank one, as they are listed on the wire.
  std::span<const std::optional<Node>> used_nodes() const;

  using Hash = std::array<uint8_t, 32>;

  struct Change {
    uint32_t index;
    std::optional<Node> old;
  };

  void record(NodeIndex x);
  void set_node(NodeIndex x, std::optional<Node> value);
  void invalidate_path(NodeIndex x);
  void resize_leaves(uint32_t leaves);
  void truncate();
  const Hash& cached_hash(NodeIndex x) const;
  // Tree hash of x with the leaves in `removed` (sorted) blanked and dropped from unmerged lists.
  Bytes hash_without(NodeIndex x, std::span<const LeafIndex> removed) const;
  bool subtree_empty(NodeIndex x) const;
  bool resolution_within(NodeIndex x, size_t limit, std::vector<NodeIndex>& out) const;

  std::vector<std::optional<Node>> nodes_;
  uint32_t leaf_count_ = 0;
  // Prior values of changed nodes while changes are provisional, with the width at the start.
  std::optional<std::vector<Change>> journal_;
  uint32_t journal_leaves_ = 0;
  // Tree hash per node; hash_ok_[x] == 0 means stale. Only tree_hash() writes these.
  mutable std::vector<Hash> hashes_;
  mutable std::vector<uint8_t> hash_ok_;
};

// Signs `leaf` in place with the LeafNodeTBS of a leaf at `index` in group `group_id`.
Result<void> sign_leaf_node(LeafNode& leaf, ByteView group_id, LeafIndex index,
                            ByteView signature_private_key);
// Verifies a leaf's signature; group_id and index are bound for update and commit sources.
bool verify_leaf_node_signature(const LeafNode& leaf, ByteView group_id, LeafIndex index);

}  // namespace zerv::mls
