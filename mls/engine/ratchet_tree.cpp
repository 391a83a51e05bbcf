#include "mls/engine/ratchet_tree.h"

#include <atomic>

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "mls/engine/codec.h"
#include "mls/engine/proposals.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

namespace {

// Largest tree width accepted: node indices must fit in 32 bits.
constexpr uint32_t kMaxLeaves = uint32_t{1} << 31;

// Below this many leaves a second thread costs more than it saves.
constexpr size_t kParallelSignatureThreshold = 16;

struct LeafSpan {
  uint32_t first;  // first leaf under the node
  uint64_t end;    // one past the last leaf under the node
  bool contains(uint32_t leaf) const { return leaf >= first && leaf < end; }
};

LeafSpan leaf_span(NodeIndex x) {
  uint32_t k = tree_math::level(x);
  uint64_t first_node = uint64_t{x.value} - ((uint64_t{1} << k) - 1);
  return {static_cast<uint32_t>(first_node / 2), first_node / 2 + (uint64_t{1} << k)};
}

NodeIndex left_of(NodeIndex x) { return *tree_math::left(x); }
NodeIndex right_of(NodeIndex x) { return *tree_math::right(x); }

// Lists of leaves are kept sorted: hostile trees may carry long unmerged lists.
bool contains_leaf(std::span<const LeafIndex> sorted, uint32_t leaf) {
  return std::binary_search(sorted.begin(), sorted.end(), LeafIndex(leaf));
}

Bytes hash_leaf_input(uint32_t leaf_index, const LeafNode* leaf) {
  TlsWriter w;
  w.u8(node_type::kLeaf);
  w.u32(leaf_index);
  w.u8(leaf != nullptr ? 1 : 0);
  if (leaf != nullptr) leaf->encode(w);
  return suite::hash(w.bytes());
}

Bytes hash_parent_input(const ParentNode* parent, ByteView left_hash, ByteView right_hash) {
  TlsWriter w;
  w.u8(node_type::kParent);
  w.u8(parent != nullptr ? 1 : 0);
  if (parent != nullptr) parent->encode(w);
  w.opaque(left_hash);
  w.opaque(right_hash);
  return suite::hash(w.bytes());
}

Bytes hash_parent_hash_input(ByteView encryption_key, ByteView parent_hash,
                             ByteView original_sibling_tree_hash) {
  TlsWriter w;
  w.opaque(encryption_key);
  w.opaque(parent_hash);
  w.opaque(original_sibling_tree_hash);
  return suite::hash(w.bytes());
}

bool listed(const std::vector<uint16_t>& list, uint16_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// Checks on one leaf that need nothing but the leaf and the group's requirements.
Result<void> check_leaf_content(const LeafNode& leaf, const TreeCheck& check) {
  const Capabilities& caps = leaf.capabilities;
  if (!listed(caps.credentials, leaf.credential.type())) {
    return fail("leaf credential type not in its capabilities");
  }
  for (const Extension& ext : leaf.extensions) {
    if (!is_default_extension_type(ext.extension_type) &&
        !listed(caps.extensions, ext.extension_type)) {
      return fail("leaf extension " + std::to_string(ext.extension_type) +
                  " not in its capabilities");
    }
  }
  if (has_duplicate_extensions(leaf.extensions)) return fail("leaf has duplicate extensions");
  if (check.required != nullptr) {
    for (uint16_t t : check.required->extension_types) {
      if (!is_default_extension_type(t) && !listed(caps.extensions, t)) {
        return fail("leaf lacks required extension " + std::to_string(t));
      }
    }
    for (uint16_t t : check.required->proposal_types) {
      if (!is_default_proposal_type(t) && !listed(caps.proposals, t)) {
        return fail("leaf lacks required proposal " + std::to_string(t));
      }
    }
    for (uint16_t t : check.required->credential_types) {
      if (!listed(caps.credentials, t)) {
        return fail("leaf lacks required credential " + std::to_string(t));
      }
    }
  }
  if (const Lifetime* life = leaf.lifetime(); life != nullptr && check.now != kSkipLifetimeCheck) {
    if (check.now < life->not_before || check.now > life->not_after) {
      return fail("leaf lifetime does not cover the current time");
    }
  }
  return {};
}

// Finds a repeated key among (key, owner) pairs; returns the owner of one copy or nullopt.
std::optional<uint32_t> find_duplicate(std::vector<std::pair<ByteView, uint32_t>>& keys) {
  std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
    return std::lexicographical_compare(a.first.begin(), a.first.end(), b.first.begin(),
                                        b.first.end());
  });
  for (size_t i = 1; i < keys.size(); ++i) {
    if (std::ranges::equal(keys[i - 1].first, keys[i].first)) return keys[i].second;
  }
  return std::nullopt;
}

}  // namespace

