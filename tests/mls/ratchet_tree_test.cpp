// The ratchet tree and TreeKEM on groups built here with real keys: membership changes, the
// tree hash cache against a from-scratch computation, malformed and tampered trees, and paths
// that add members in the same commit.

#include "mls/engine/ratchet_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "mls/engine/suite.h"
#include "mls/engine/treekem.h"

namespace zerv::mls {
namespace {

const Bytes kGroupId = {'g', 'r', 'o', 'u', 'p'};
const Bytes kContext = {'c', 't', 'x'};

struct Identity {
  LeafNode leaf;
  SecretBytes encryption_priv;
  SecretBytes signature_priv;
};

Identity make_identity(uint32_t n, Lifetime lifetime = {0, ~uint64_t{0}}) {
  Identity id;
  suite::HpkeKeyPair enc = suite::generate_key_pair();
  crypto::Ed25519KeyPair sig = crypto::ed25519_generate();
  id.leaf.encryption_key = enc.public_key;
  id.leaf.signature_key = sig.public_key;
  id.leaf.credential = Credential::basic(Bytes{'m', static_cast<uint8_t>(n)});
  id.leaf.capabilities.versions = {kProtocolVersion};
  id.leaf.capabilities.cipher_suites = {kCipherSuite};
  id.leaf.capabilities.credentials = {credential_type::kBasic};
  id.leaf.source = lifetime;
  id.encryption_priv = std::move(enc.private_key);
  id.signature_priv = std::move(sig.private_key);
  EXPECT_TRUE(sign_leaf_node(id.leaf, {}, LeafIndex(0), id.signature_priv));
  return id;
}

std::vector<uint32_t> values(const std::vector<NodeIndex>& v) {
  std::vector<uint32_t> out;
  for (NodeIndex x : v) out.push_back(x.value);
  return out;
}

// A group whose members each hold their own private TreeKEM state.
class Group {
 public:
  explicit Group(uint32_t creator_tag = 0) {
    Identity id = make_identity(creator_tag);
    tree_ = RatchetTree(id.leaf);
    join(LeafIndex(0), std::move(id));
  }

  RatchetTree& tree() { return tree_; }
  const TreePrivate& keys(uint32_t leaf) { return members_.at(leaf).keys; }
  const SecretBytes& signature_priv(uint32_t leaf) { return members_.at(leaf).signature_priv; }
  size_t size() const { return members_.size(); }
  std::vector<uint32_t> member_leaves() const {
    std::vector<uint32_t> out;
    for (const auto& [leaf, m] : members_) out.push_back(leaf);
    return out;
  }

  // A member added without a commit yet: it holds only its leaf key.
  LeafIndex add() {
    Identity id = make_identity(next_tag_++);
    LeafIndex leaf = tree_.add_leaf(id.leaf);
    join(leaf, std::move(id));
    return leaf;
  }
  void remove(uint32_t leaf) {
    EXPECT_TRUE(tree_.remove_leaf(LeafIndex(leaf)));
    members_.erase(leaf);
  }

