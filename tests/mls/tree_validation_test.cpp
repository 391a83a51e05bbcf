// Recorded trees: per-node tree hashes and resolutions, parent-hash validity of every parent,
// leaf signatures, and the whole joiner's check.

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/vectors.h"
#include "mls/engine/ratchet_tree.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

TEST(TreeValidation, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "tree-validation.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  if (cases.empty()) GTEST_SKIP() << "no case of this cipher suite";
  for (const auto& [n, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(n));
    Result<RatchetTree> tree = RatchetTree::decode(hex(c["tree"]));
    ASSERT_TRUE(tree) << tree.error().message;
    Bytes group_id = hex(c["group_id"]);

    ASSERT_EQ(tree->node_count(), c["tree_hashes"].size());
    ASSERT_EQ(tree->node_count(), c["resolutions"].size());
    for (uint32_t i = 0; i < tree->node_count(); ++i) {
      EXPECT_EQ(to_hex(tree->tree_hash(NodeIndex(i))), c["tree_hashes"][i].get<std::string>())
          << "node " << i;
      std::vector<uint32_t> res;
      for (NodeIndex x : tree->resolution(NodeIndex(i))) res.push_back(x.value);
      EXPECT_EQ(res, c["resolutions"][i].get<std::vector<uint32_t>>()) << "node " << i;
      if (!tree->is_blank(NodeIndex(i))) {
        if (i % 2 == 1) {
          EXPECT_TRUE(tree->parent_hash_valid(NodeIndex(i))) << "parent " << i;
        } else {
          EXPECT_TRUE(tree->leaf_signature_valid(NodeIndex(i).leaf(), group_id)) << "leaf " << i;
        }
      }
    }
    Bytes root_hash = tree->tree_hash();
    Result<void> valid = tree->validate({group_id, root_hash, kSkipLifetimeCheck});
    EXPECT_TRUE(valid) << valid.error().message;

    // The same tree under another group id must fail on the leaves signed in the group.
    bool group_bound = false;
    for (LeafIndex l : tree->occupied_leaves()) {
      group_bound |= tree->leaf(l)->source_type() != leaf_node_source::kKeyPackage;
    }
    if (group_bound) {
      Bytes other = group_id;
      other.push_back(0);
      EXPECT_FALSE(tree->validate({other, root_hash, kSkipLifetimeCheck}));
    }
  }
}

}  // namespace
}  // namespace zerv::mls