Result<void> sign_leaf_node(LeafNode& leaf, ByteView group_id, LeafIndex index,
                            ByteView signature_private_key) {
  Result<Bytes> sig = suite::sign_with_label(signature_private_key, "LeafNodeTBS",
                                             leaf.to_be_signed(group_id, index.value));
  if (!sig) return fail("signing leaf node: ", sig.error());
  leaf.signature = std::move(*sig);
  return {};
}

bool verify_leaf_node_signature(const LeafNode& leaf, ByteView group_id, LeafIndex index) {
  return suite::verify_with_label(leaf.signature_key, "LeafNodeTBS",
                                  leaf.to_be_signed(group_id, index.value), leaf.signature);
}

// ---- construction and encoding ----

RatchetTree::RatchetTree(LeafNode creator) {
  resize_leaves(1);
  set_node(NodeIndex(0), Node{std::move(creator)});
}

Result<RatchetTree> RatchetTree::from_nodes(std::vector<std::optional<Node>> nodes) {
  if (nodes.empty()) return fail("ratchet tree is empty");
  if (!nodes.back()) return fail("ratchet tree ends with a blank node");
  if (nodes.size() > tree_math::node_width(kMaxLeaves)) return fail("ratchet tree too large");
  uint32_t leaves = 1;
  while (tree_math::node_width(leaves) < nodes.size()) leaves *= 2;

  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!nodes[i]) continue;
    bool leaf_slot = i % 2 == 0;
    if (leaf_slot != (nodes[i]->leaf() != nullptr)) {
      return fail("ratchet tree node " + std::to_string(i) + " has the wrong type");
    }
    if (const ParentNode* p = nodes[i]->parent()) {
      LeafSpan span = leaf_span(NodeIndex(static_cast<uint32_t>(i)));
      for (size_t j = 0; j < p->unmerged_leaves.size(); ++j) {
        uint32_t u = p->unmerged_leaves[j];
        if (j > 0 && u <= p->unmerged_leaves[j - 1]) {
          return fail("unmerged leaves not in increasing order");
        }
        if (!span.contains(u) || u >= leaves) {
          return fail("unmerged leaf " + std::to_string(u) + " is not below its parent");
        }
      }
    }
  }
  RatchetTree tree;
  tree.nodes_ = std::move(nodes);
  tree.leaf_count_ = 0;
  tree.resize_leaves(leaves);
  return tree;
}

Result<RatchetTree> RatchetTree::decode(ByteView ratchet_tree_value) {
  Result<std::vector<std::optional<Node>>> nodes = decode_ratchet_tree(ratchet_tree_value);
  if (!nodes) return fail("ratchet tree: ", nodes.error());
  return from_nodes(std::move(*nodes));
}

std::span<const std::optional<Node>> RatchetTree::used_nodes() const {
  size_t end = nodes_.size();
  while (end > 0 && !nodes_[end - 1]) --end;
  return std::span(nodes_).first(end);
}

std::vector<std::optional<Node>> RatchetTree::to_nodes() const {
  auto used = used_nodes();
  return {used.begin(), used.end()};
}

Bytes RatchetTree::encode() const { return encode_ratchet_tree(used_nodes()); }

// ---- access ----

std::vector<LeafIndex> RatchetTree::occupied_leaves() const {
  std::vector<LeafIndex> out;
  for (uint32_t i = 0; i < leaf_count_; ++i) {
    if (nodes_[2 * size_t{i}]) out.emplace_back(i);
  }
  return out;
}

const LeafNode* RatchetTree::leaf(LeafIndex i) const {
  if (i.value >= leaf_count_) return nullptr;
  const std::optional<Node>& n = nodes_[2 * size_t{i.value}];
  return n ? n->leaf() : nullptr;
}

const ParentNode* RatchetTree::parent(NodeIndex x) const {
  if (x.value >= nodes_.size()) return nullptr;
  const std::optional<Node>& n = nodes_[x.value];
  return n ? n->parent() : nullptr;
}