  // `committer` adds `adds` new members and removes `removes`, then sends a path that every
  // other existing member decrypts; joiners start from the Welcome path secret.
  void commit(uint32_t committer, int adds, std::vector<uint32_t> removes = {}) {
    for (uint32_t r : removes) {
      ASSERT_TRUE(tree_.remove_leaf(LeafIndex(r)));
      members_.erase(r);
    }
    std::vector<LeafIndex> added;
    std::vector<Identity> joiners;
    for (int i = 0; i < adds; ++i) {
      joiners.push_back(make_identity(next_tag_++));
      added.push_back(tree_.add_leaf(joiners.back().leaf));
    }
    RatchetTree before = tree_;
    Member& me = members_.at(committer);
    Result<PendingPath> pending =
        start_update_path(tree_, LeafIndex(committer), *tree_.leaf(LeafIndex(committer)), kGroupId,
                          me.signature_priv);
    ASSERT_TRUE(pending) << pending.error().message;
    Result<UpdatePath> path = encrypt_update_path(tree_, *pending, kContext, added);
    ASSERT_TRUE(path) << path.error().message;
    for (size_t i = 0; i < pending->steps.size(); ++i) {
      EXPECT_EQ(path->nodes[i].encrypted_path_secret.size(),
                tree_.resolution(pending->steps[i].copath_child, added).size());
    }
    for (auto& [leaf, m] : members_) {
      if (leaf == committer) continue;
      RatchetTree theirs = before;
      ASSERT_TRUE(theirs.merge_update_path(LeafIndex(committer), *path));
      ASSERT_EQ(theirs.tree_hash(), tree_.tree_hash());
      Result<TreePrivate::Decrypted> got =
          m.keys.decrypt_update_path(theirs, LeafIndex(committer), *path, kContext, added);
      ASSERT_TRUE(got) << "leaf " << leaf << ": " << got.error().message;
      EXPECT_EQ(got->commit_secret, pending->commit_secret);
      Result<void> consistent = m.keys.check(tree_);
      EXPECT_TRUE(consistent) << "leaf " << leaf << ": " << consistent.error().message;
    }
    me.keys = pending->private_state;
    for (size_t i = 0; i < added.size(); ++i) {
      join(added[i], std::move(joiners[i]));
      const SecretBytes* secret = pending->path_secret_for(added[i]);
      ASSERT_NE(secret, nullptr);
      NodeIndex ancestor =
          tree_math::common_ancestor(NodeIndex(added[i]), NodeIndex(LeafIndex(committer)));
      Result<SecretBytes> commit_secret =
          members_.at(added[i].value).keys.implant(tree_, ancestor, *secret);
      ASSERT_TRUE(commit_secret) << commit_secret.error().message;
      EXPECT_EQ(*commit_secret, pending->commit_secret);
    }
    for (auto& [leaf, m] : members_) {
      EXPECT_TRUE(m.keys.check(tree_)) << "leaf " << leaf;
    }
  }

 private:
  struct Member {
    TreePrivate keys;
    SecretBytes signature_priv;
  };

  void join(LeafIndex leaf, Identity id) {
    Result<TreePrivate> keys = TreePrivate::create(leaf, std::move(id.encryption_priv));
    ASSERT_TRUE(keys);
    members_[leaf.value] = Member{std::move(*keys), std::move(id.signature_priv)};
  }

