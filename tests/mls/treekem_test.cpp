// Recorded update paths decrypted by every other member, and fresh paths created by each sender
// that every other member must be able to follow.

#include "mls/engine/treekem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "common/vectors.h"
#include "mls/engine/codec.h"
#include "mls/engine/group_context.h"
#include "mls/engine/ratchet_tree.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

struct Member {
  TreePrivate keys;
  Bytes signature_priv;
};

Bytes context_for(const nlohmann::json& c, ByteView tree_hash) {
  GroupContext gc;
  gc.version = kProtocolVersion;
  gc.cipher_suite = c["cipher_suite"].get<uint16_t>();
  gc.group_id = hex(c["group_id"]);
  gc.epoch = c["epoch"].get<uint64_t>();
  gc.tree_hash = to_bytes(tree_hash);
  gc.confirmed_transcript_hash = hex(c["confirmed_transcript_hash"]);
  return encode_one(gc);
}

TEST(TreeKem, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "treekem.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  if (cases.empty()) GTEST_SKIP() << "no case of this cipher suite";
  for (const auto& [n, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(n));
    Result<RatchetTree> tree = RatchetTree::decode(hex(c["ratchet_tree"]));
    ASSERT_TRUE(tree) << tree.error().message;
    Bytes group_id = hex(c["group_id"]);

    std::map<uint32_t, Member> members;
    for (const auto& lp : c["leaves_private"]) {
      LeafIndex leaf(lp["index"].get<uint32_t>());
      Bytes enc = hex(lp["encryption_priv"]);
      Result<TreePrivate> keys = TreePrivate::create(leaf, to_secret(enc));
      ASSERT_TRUE(keys) << keys.error().message;
      for (const auto& ps : lp["path_secrets"]) {
        Result<void> set = keys->set_path_secret(*tree, NodeIndex(ps["node"].get<uint32_t>()),
                                                 hex(ps["path_secret"]));
        ASSERT_TRUE(set) << set.error().message;
      }
      Result<void> consistent = keys->check(*tree);
      ASSERT_TRUE(consistent) << consistent.error().message;
      members[leaf.value] = Member{std::move(*keys), hex(lp["signature_priv"])};
    }

    for (const auto& up : c["update_paths"]) {
      LeafIndex sender(up["sender"].get<uint32_t>());
      SCOPED_TRACE("sender " + std::to_string(sender.value));
      Result<UpdatePath> path = decode_all<UpdatePath>(hex(up["update_path"]));
      ASSERT_TRUE(path) << path.error().message;

      RatchetTree merged = *tree;
      Result<void> merge = merged.merge_update_path(sender, *path);
      ASSERT_TRUE(merge) << merge.error().message;
      EXPECT_EQ(to_hex(merged.tree_hash()), up["tree_hash_after"].get<std::string>());
      EXPECT_TRUE(merged.verify_parent_hashes());
      Bytes context = context_for(c, merged.tree_hash());

      for (auto& [index, m] : members) {
        if (index == sender.value) continue;
        TreePrivate keys = m.keys;
        Result<TreePrivate::Decrypted> got =
            keys.decrypt_update_path(merged, sender, *path, context, {});
        ASSERT_TRUE(got) << "leaf " << index << ": " << got.error().message;
        EXPECT_EQ(to_hex(got->path_secret), up["path_secrets"][index].get<std::string>())
            << "leaf " << index;
        EXPECT_EQ(to_hex(got->commit_secret), up["commit_secret"].get<std::string>());
        EXPECT_TRUE(keys.check(merged)) << "leaf " << index;
      }

      // A fresh path from the same sender, followed by everyone else.
      auto own = members.find(sender.value);
      ASSERT_NE(own, members.end());
      RatchetTree committed = *tree;
      Result<PendingPath> pending = start_update_path(committed, sender, *tree->leaf(sender),
                                                      group_id, own->second.signature_priv);
      ASSERT_TRUE(pending) << pending.error().message;
      EXPECT_TRUE(pending->private_state.check(committed));
      EXPECT_TRUE(committed.verify_parent_hashes());
      EXPECT_TRUE(committed.leaf_signature_valid(sender, group_id));
      Bytes new_context = context_for(c, committed.tree_hash());
      Result<UpdatePath> fresh = encrypt_update_path(committed, *pending, new_context, {});
      ASSERT_TRUE(fresh) << fresh.error().message;
      for (auto& [index, m] : members) {
        if (index == sender.value) continue;
        RatchetTree theirs = *tree;
        Result<void> ok = theirs.merge_update_path(sender, *fresh);
        ASSERT_TRUE(ok) << ok.error().message;
        EXPECT_EQ(theirs.tree_hash(), committed.tree_hash());
        TreePrivate keys = m.keys;
        Result<TreePrivate::Decrypted> got =
            keys.decrypt_update_path(theirs, sender, *fresh, new_context, {});
        ASSERT_TRUE(got) << "leaf " << index << ": " << got.error().message;
        EXPECT_EQ(got->commit_secret, pending->commit_secret) << "leaf " << index;
      }
    }
  }
}

}  // namespace
}  // namespace zerv::mls