ByteView RatchetTree::encryption_key(NodeIndex x) const {
  if (x.value >= nodes_.size() || !nodes_[x.value]) return {};
  const Node& n = *nodes_[x.value];
  if (const LeafNode* l = n.leaf()) return l->encryption_key;
  return n.parent()->encryption_key;
}

bool RatchetTree::has_encryption_key(ByteView key, std::optional<NodeIndex> except) const {
  for (uint32_t x = 0; x < nodes_.size(); ++x) {
    if (nodes_[x] && NodeIndex(x) != except &&
        std::ranges::equal(encryption_key(NodeIndex(x)), key)) {
      return true;
    }
  }
  return false;
}

bool RatchetTree::has_signature_key(ByteView key, std::optional<LeafIndex> except) const {
  for (uint32_t i = 0; i < leaf_count_; ++i) {
    const LeafNode* l = leaf(LeafIndex(i));
    if (l != nullptr && LeafIndex(i) != except && std::ranges::equal(l->signature_key, key)) {
      return true;
    }
  }
  return false;
}

// ---- mutation ----

void RatchetTree::resize_leaves(uint32_t leaves) {
  size_t width = tree_math::node_width(leaves);
  if (journal_) {
    for (size_t x = width; x < nodes_.size(); ++x) {
      if (nodes_[x]) record(NodeIndex(static_cast<uint32_t>(x)));
    }
  }
  nodes_.resize(width);
  hashes_.resize(width);
  hash_ok_.resize(width, 0);
  if (leaves > leaf_count_) {
    // Every node above the old tree is new; the old root keeps its hash.
    std::fill(hash_ok_.begin() + static_cast<std::ptrdiff_t>(tree_math::node_width(leaf_count_)),
              hash_ok_.end(), 0);
  }
  leaf_count_ = leaves;
}

void RatchetTree::invalidate_path(NodeIndex x) {
  // A stale node always has stale ancestors, so the walk can stop at the first stale one.
  for (std::optional<NodeIndex> n = x; n && hash_ok_[n->value];
       n = tree_math::parent(*n, leaf_count_)) {
    hash_ok_[n->value] = 0;
  }
}

void RatchetTree::record(NodeIndex x) {
  if (journal_) journal_->push_back({x.value, nodes_[x.value]});
}

void RatchetTree::begin_changes() {
  journal_.emplace();
  journal_leaves_ = leaf_count_;
}

void RatchetTree::keep_changes() { journal_.reset(); }

void RatchetTree::rollback() {
  if (!journal_) return;
  std::vector<Change> changes = std::move(*journal_);
  journal_.reset();
  for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
    // A node dropped by truncation comes back with the width that held it.
    while (it->index >= nodes_.size()) resize_leaves(std::max(1u, leaf_count_ * 2));
    nodes_[it->index] = std::move(it->old);
    invalidate_path(NodeIndex(it->index));
  }
  while (leaf_count_ < journal_leaves_) resize_leaves(std::max(1u, leaf_count_ * 2));
  if (leaf_count_ > journal_leaves_) resize_leaves(journal_leaves_);
}

void RatchetTree::set_node(NodeIndex x, std::optional<Node> value) {
  record(x);
  nodes_[x.value] = std::move(value);
  invalidate_path(x);
}

void RatchetTree::blank_path(LeafIndex i) {
  for (NodeIndex p : tree_math::direct_path(NodeIndex(i), leaf_count_)) {
    if (nodes_[p.value]) set_node(p, std::nullopt);
  }
}

LeafIndex RatchetTree::add_leaf(LeafNode leaf) {
  uint32_t slot = 0;
  while (slot < leaf_count_ && nodes_[2 * size_t{slot}]) ++slot;
  if (slot == leaf_count_) resize_leaves(leaf_count_ == 0 ? 1 : leaf_count_ * 2);
  for (NodeIndex p : tree_math::direct_path(NodeIndex(LeafIndex(slot)), leaf_count_)) {
    if (!nodes_[p.value]) continue;
    record(p);
    auto& unmerged = std::get<ParentNode>(nodes_[p.value]->content).unmerged_leaves;
    unmerged.insert(std::upper_bound(unmerged.begin(), unmerged.end(), slot), slot);
    invalidate_path(p);
  }
  set_node(NodeIndex(LeafIndex(slot)), Node{std::move(leaf)});
  return LeafIndex(slot);
}