  RatchetTree tree_;
  std::map<uint32_t, Member> members_;
  uint32_t next_tag_ = 1;
};

// A valid 6-member tree with parents, blanks and unmerged leaves.
Group busy_group() {
  Group g;
  g.commit(0, 4);
  g.commit(2, 2, {1});
  g.commit(3, 1);
  g.commit(5, 0);
  g.add();  // leaf 7, unmerged at nodes 11 and 7
  return g;
}

TEST(RatchetTree, AddFillsLeftmostBlankThenExtends) {
  RatchetTree tree(make_identity(0).leaf);
  EXPECT_EQ(tree.leaf_count(), 1u);
  EXPECT_EQ(tree.add_leaf(make_identity(1).leaf), LeafIndex(1));
  EXPECT_EQ(tree.add_leaf(make_identity(2).leaf), LeafIndex(2));
  EXPECT_EQ(tree.leaf_count(), 4u);
  ASSERT_TRUE(tree.remove_leaf(LeafIndex(1)));
  EXPECT_EQ(tree.leaf_count(), 4u);
  EXPECT_EQ(tree.add_leaf(make_identity(3).leaf), LeafIndex(1));
  EXPECT_EQ(tree.add_leaf(make_identity(4).leaf), LeafIndex(3));
  EXPECT_EQ(tree.add_leaf(make_identity(5).leaf), LeafIndex(4));
  EXPECT_EQ(tree.leaf_count(), 8u);
  EXPECT_FALSE(tree.remove_leaf(LeafIndex(6)));
  EXPECT_FALSE(tree.update_leaf(LeafIndex(7), make_identity(6).leaf));
  EXPECT_FALSE(tree.remove_leaf(LeafIndex(100)));
}

TEST(RatchetTree, AddRecordsUnmergedLeaves) {
  Group g;
  g.commit(0, 5);  // leaves 0..5 of 8; leaf 0's path sets nodes 1, 3 and 7
  RatchetTree& tree = g.tree();
  g.remove(2);
  EXPECT_FALSE(tree.is_blank(NodeIndex(1)));
  EXPECT_TRUE(tree.is_blank(NodeIndex(3)));
  EXPECT_TRUE(tree.is_blank(NodeIndex(7)));
  EXPECT_EQ(g.add(), LeafIndex(2));
  EXPECT_TRUE(tree.is_blank(NodeIndex(5)));
  g.commit(5, 0);  // sets 9 and 7; 11 is skipped, nothing is under 13 yet
  EXPECT_TRUE(tree.is_blank(NodeIndex(11)));
  EXPECT_EQ(g.add(), LeafIndex(6));
  EXPECT_EQ(g.add(), LeafIndex(7));
  ASSERT_NE(tree.parent(NodeIndex(7)), nullptr);
  EXPECT_EQ(tree.parent(NodeIndex(7))->unmerged_leaves, (std::vector<uint32_t>{6, 7}));
  EXPECT_TRUE(tree.parent(NodeIndex(9))->unmerged_leaves.empty());
  EXPECT_EQ(values(tree.resolution(NodeIndex(11))), (std::vector<uint32_t>{9, 12, 14}));
  EXPECT_EQ(values(tree.resolution(NodeIndex(7))), (std::vector<uint32_t>{7, 12, 14}));
  EXPECT_EQ(values(tree.resolution(NodeIndex(7), std::vector<LeafIndex>{LeafIndex(6)})),
            (std::vector<uint32_t>{7, 14}));
  EXPECT_EQ(values(tree.filtered_direct_path(LeafIndex(6))), (std::vector<uint32_t>{13, 11, 7}));
  EXPECT_EQ(values(tree.filtered_direct_path(LeafIndex(4))), (std::vector<uint32_t>{9, 11, 7}));
  EXPECT_TRUE(tree.validate({kGroupId, {}, kSkipLifetimeCheck}));
  g.commit(0, 0);  // the unmerged leaves decrypt at their own leaf keys
}

TEST(RatchetTree, RemoveTruncatesToRightmostMember) {
  struct Case {
    uint32_t members;
    std::vector<uint32_t> removes;
    uint32_t width;
  };
  const Case cases[] = {
      {5, {4}, 4},    {5, {3}, 8}, {8, {7, 6, 5, 4}, 4}, {8, {4, 5, 6, 7, 3}, 4},
      {3, {2, 1}, 1}, {2, {0}, 2}, {9, {8}, 8},
  };
  for (const Case& c : cases) {
    RatchetTree tree(make_identity(0).leaf);
    for (uint32_t i = 1; i < c.members; ++i) tree.add_leaf(make_identity(i).leaf);
    for (uint32_t r : c.removes) ASSERT_TRUE(tree.remove_leaf(LeafIndex(r)));
    EXPECT_EQ(tree.leaf_count(), c.width) << c.members << " members";
    Result<RatchetTree> fresh = RatchetTree::decode(tree.encode());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->leaf_count(), c.width);
  }
}

// Every node's cached hash must equal the hash of a copy computed from scratch, whatever
// sequence of changes came before.
TEST(RatchetTree, CachedHashesFollowEveryChange) {
  Group g;
  std::mt19937 rng(7);
  for (int step = 0; step < 60; ++step) {
    std::vector<uint32_t> leaves = g.member_leaves();
    uint32_t who = leaves[rng() % leaves.size()];
    switch (rng() % 4) {
      case 0:
        g.add();
        break;
      case 1:
        if (leaves.size() > 2) {
          uint32_t victim = leaves[rng() % leaves.size()];
          if (victim != who) {
            g.remove(victim);
            if (rng() % 2) g.commit(who, 0);
          }
        }
        break;
      case 2:
        g.commit(who, static_cast<int>(rng() % 3));
        break;
      default:
        ASSERT_TRUE(g.tree().update_leaf(LeafIndex(who), *g.tree().leaf(LeafIndex(who))));
        g.commit(who, 0);
        break;
    }
    if (HasFatalFailure()) return;
    Result<RatchetTree> fresh = RatchetTree::from_nodes(g.tree().to_nodes());
    ASSERT_TRUE(fresh);
    ASSERT_EQ(fresh->node_count(), g.tree().node_count());
    for (uint32_t x = 0; x < fresh->node_count(); ++x) {
      ASSERT_EQ(g.tree().tree_hash(NodeIndex(x)), fresh->tree_hash(NodeIndex(x)))
          << "step " << step << " node " << x;
    }
    ASSERT_TRUE(g.tree().validate({kGroupId, fresh->tree_hash(), kSkipLifetimeCheck}))
        << "step " << step;
  }
}

// Undo after changes that grow, shrink and rewrite the tree must give back the same tree, with
// every cached hash right.
TEST(RatchetTree, RollbackRestoresTreeAndHashes) {
  Group g = busy_group();
  Identity extra = make_identity(70);
  struct Case {
    const char* what;
    std::function<void(RatchetTree&)> change;
  };
  const Case cases[] = {
      {"adds that extend",
       [](RatchetTree& t) {
         for (int i = 0; i < 3; ++i) t.add_leaf(make_identity(71 + i).leaf);
       }},
      {"removals that truncate",
       [](RatchetTree& t) {
         for (uint32_t r : {7u, 6u, 5u, 4u, 1u}) ASSERT_TRUE(t.remove_leaf(LeafIndex(r)));
       }},
      {"truncate then extend",
       [](RatchetTree& t) {
         for (uint32_t r : {7u, 6u, 5u, 4u}) ASSERT_TRUE(t.remove_leaf(LeafIndex(r)));
         for (int i = 0; i < 6; ++i) t.add_leaf(make_identity(80 + i).leaf);
       }},
      {"update and path",
       [&](RatchetTree& t) {
         ASSERT_TRUE(t.update_leaf(LeafIndex(3), extra.leaf));
         ASSERT_TRUE(
             start_update_path(t, LeafIndex(3), extra.leaf, kGroupId, extra.signature_priv));
       }},
  };
  for (const Case& c : cases) {
    RatchetTree tree = g.tree();
    Bytes encoded = tree.encode();
    uint32_t width = tree.leaf_count();
    tree.begin_changes();
    c.change(tree);
    ASSERT_NE(tree.encode(), encoded) << c.what;
    tree.tree_hash();  // hashes cached for the changed tree must not survive the undo
    tree.rollback();
    EXPECT_EQ(tree.encode(), encoded) << c.what;
    ASSERT_EQ(tree.leaf_count(), width) << c.what;
    Result<RatchetTree> fresh = RatchetTree::decode(encoded);
    ASSERT_TRUE(fresh);
    for (uint32_t x = 0; x < tree.node_count(); ++x) {
      EXPECT_EQ(tree.tree_hash(NodeIndex(x)), fresh->tree_hash(NodeIndex(x)))
          << c.what << " node " << x;
    }

    tree.begin_changes();
    c.change(tree);
    Bytes changed = tree.encode();
    tree.keep_changes();
    tree.rollback();  // nothing left to undo
    EXPECT_EQ(tree.encode(), changed) << c.what;
  }
}

TEST(RatchetTree, DecodeRejectsMalformedTrees) {
  Identity a = make_identity(0);
  Identity b = make_identity(1);
  ParentNode p{suite::generate_key_pair().public_key, {}, {}};
  auto parent_with = [&](std::vector<uint32_t> unmerged) {
    ParentNode q = p;
    q.unmerged_leaves = std::move(unmerged);
    return std::optional<Node>(Node{q});
  };
  std::optional<Node> leaf_a = Node{a.leaf};
  std::optional<Node> leaf_b = Node{b.leaf};
  struct Case {
    const char* what;
    std::vector<std::optional<Node>> nodes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"trailing blank", {leaf_a, std::nullopt, std::nullopt}},
      {"leaf in a parent slot", {leaf_a, leaf_b, leaf_b}},
      {"parent in a leaf slot", {parent_with({}), parent_with({}), leaf_b}},
      {"unsorted unmerged", {leaf_a, parent_with({1, 0}), leaf_b}},
      {"repeated unmerged", {leaf_a, parent_with({1, 1}), leaf_b}},
      {"unmerged outside", {leaf_a, parent_with({2}), leaf_b, std::nullopt, leaf_a}},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(RatchetTree::from_nodes(c.nodes)) << c.what;
  }
  Result<RatchetTree> ok = RatchetTree::from_nodes({leaf_a, parent_with({1}), leaf_b});
  EXPECT_TRUE(ok);
  // Padding: five nodes make a four-leaf tree.
  Result<RatchetTree> padded =
      RatchetTree::from_nodes({leaf_a, std::nullopt, leaf_b, std::nullopt, leaf_a});
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->leaf_count(), 4u);
  EXPECT_EQ(padded->to_nodes().size(), 5u);
}

