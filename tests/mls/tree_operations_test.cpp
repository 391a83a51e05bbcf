// Add, Update and Remove applied to recorded trees, compared byte for byte and by tree hash.

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/vectors.h"
#include "mls/engine/codec.h"
#include "mls/engine/proposals.h"
#include "mls/engine/ratchet_tree.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

TEST(TreeOperations, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "tree-operations.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  if (cases.empty()) GTEST_SKIP() << "no case of this cipher suite";
  for (const auto& [n, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(n));
    Result<RatchetTree> tree = RatchetTree::decode(hex(c["tree_before"]));
    ASSERT_TRUE(tree) << tree.error().message;
    EXPECT_EQ(to_hex(tree->tree_hash()), c["tree_hash_before"].get<std::string>());

    Result<Proposal> proposal = decode_all<Proposal>(hex(c["proposal"]));
    ASSERT_TRUE(proposal) << proposal.error().message;
    LeafIndex sender(c["proposal_sender"].get<uint32_t>());
    Result<void> applied;
    if (const auto* add = std::get_if<Add>(&proposal->content)) {
      tree->add_leaf(add->key_package.leaf_node);
    } else if (const auto* update = std::get_if<Update>(&proposal->content)) {
      applied = tree->update_leaf(sender, update->leaf_node);
    } else if (const auto* remove = std::get_if<Remove>(&proposal->content)) {
      applied = tree->remove_leaf(LeafIndex(remove->removed));
    } else {
      FAIL() << "unexpected proposal type " << proposal->type();
    }
    ASSERT_TRUE(applied) << applied.error().message;
    EXPECT_EQ(to_hex(tree->encode()), c["tree_after"].get<std::string>());
    EXPECT_EQ(to_hex(tree->tree_hash()), c["tree_hash_after"].get<std::string>());
  }
}

}  // namespace
}  // namespace zerv::mls