Result<void> RatchetTree::update_leaf(LeafIndex i, LeafNode leaf) {
  if (this->leaf(i) == nullptr) return fail("update of a blank leaf");
  blank_path(i);
  set_node(NodeIndex(i), Node{std::move(leaf)});
  return {};
}

Result<void> RatchetTree::remove_leaf(LeafIndex i) {
  if (leaf(i) == nullptr) return fail("removal of a blank leaf");
  set_node(NodeIndex(i), std::nullopt);
  blank_path(i);
  truncate();
  return {};
}

void RatchetTree::truncate() {
  uint32_t last = leaf_count_;
  while (last > 0 && !nodes_[2 * size_t{last - 1}]) --last;
  // Keep the smallest power-of-two width that still holds the rightmost member.
  uint32_t leaves = 1;
  while (leaves < last) leaves *= 2;
  if (leaves < leaf_count_) resize_leaves(leaves);
}

// ---- resolution and paths ----

std::vector<NodeIndex> RatchetTree::resolution(NodeIndex x,
                                               std::span<const LeafIndex> excluded_leaves) const {
  std::vector<LeafIndex> excluded(excluded_leaves.begin(), excluded_leaves.end());
  std::sort(excluded.begin(), excluded.end());
  std::vector<NodeIndex> out;
  auto walk = [&](auto& self, NodeIndex n) -> void {
    if (const std::optional<Node>& node = nodes_[n.value]) {
      if (node->leaf() != nullptr) {
        if (!contains_leaf(excluded, n.leaf().value)) out.push_back(n);
        return;
      }
      out.push_back(n);
      for (uint32_t u : node->parent()->unmerged_leaves) {
        if (!contains_leaf(excluded, u)) out.emplace_back(LeafIndex(u));
      }
      return;
    }
    if (n.is_leaf()) return;
    self(self, left_of(n));
    self(self, right_of(n));
  };
  walk(walk, x);
  return out;
}

bool RatchetTree::resolution_within(NodeIndex x, size_t limit, std::vector<NodeIndex>& out) const {
  if (out.size() > limit) return false;
  if (const std::optional<Node>& node = nodes_[x.value]) {
    out.push_back(x);
    if (const ParentNode* p = node->parent()) {
      for (uint32_t u : p->unmerged_leaves) out.emplace_back(LeafIndex(u));
    }
    return out.size() <= limit;
  }
  if (x.is_leaf()) return true;
  return resolution_within(left_of(x), limit, out) && resolution_within(right_of(x), limit, out);
}

bool RatchetTree::subtree_empty(NodeIndex x) const {
  if (nodes_[x.value]) return false;
  if (x.is_leaf()) return true;
  return subtree_empty(left_of(x)) && subtree_empty(right_of(x));
}

std::vector<PathStep> RatchetTree::filtered_path(LeafIndex i) const {
  std::vector<PathStep> steps;
  if (i.value >= leaf_count_) return steps;
  NodeIndex child(i);
  for (std::optional<NodeIndex> p = tree_math::parent(child, leaf_count_); p;
       child = *p, p = tree_math::parent(*p, leaf_count_)) {
    NodeIndex copath_child = child < *p ? right_of(*p) : left_of(*p);
    if (!subtree_empty(copath_child)) steps.push_back({*p, copath_child});
  }
  return steps;
}

std::vector<NodeIndex> RatchetTree::filtered_direct_path(LeafIndex i) const {
  std::vector<NodeIndex> out;
  for (const PathStep& s : filtered_path(i)) out.push_back(s.node);
  return out;
}

// ---- hashes ----

const RatchetTree::Hash& RatchetTree::cached_hash(NodeIndex x) const {
  if (!hash_ok_[x.value]) {
    const std::optional<Node>& node = nodes_[x.value];
    Bytes h;
    if (x.is_leaf()) {
      h = hash_leaf_input(x.leaf().value, node ? node->leaf() : nullptr);
    } else {
      const Hash& l = cached_hash(left_of(x));
      const Hash& r = cached_hash(right_of(x));
      h = hash_parent_input(node ? node->parent() : nullptr, l, r);
    }
    std::memcpy(hashes_[x.value].data(), h.data(), kHashSize);
    hash_ok_[x.value] = 1;
  }
  return hashes_[x.value];
}