TEST(RatchetTree, ValidateCatchesTampering) {
  Group g = busy_group();
  const RatchetTree& good = g.tree();
  Bytes hash = good.tree_hash();
  ASSERT_TRUE(good.validate({kGroupId, hash, 1000}));

  auto first_parent = [](std::vector<std::optional<Node>>& nodes) -> ParentNode& {
    for (size_t i = 1; i < nodes.size(); i += 2) {
      if (nodes[i]) return std::get<ParentNode>(nodes[i]->content);
    }
    throw std::logic_error("no parent");
  };
  auto leaf_at = [](std::vector<std::optional<Node>>& nodes, uint32_t i) -> LeafNode& {
    return std::get<LeafNode>(nodes[2 * i]->content);
  };
  // The unmerged leaf listed at the lowest parent, which must also be listed higher up.
  auto lowest_unmerged = [](std::vector<std::optional<Node>>& nodes) -> ParentNode& {
    ParentNode* best = nullptr;
    uint32_t best_level = 99;
    for (uint32_t i = 1; i < nodes.size(); i += 2) {
      if (!nodes[i]) continue;
      auto& p = std::get<ParentNode>(nodes[i]->content);
      if (!p.unmerged_leaves.empty() && tree_math::level(NodeIndex(i)) < best_level) {
        best = &p;
        best_level = tree_math::level(NodeIndex(i));
      }
    }
    if (best == nullptr) throw std::logic_error("no unmerged leaf");
    return *best;
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<std::optional<Node>>&)> tamper;
    const char* error;
  };
  const Case cases[] = {
      // Leaf 7 is unmerged everywhere above it, so no parent hash covers it.
      {"leaf signature", [&](auto& n) { leaf_at(n, 7).signature[3] ^= 1; }, "signature"},
      {"parent key", [&](auto& n) { first_parent(n).encryption_key[0] ^= 1; }, "parent-hash"},
      {"parent hash", [&](auto& n) { first_parent(n).parent_hash.push_back(0); }, "parent-hash"},
      {"duplicate encryption key",
       [&](auto& n) { leaf_at(n, 2).encryption_key = leaf_at(n, 0).encryption_key; },
       "duplicate encryption key"},
      {"duplicate signature key",
       [&](auto& n) { leaf_at(n, 2).signature_key = leaf_at(n, 0).signature_key; },
       "duplicate signature key"},
      {"credential type not offered",
       [&](auto& n) { leaf_at(n, 0).capabilities.credentials = {credential_type::kX509}; },
       "capabilities"},
      {"unsupported extension",
       [&](auto& n) {
         leaf_at(n, 0).extensions.push_back({0x0a0a, {}});
       },
       "capabilities"},
      {"unmerged leaf dropped below", [&](auto& n) { lowest_unmerged(n).unmerged_leaves.clear(); },
       "intermediate"},
  };
  for (const Case& c : cases) {
    std::vector<std::optional<Node>> nodes = good.to_nodes();
    c.tamper(nodes);
    Result<RatchetTree> bad = RatchetTree::from_nodes(nodes);
    ASSERT_TRUE(bad) << c.what;
    Result<void> r = bad->validate({kGroupId, {}, kSkipLifetimeCheck});
    ASSERT_FALSE(r) << c.what;
    EXPECT_NE(r.error().message.find(c.error), std::string::npos)
        << c.what << ": " << r.error().message;
  }

  EXPECT_FALSE(good.validate({kGroupId, Bytes(32, 0), kSkipLifetimeCheck})) << "tree hash";
  EXPECT_FALSE(good.validate({Bytes{'x'}, hash, kSkipLifetimeCheck})) << "group id";

  // Lifetimes are checked only against the time passed in.
  RatchetTree timed = good;
  timed.add_leaf(make_identity(50, {100, 200}).leaf);
  EXPECT_TRUE(timed.validate({kGroupId, {}, 150}));
  EXPECT_FALSE(timed.validate({kGroupId, {}, 99}));
  EXPECT_FALSE(timed.validate({kGroupId, {}, 201}));
  EXPECT_TRUE(timed.validate({kGroupId, {}, kSkipLifetimeCheck}));

  RequiredCapabilities required;
  required.extension_types = {0x0a0a};
  EXPECT_FALSE(good.validate({kGroupId, {}, kSkipLifetimeCheck, &required}));
}

