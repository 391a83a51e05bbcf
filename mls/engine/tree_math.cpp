#include "mls/engine/tree_math.h"

namespace zerv::mls::tree_math {

namespace {

// Exponent of the largest power of two not above x (0 for x == 0).
uint32_t log2_floor(uint64_t x) {
  uint32_t k = 0;
  while ((x >> (k + 1)) > 0) ++k;
  return k;
}

}  // namespace

uint32_t level(NodeIndex x) {
  uint32_t k = 0;
  while (k < 32 && ((x.value >> k) & 1) == 1) ++k;
  return k;
}

uint64_t node_width(uint32_t n_leaves) {
  return n_leaves == 0 ? 0 : 2 * (uint64_t{n_leaves} - 1) + 1;
}

NodeIndex root(uint32_t n_leaves) {
  uint64_t w = node_width(n_leaves);
  return NodeIndex(static_cast<uint32_t>((uint64_t{1} << log2_floor(w)) - 1));
}

bool in_tree(NodeIndex x, uint32_t n_leaves) { return x.value < node_width(n_leaves); }

std::optional<NodeIndex> left(NodeIndex x) {
  uint32_t k = level(x);
  if (k == 0 || k >= 32) return std::nullopt;
  return NodeIndex(x.value ^ (uint32_t{1} << (k - 1)));
}

std::optional<NodeIndex> right(NodeIndex x) {
  uint32_t k = level(x);
  if (k == 0 || k >= 32) return std::nullopt;
  return NodeIndex(x.value ^ (uint32_t{3} << (k - 1)));
}

std::optional<NodeIndex> parent(NodeIndex x, uint32_t n_leaves) {
  if (!in_tree(x, n_leaves) || x == root(n_leaves)) return std::nullopt;
  uint32_t k = level(x);
  uint64_t v = x.value;
  uint64_t b = (v >> (k + 1)) & 1;
  return NodeIndex(static_cast<uint32_t>((v | (uint64_t{1} << k)) ^ (b << (k + 1))));
}

std::optional<NodeIndex> sibling(NodeIndex x, uint32_t n_leaves) {
  std::optional<NodeIndex> p = parent(x, n_leaves);
  if (!p) return std::nullopt;
  return x < *p ? right(*p) : left(*p);
}

std::vector<NodeIndex> direct_path(NodeIndex x, uint32_t n_leaves) {
  std::vector<NodeIndex> path;
  for (std::optional<NodeIndex> p = parent(x, n_leaves); p; p = parent(*p, n_leaves)) {
    path.push_back(*p);
  }
  return path;
}

std::vector<NodeIndex> copath(NodeIndex x, uint32_t n_leaves) {
  std::vector<NodeIndex> out;
  for (NodeIndex n = x; std::optional<NodeIndex> s = sibling(n, n_leaves);) {
    out.push_back(*s);
    n = *parent(n, n_leaves);
  }
  return out;
}

NodeIndex common_ancestor(NodeIndex x, NodeIndex y) {
  // Shared high bits identify the subtree; an ancestor relation is handled first.
  uint32_t lx = level(x) + 1;
  uint32_t ly = level(y) + 1;
  uint64_t xv = x.value;
  uint64_t yv = y.value;
  if (lx <= ly && (xv >> ly) == (yv >> ly)) return y;
  if (ly <= lx && (xv >> lx) == (yv >> lx)) return x;
  uint32_t k = 0;
  while (xv != yv) {
    xv >>= 1;
    yv >>= 1;
    ++k;
  }
  return NodeIndex(static_cast<uint32_t>((xv << k) + (uint64_t{1} << (k - 1)) - 1));
}

}  // namespace zerv::mls::tree_math