Bytes RatchetTree::tree_hash(NodeIndex x) const {
  if (x.value >= nodes_.size()) return {};
  const Hash& h = cached_hash(x);
  return Bytes(h.begin(), h.end());
}

Bytes RatchetTree::tree_hash() const {
  if (leaf_count_ == 0) return {};
  return tree_hash(tree_math::root(leaf_count_));
}

Bytes RatchetTree::hash_without(NodeIndex x, std::span<const LeafIndex> removed) const {
  LeafSpan span = leaf_span(x);
  auto first = std::lower_bound(removed.begin(), removed.end(), LeafIndex(span.first));
  if (first == removed.end() || !span.contains(first->value)) return tree_hash(x);
  if (x.is_leaf()) return hash_leaf_input(x.leaf().value, nullptr);
  std::optional<ParentNode> trimmed;
  if (const ParentNode* p = parent(x)) {
    trimmed = *p;
    std::erase_if(trimmed->unmerged_leaves, [&](uint32_t u) { return contains_leaf(removed, u); });
  }
  Bytes l = hash_without(left_of(x), removed);
  Bytes r = hash_without(right_of(x), removed);
  return hash_parent_input(trimmed ? &*trimmed : nullptr, l, r);
}

Bytes RatchetTree::parent_hash(NodeIndex p, NodeIndex copath_child) const {
  const ParentNode* node = parent(p);
  if (node == nullptr) return {};
  LeafSpan span = leaf_span(copath_child);
  std::vector<LeafIndex> removed;
  for (uint32_t u : node->unmerged_leaves) {
    if (span.contains(u)) removed.emplace_back(u);
  }
  return hash_parent_hash_input(node->encryption_key, node->parent_hash,
                                hash_without(copath_child, removed));
}

std::vector<Bytes> RatchetTree::path_parent_hashes(std::span<const PathStep> steps,
                                                   std::span<const Bytes> keys,
                                                   Bytes& leaf_parent_hash) const {
  // Top down: each node's field is the parent hash of the next filtered node above it. Once the
  // path is set, its nodes have no unmerged leaves, so the sibling hash is the current one.
  std::vector<Bytes> fields(steps.size());
  Bytes above;
  for (size_t i = steps.size(); i-- > 0;) {
    fields[i] = above;
    above = hash_parent_hash_input(keys[i], fields[i], tree_hash(steps[i].copath_child));
  }
  leaf_parent_hash = std::move(above);
  return fields;
}

// ---- update paths ----

Result<void> RatchetTree::merge_update_path(LeafIndex sender, const UpdatePath& path) {
  if (sender.value >= leaf_count_) return fail("update path sender outside the tree");
  const Bytes* signed_hash = path.leaf_node.parent_hash();
  if (signed_hash == nullptr) return fail("update path leaf node source is not commit");
  std::vector<PathStep> steps = filtered_path(sender);
  if (path.nodes.size() != steps.size()) {
    return fail("update path has " + std::to_string(path.nodes.size()) + " nodes, expected " +
                std::to_string(steps.size()));
  }
  std::vector<Bytes> keys;
  keys.reserve(steps.size());
  for (const UpdatePathNode& n : path.nodes) keys.push_back(n.encryption_key);

  std::vector<std::pair<ByteView, uint32_t>> fresh;
  for (const Bytes& k : keys) fresh.emplace_back(k, 0);
  fresh.emplace_back(path.leaf_node.encryption_key, 0);
  if (find_duplicate(fresh)) return fail("update path repeats a public key");
  // One pass over the tree; the fresh keys are sorted, so each node costs a binary search.
  auto less = [](const auto& a, const auto& b) {
    return std::lexicographical_compare(a.first.begin(), a.first.end(), b.first.begin(),
                                        b.first.end());
  };
  for (uint32_t x = 0; x < nodes_.size(); ++x) {
    if (!nodes_[x]) continue;
    std::pair<ByteView, uint32_t> probe(encryption_key(NodeIndex(x)), 0);
    if (std::binary_search(fresh.begin(), fresh.end(), probe, less)) {
      return fail("update path public key already in the tree");
    }
  }

  Bytes leaf_hash;
  std::vector<Bytes> fields = path_parent_hashes(steps, keys, leaf_hash);
  if (!equal_ct(leaf_hash, *signed_hash)) return fail("update path parent hash mismatch");
  set_path(sender, steps, keys, std::move(fields), path.leaf_node);
  return {};
}