TEST(RatchetTree, ValidateLeafBeforeItEntersTheTree) {
  Group g = busy_group();
  const RatchetTree& tree = g.tree();
  const TreeCheck check{kGroupId, {}, 1000};
  const uint8_t kp = leaf_node_source::kKeyPackage;
  const uint8_t upd = leaf_node_source::kUpdate;

  Identity fresh = make_identity(60);
  EXPECT_TRUE(tree.validate_leaf(fresh.leaf, kp, std::nullopt, check));
  EXPECT_FALSE(tree.validate_leaf(fresh.leaf, upd, LeafIndex(2), check));

  // An Update for leaf 2, signed for that position in this group.
  auto update_for = [&](uint32_t signed_index) {
    Identity id = make_identity(61);
    id.leaf.source = UpdateSource{};
    EXPECT_TRUE(sign_leaf_node(id.leaf, kGroupId, LeafIndex(signed_index), id.signature_priv));
    return id;
  };
  EXPECT_TRUE(tree.validate_leaf(update_for(2).leaf, upd, LeafIndex(2), check));
  EXPECT_FALSE(tree.validate_leaf(update_for(3).leaf, upd, LeafIndex(2), check));
  EXPECT_FALSE(tree.validate_leaf(update_for(20).leaf, upd, LeafIndex(20), check)) << "no leaf";

  struct Case {
    const char* what;
    std::function<void(Identity&)> change;
    const char* error;
  };
  const Case cases[] = {
      {"encryption key reused",
       [&](Identity& id) { id.leaf.encryption_key = tree.leaf(LeafIndex(3))->encryption_key; },
       "encryption key"},
      {"signature key reused",
       [&](Identity& id) {
         id.leaf.signature_key = tree.leaf(LeafIndex(3))->signature_key;
         id.signature_priv = g.signature_priv(3);
       },
       "signature key"},
      {"expired",
       [](Identity& id) {
         id.leaf.source = Lifetime{0, 999};
       },
       "lifetime"},
      {"credential others lack",
       [](Identity& id) {
         id.leaf.credential = Credential{X509Credential{{Bytes{1}}}};
         id.leaf.capabilities.credentials = {credential_type::kBasic, credential_type::kX509};
       },
       "not supported"},
  };
  for (const Case& c : cases) {
    Identity id = make_identity(62);
    c.change(id);
    // Re-signed, so only the property under test is wrong.
    ASSERT_TRUE(sign_leaf_node(id.leaf, {}, LeafIndex(0), id.signature_priv));
    Result<void> r = tree.validate_leaf(id.leaf, kp, std::nullopt, check);
    ASSERT_FALSE(r) << c.what;
    EXPECT_NE(r.error().message.find(c.error), std::string::npos)
        << c.what << ": " << r.error().message;
  }

  EXPECT_EQ(tree.find_leaf(*tree.leaf(LeafIndex(3))), LeafIndex(3));
  EXPECT_EQ(tree.find_leaf(fresh.leaf), std::nullopt);
}

