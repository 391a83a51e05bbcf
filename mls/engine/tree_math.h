#pragma once
// Index arithmetic of the array-based, left-balanced binary tree that holds the ratchet tree.
// Leaves sit at even node indices (leaf i at node 2i), parents at odd ones; a tree always has a
// power-of-two number of leaves.

#include <compare>
#include <cstdint>
#include <optional>
#include <vector>

namespace zerv::mls {

// Distinct types so a leaf index is never mistaken for a node index.
struct LeafIndex {
  uint32_t value = 0;
  constexpr LeafIndex() = default;
  constexpr explicit LeafIndex(uint32_t v) : value(v) {}
  auto operator<=>(const LeafIndex&) const = default;
};

struct NodeIndex {
  uint32_t value = 0;
  constexpr NodeIndex() = default;
  constexpr explicit NodeIndex(uint32_t v) : value(v) {}
  explicit NodeIndex(LeafIndex leaf) : value(leaf.value * 2) {}
  auto operator<=>(const NodeIndex&) const = default;

  bool is_leaf() const { return (value & 1) == 0; }
  // Only meaningful when is_leaf().
  LeafIndex leaf() const { return LeafIndex(value / 2); }
};

namespace tree_math {

// Level of a node: leaves are 0, their parents 1, and so on.
uint32_t level(NodeIndex x);
// Number of array slots for a tree of n_leaves leaves (0 for an empty tree).
uint64_t node_width(uint32_t n_leaves);
// Root of a tree of n_leaves leaves (n_leaves >= 1).
NodeIndex root(uint32_t n_leaves);

// Children of a parent node; nullopt for a leaf.
std::optional<NodeIndex> left(NodeIndex x);
std::optional<NodeIndex> right(NodeIndex x);
// Parent and sibling within a tree of n_leaves leaves; nullopt for the root or a node outside it.
std::optional<NodeIndex> parent(NodeIndex x, uint32_t n_leaves);
std::optional<NodeIndex> sibling(NodeIndex x, uint32_t n_leaves);

// Ancestors of x from its parent up to and including the root (empty for the root).
std::vector<NodeIndex> direct_path(NodeIndex x, uint32_t n_leaves);
// Siblings of x and of each node of its direct path except the root, from leaf to root.
std::vector<NodeIndex> copath(NodeIndex x, uint32_t n_leaves);
// Lowest node whose subtree holds both x and y (x itself when x == y).
NodeIndex common_ancestor(NodeIndex x, NodeIndex y);

// Whether node x lies inside a tree of n_leaves leaves.
bool in_tree(NodeIndex x, uint32_t n_leaves);

}  // namespace tree_math
}  // namespace zerv::mls