void RatchetTree::set_path(LeafIndex sender, std::span<const PathStep> steps,
                           std::span<const Bytes> keys, std::vector<Bytes> parent_hashes,
                           LeafNode leaf) {
  blank_path(sender);
  for (size_t i = 0; i < steps.size(); ++i) {
    set_node(steps[i].node, Node{ParentNode{keys[i], std::move(parent_hashes[i]), {}}});
  }
  set_node(NodeIndex(sender), Node{std::move(leaf)});
}

// ---- validation ----

bool RatchetTree::parent_hash_valid(NodeIndex p) const {
  const ParentNode* node = parent(p);
  if (node == nullptr) return false;
  int links = 0;
  for (bool left_side : {true, false}) {
    NodeIndex c = left_side ? left_of(p) : right_of(p);
    NodeIndex s = left_side ? right_of(p) : left_of(p);
    // D must be the one member of C's resolution that is not one of P's unmerged leaves under C.
    LeafSpan span = leaf_span(c);
    std::vector<NodeIndex> unmerged;
    for (uint32_t u : node->unmerged_leaves) {
      if (span.contains(u)) unmerged.emplace_back(LeafIndex(u));
    }
    std::vector<NodeIndex> res;
    if (!resolution_within(c, unmerged.size() + 1, res) || res.size() != unmerged.size() + 1) {
      continue;
    }
    std::optional<NodeIndex> d;
    size_t matched = 0;
    for (NodeIndex r : res) {
      if (std::binary_search(unmerged.begin(), unmerged.end(), r)) {
        ++matched;
      } else {
        d = r;
      }
    }
    if (!d || matched != unmerged.size()) continue;
    const Node& dn = *nodes_[d->value];
    const Bytes* d_hash =
        dn.leaf() != nullptr ? dn.leaf()->parent_hash() : &dn.parent()->parent_hash;
    if (d_hash == nullptr) continue;
    if (*d_hash == parent_hash(p, s)) ++links;
  }
  return links == 1;
}

Result<void> RatchetTree::verify_parent_hashes() const {
  for (uint32_t x = 1; x < nodes_.size(); x += 2) {
    if (nodes_[x] && !parent_hash_valid(NodeIndex(x))) {
      return fail("parent node " + std::to_string(x) + " is not parent-hash valid");
    }
  }
  return {};
}

Result<void> RatchetTree::validate_leaf(const LeafNode& leaf, uint8_t expected_source,
                                        std::optional<LeafIndex> replacing,
                                        const TreeCheck& check) const {
  if (leaf.source_type() != expected_source) return fail("leaf node has the wrong source");
  if (replacing && this->leaf(*replacing) == nullptr) return fail("replaced leaf is blank");
  if (!verify_leaf_node_signature(leaf, check.group_id, replacing.value_or(LeafIndex(0)))) {
    return fail("leaf node signature invalid");
  }
  if (Result<void> r = check_leaf_content(leaf, check); !r) return r;
  uint16_t own_type = leaf.credential.type();
  for (uint32_t i = 0; i < leaf_count_; ++i) {
    const LeafNode* other = this->leaf(LeafIndex(i));
    if (other == nullptr || LeafIndex(i) == replacing) continue;
    if (!listed(other->capabilities.credentials, own_type)) {
      return fail("credential type not supported by leaf " + std::to_string(i));
    }
    if (!listed(leaf.capabilities.credentials, other->credential.type())) {
      return fail("leaf node does not support the credential type of leaf " + std::to_string(i));
    }
  }
  if (has_encryption_key(leaf.encryption_key)) return fail("encryption key already in the tree");
  if (has_signature_key(leaf.signature_key, replacing)) {
    return fail("signature key already in the tree");
  }
  return {};
}

std::optional<LeafIndex> RatchetTree::find_leaf(const LeafNode& node) const {
  for (uint32_t i = 0; i < leaf_count_; ++i) {
    const LeafNode* l = leaf(LeafIndex(i));
    if (l != nullptr && *l == node) return LeafIndex(i);
  }
  return std::nullopt;
}

bool RatchetTree::leaf_signature_valid(LeafIndex i, ByteView group_id) const {
  const LeafNode* l = leaf(i);
  return l != nullptr && verify_leaf_node_signature(*l, group_id, i);
}