TEST(RatchetTree, MergeRejectsBadPathsAndLeavesTreeUnchanged) {
  Group g = busy_group();
  RatchetTree before = g.tree();
  RatchetTree committed = before;
  Identity sender_keys = make_identity(77);
  // Re-key the sender's leaf so this test can sign for it.
  LeafIndex sender(0);
  ASSERT_TRUE(committed.update_leaf(sender, sender_keys.leaf));
  RatchetTree base = committed;
  Result<PendingPath> pending =
      start_update_path(committed, sender, sender_keys.leaf, kGroupId, sender_keys.signature_priv);
  ASSERT_TRUE(pending);
  Result<UpdatePath> path = encrypt_update_path(committed, *pending, kContext, {});
  ASSERT_TRUE(path);
  ASSERT_GE(path->nodes.size(), 2u);

  struct Case {
    const char* what;
    std::function<void(UpdatePath&)> tamper;
  };
  const Case cases[] = {
      {"node missing", [](UpdatePath& p) { p.nodes.pop_back(); }},
      {"node key changed", [](UpdatePath& p) { p.nodes[1].encryption_key[2] ^= 1; }},
      {"key reused",
       [&](UpdatePath& p) {
         p.nodes[0].encryption_key = to_bytes(base.encryption_key(NodeIndex(LeafIndex(1))));
       }},
      {"repeated key",
       [](UpdatePath& p) { p.nodes[1].encryption_key = p.nodes[0].encryption_key; }},
      {"not a commit leaf", [](UpdatePath& p) { p.leaf_node.source = UpdateSource{}; }},
  };
  for (const Case& c : cases) {
    UpdatePath bad = *path;
    c.tamper(bad);
    RatchetTree tree = base;
    EXPECT_FALSE(tree.merge_update_path(sender, bad)) << c.what;
    EXPECT_EQ(tree.encode(), base.encode()) << c.what;
    EXPECT_EQ(tree.tree_hash(), base.tree_hash()) << c.what;
  }
  RatchetTree tree = base;
  EXPECT_FALSE(tree.merge_update_path(LeafIndex(base.leaf_count()), *path));
  ASSERT_TRUE(tree.merge_update_path(sender, *path));
  EXPECT_EQ(tree.tree_hash(), committed.tree_hash());
}

