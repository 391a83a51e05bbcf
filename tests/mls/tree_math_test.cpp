#include "mls/engine/tree_math.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "common/vectors.h"

namespace zerv::mls {
namespace {

namespace tm = tree_math;

std::filesystem::path vectors() {
  return zerv::testing::vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls");
}

std::optional<uint32_t> expected(const nlohmann::json& j) {
  if (j.is_null()) return std::nullopt;
  return j.get<uint32_t>();
}

std::optional<uint32_t> value(std::optional<NodeIndex> n) {
  if (!n) return std::nullopt;
  return n->value;
}

TEST(TreeMath, MatchesVectors) {
  auto file = vectors() / "tree-math.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no MLS vectors at " << file;
  auto cases = zerv::testing::load_json(file);
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    uint32_t n = c["n_leaves"].get<uint32_t>();
    SCOPED_TRACE("n_leaves " + std::to_string(n));
    EXPECT_EQ(tm::node_width(n), c["n_nodes"].get<uint64_t>());
    EXPECT_EQ(tm::root(n).value, c["root"].get<uint32_t>());
    for (uint32_t i = 0; i < tm::node_width(n); ++i) {
      NodeIndex x(i);
      EXPECT_EQ(value(tm::left(x)), expected(c["left"][i])) << "left " << i;
      EXPECT_EQ(value(tm::right(x)), expected(c["right"][i])) << "right " << i;
      EXPECT_EQ(value(tm::parent(x, n)), expected(c["parent"][i])) << "parent " << i;
      EXPECT_EQ(value(tm::sibling(x, n)), expected(c["sibling"][i])) << "sibling " << i;
    }
  }
}

// Paths and common ancestors checked against their definitions on an 8-leaf tree.
TEST(TreeMath, PathsAndCommonAncestor) {
  const uint32_t n = 8;
  auto to_values = [](const std::vector<NodeIndex>& v) {
    std::vector<uint32_t> out;
    for (NodeIndex x : v) out.push_back(x.value);
    return out;
  };
  EXPECT_EQ(to_values(tm::direct_path(NodeIndex(LeafIndex(0)), n)),
            (std::vector<uint32_t>{1, 3, 7}));
  EXPECT_EQ(to_values(tm::copath(NodeIndex(LeafIndex(0)), n)), (std::vector<uint32_t>{2, 5, 11}));
  EXPECT_EQ(to_values(tm::direct_path(NodeIndex(10), n)), (std::vector<uint32_t>{9, 11, 7}));
  EXPECT_EQ(to_values(tm::copath(NodeIndex(10), n)), (std::vector<uint32_t>{8, 13, 3}));
  EXPECT_TRUE(tm::direct_path(tm::root(n), n).empty());
  EXPECT_TRUE(tm::copath(tm::root(n), n).empty());
  EXPECT_TRUE(tm::direct_path(NodeIndex(0), 1).empty());
  EXPECT_EQ(tm::parent(NodeIndex(15), n), std::nullopt);  // outside the tree

  // Against the lowest shared node of the two direct paths, for every pair of nodes.
  for (uint32_t a = 0; a < tm::node_width(n); ++a) {
    for (uint32_t b = 0; b < tm::node_width(n); ++b) {
      auto pa = tm::direct_path(NodeIndex(a), n);
      pa.insert(pa.begin(), NodeIndex(a));
      auto pb = tm::direct_path(NodeIndex(b), n);
      pb.insert(pb.begin(), NodeIndex(b));
      std::optional<NodeIndex> lowest;
      for (NodeIndex x : pa) {
        if (std::find(pb.begin(), pb.end(), x) != pb.end()) {
          lowest = x;
          break;
        }
      }
      ASSERT_TRUE(lowest);
      EXPECT_EQ(tm::common_ancestor(NodeIndex(a), NodeIndex(b)), *lowest) << a << "," << b;
    }
  }
}

TEST(TreeMath, LargestTreeStaysInRange) {
  const uint32_t n = uint32_t{1} << 31;
  EXPECT_EQ(tm::node_width(n), (uint64_t{1} << 32) - 1);
  EXPECT_EQ(tm::root(n).value, (uint32_t{1} << 31) - 1);
  NodeIndex last(uint32_t{0xFFFFFFFE});
  EXPECT_EQ(tm::direct_path(last, n).size(), 31u);
  EXPECT_EQ(tm::direct_path(last, n).back(), tm::root(n));
}

}  // namespace
}  // namespace zerv::mls