namespace {

// Checks every member's leaf signature, on a second thread as well when there are many: the
// worker starts at once and draws leaves from a shared counter while the caller makes the
// cheaper structural checks, then the caller draws too. Results land per leaf, so the reported
// failure does not depend on scheduling. Only immutable tree content is read concurrently.
class SignatureChecks {
 public:
  SignatureChecks(const RatchetTree& tree, const std::vector<LeafIndex>& members,
                  ByteView group_id, size_t parallel_threshold)
      : tree_(tree), members_(members), group_id_(group_id), ok_(members.size(), 0) {
    if (members.size() < parallel_threshold) return;
    try {
      worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread available: the caller verifies everything in finish().
    }
  }
  SignatureChecks(const SignatureChecks&) = delete;
  SignatureChecks& operator=(const SignatureChecks&) = delete;
  ~SignatureChecks() {
    stop_.store(true, std::memory_order_relaxed);
    if (worker_.joinable()) worker_.join();
  }

  // Verifies what is left, waits for the worker, and names the first member that failed.
  Result<void> finish() {
    run();
    if (worker_.joinable()) worker_.join();
    for (size_t k = 0; k < members_.size(); ++k) {
      if (!ok_[k]) return fail("leaf " + std::to_string(members_[k].value) + " signature invalid");
    }
    return {};
  }

 private:
  void run() {
    for (size_t k; !stop_.load(std::memory_order_relaxed) &&
                   (k = next_.fetch_add(1, std::memory_order_relaxed)) < members_.size();) {
      ok_[k] = tree_.leaf_signature_valid(members_[k], group_id_) ? 1 : 0;
    }
  }

  const RatchetTree& tree_;
  const std::vector<LeafIndex>& members_;
  ByteView group_id_;
  std::vector<uint8_t> ok_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace

Result<void> RatchetTree::validate(const TreeCheck& check) const {
  std::vector<LeafIndex> members = occupied_leaves();
  if (members.empty()) return fail("ratchet tree has no members");
  SignatureChecks signatures(*this, members, check.group_id, kParallelSignatureThreshold);
  if (!check.tree_hash.empty() && !equal_ct(tree_hash(), check.tree_hash)) {
    return fail("ratchet tree hash mismatch");
  }

  // Unmerged leaves name members below the parent, listed at every non-blank node in between.
  for (uint32_t x = 1; x < nodes_.size(); x += 2) {
    const ParentNode* p = parent(NodeIndex(x));
    if (p == nullptr) continue;
    for (uint32_t u : p->unmerged_leaves) {
      if (leaf(LeafIndex(u)) == nullptr) return fail("unmerged leaf is blank");
      for (NodeIndex a : tree_math::direct_path(NodeIndex(LeafIndex(u)), leaf_count_)) {
        if (a.value == x) break;
        const ParentNode* mid = parent(a);
        if (mid != nullptr &&
            !std::binary_search(mid->unmerged_leaves.begin(), mid->unmerged_leaves.end(), u)) {
          return fail("unmerged leaf missing from an intermediate node");
        }
      }
    }
  }

  std::vector<std::pair<ByteView, uint32_t>> enc_keys;
  std::vector<std::pair<ByteView, uint32_t>> sig_keys;
  for (uint32_t x = 0; x < nodes_.size(); ++x) {
    if (nodes_[x]) enc_keys.emplace_back(encryption_key(NodeIndex(x)), x);
  }
  for (LeafIndex i : members) sig_keys.emplace_back(leaf(i)->signature_key, i.value);
  if (find_duplicate(enc_keys)) return fail("duplicate encryption key in the tree");
  if (find_duplicate(sig_keys)) return fail("duplicate signature key in the tree");

  // Every member must support every credential type in use.
  std::vector<uint16_t> in_use;
  for (LeafIndex i : members) {
    uint16_t t = leaf(i)->credential.type();
    if (!listed(in_use, t)) in_use.push_back(t);
  }
  for (LeafIndex i : members) {
    const LeafNode& l = *leaf(i);
    if (Result<void> r = check_leaf_content(l, check); !r) {
      return fail("leaf " + std::to_string(i.value) + ": ", r.error());
    }
    for (uint16_t t : in_use) {
      if (!listed(l.capabilities.credentials, t)) {
        return fail("leaf " + std::to_string(i.value) + " does not support credential type " +
                    std::to_string(t) + " in use");
      }
    }
  }

  if (Result<void> ph = verify_parent_hashes(); !ph) return ph;
  return signatures.finish();
}

}  // namespace zerv::mls