TEST(TreeKem, FailedDecryptionKeepsKeys) {
  Group g = busy_group();
  RatchetTree before = g.tree();
  std::vector<uint32_t> leaves = g.member_leaves();
  ASSERT_GE(leaves.size(), 3u);
  // Member 2 (a committer earlier) sends a path; member at leaves[0] receives it.
  Identity sender_keys = make_identity(88);
  LeafIndex sender(leaves[1]);
  RatchetTree committed = before;
  ASSERT_TRUE(committed.update_leaf(sender, sender_keys.leaf));
  RatchetTree base = committed;
  Result<PendingPath> pending =
      start_update_path(committed, sender, sender_keys.leaf, kGroupId, sender_keys.signature_priv);
  ASSERT_TRUE(pending);
  Result<UpdatePath> path = encrypt_update_path(committed, *pending, kContext, {});
  ASSERT_TRUE(path);
  ASSERT_TRUE(base.merge_update_path(sender, *path));

  TreePrivate keys = g.keys(leaves[0]);
  Result<TreePrivate::Decrypted> wrong =
      keys.decrypt_update_path(base, sender, *path, Bytes{'o', 't', 'h', 'e', 'r'}, {});
  EXPECT_FALSE(wrong);
  EXPECT_TRUE(keys.check(before)) << "keys changed by a failed decryption";
  Result<TreePrivate::Decrypted> right =
      keys.decrypt_update_path(base, sender, *path, kContext, {});
  ASSERT_TRUE(right) << right.error().message;
  EXPECT_EQ(right->commit_secret, pending->commit_secret);
  EXPECT_FALSE(keys.decrypt_update_path(base, LeafIndex(leaves[0]), *path, kContext, {}));
}

TEST(TreeKem, SingleMemberPathHasNoNodes) {
  Identity id = make_identity(0);
  RatchetTree tree(id.leaf);
  Result<PendingPath> pending =
      start_update_path(tree, LeafIndex(0), id.leaf, kGroupId, id.signature_priv);
  ASSERT_TRUE(pending);
  EXPECT_TRUE(pending->steps.empty());
  EXPECT_EQ(pending->commit_secret.size(), kHashSize);
  EXPECT_TRUE(tree.leaf_signature_valid(LeafIndex(0), kGroupId));
  EXPECT_TRUE(pending->private_state.check(tree));
}

}  // namespace
}  // namespace zerv::mls
