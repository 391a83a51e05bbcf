#include "mls/engine/secret_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "common/vectors.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

TEST(SecretTree, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "secret-tree.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  ASSERT_FALSE(cases.empty());
  for (const auto& [index, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(index));
    const auto& sd = c["sender_data"];
    SenderDataKey sdk = sender_data_key(hex(sd["sender_data_secret"]), hex(sd["ciphertext"]));
    EXPECT_EQ(to_bytes(sdk.key), hex(sd["key"]));
    EXPECT_EQ(to_bytes(sdk.nonce), hex(sd["nonce"]));

    const auto n = static_cast<uint32_t>(c["leaves"].size());
    SCOPED_TRACE(std::to_string(n) + " leaves");
    SecretTree tree(hex(c["encryption_secret"]), n);
    for (uint32_t i = 0; i < n; ++i) {
      for (const auto& g : c["leaves"][i]) {
        const auto gen = g["generation"].get<uint32_t>();
        SCOPED_TRACE("leaf " + std::to_string(i) + " generation " + std::to_string(gen));
        auto hs = tree.key_for(LeafIndex(i), RatchetKind::kHandshake, gen);
        auto app = tree.key_for(LeafIndex(i), RatchetKind::kApplication, gen);
        ASSERT_TRUE(hs && app);
        EXPECT_EQ(hs->generation, gen);
        EXPECT_EQ(to_bytes(hs->key), hex(g["handshake_key"]));
        EXPECT_EQ(to_bytes(hs->nonce), hex(g["handshake_nonce"]));
        EXPECT_EQ(to_bytes(app->key), hex(g["application_key"]));
        EXPECT_EQ(to_bytes(app->nonce), hex(g["application_nonce"]));
      }
    }
  }
}

TEST(SecretTree, SenderDataSampleIsAtMostHashSize) {
  const Bytes secret(kHashSize, 1);
  Bytes long_ct(100, 5);
  Bytes sample(long_ct.begin(), long_ct.begin() + kHashSize);
  EXPECT_EQ(to_bytes(sender_data_key(secret, long_ct).key), to_bytes(sender_data_key(secret, sample).key));
  const Bytes short_ct(10, 5);  // shorter than Nh: the whole ciphertext is the sample
  EXPECT_EQ(to_bytes(sender_data_key(secret, short_ct).nonce),
            to_bytes(suite::expand_with_label(secret, "nonce", short_ct, kNonceSize)));
}

// Lazy derivation gives every leaf the same keys whatever order the leaves are first used in,
// and a generation handed out for sending is never handed out again.
TEST(SecretTree, LeavesAgreeAcrossDerivationOrder) {
  const Bytes secret(kHashSize, 0x42);
  SecretTree a(secret, 8), c(secret, 8);
  std::vector<Bytes> first(8), second(8);
  for (uint32_t i : {5u, 0u, 7u, 2u, 1u, 3u, 4u, 6u}) {
    auto k = a.next_key(LeafIndex(i), RatchetKind::kApplication);
    ASSERT_TRUE(k);
    first[i] = to_bytes(k->key);
  }
  for (uint32_t i = 0; i < 8; ++i) {
    auto k = c.key_for(LeafIndex(i), RatchetKind::kApplication, 0);
    ASSERT_TRUE(k);
    second[i] = to_bytes(k->key);
    EXPECT_FALSE(a.key_for(LeafIndex(i), RatchetKind::kApplication, 0));
  }
  EXPECT_EQ(first, second);
}

// A table of receive sequences on one ratchet with tolerance 5 and max_forward 1000.
struct Step {
  uint32_t generation;
  bool ok;
  bool consume = true;
};
struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

TEST(SecretTree, OutOfOrderReplayAndDistance) {
  const std::vector<Scenario> scenarios = {
      {"in order", {{0, true}, {1, true}, {2, true}}},
      {"replay of a consumed generation", {{0, true}, {0, false}}},
      {"late message within tolerance", {{3, true}, {1, true}, {0, true}, {2, true}}},
      {"late message replayed", {{3, true}, {1, true}, {1, false}}},
      {"late message beyond tolerance", {{10, true}, {5, true}, {4, false}}},
      {"skip forward drops the old window", {{0, true}, {2, true}, {100, true}, {1, false}}},
      {"maximum forward distance", {{1000, true}, {2001, true}, {3003, false}}},
      {"one past maximum forward distance", {{1001, false}, {0, true}}},
      {"failed decryption keeps the key", {{4, true, false}, {4, true}, {4, false}}},
      {"unconsumed key leaves window", {{0, true, false}, {6, true}, {0, false}}},
  };
  const Bytes secret(kHashSize, 9);
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    SecretTree tree(secret, 2);
    for (const Step& st : s.steps) {
      SCOPED_TRACE(st.generation);
      auto key = tree.key_for(LeafIndex(1), RatchetKind::kApplication, st.generation);
      ASSERT_EQ(key.has_value(), st.ok) << (key ? "" : key.error().message);
      if (!key) continue;
      SecretTree fresh(secret, 2, 0, 1u << 20);
      auto expect = fresh.key_for(LeafIndex(1), RatchetKind::kApplication, st.generation);
      ASSERT_TRUE(expect);
      EXPECT_EQ(to_bytes(key->key), to_bytes(expect->key));
      EXPECT_EQ(to_bytes(key->nonce), to_bytes(expect->nonce));
      if (st.consume) tree.consume(LeafIndex(1), RatchetKind::kApplication, st.generation);
    }
  }
}

TEST(SecretTree, RatchetsAreIndependent) {
  const Bytes secret(kHashSize, 9);
  SecretTree tree(secret, 4);
  auto app = tree.key_for(LeafIndex(3), RatchetKind::kApplication, 7);
  ASSERT_TRUE(app);
  tree.consume(LeafIndex(3), RatchetKind::kApplication, 7);
  // Other ratchet of the same leaf and other leaves are untouched.
  auto hs = tree.key_for(LeafIndex(3), RatchetKind::kHandshake, 0);
  auto other = tree.key_for(LeafIndex(2), RatchetKind::kApplication, 0);
  ASSERT_TRUE(hs && other);
  EXPECT_NE(to_bytes(hs->key), to_bytes(app->key));
  EXPECT_NE(to_bytes(other->key), to_bytes(app->key));
}

TEST(SecretTree, RefusesLeavesOutsideTheTree) {
  SecretTree tree(Bytes(kHashSize, 1), 4);
  EXPECT_FALSE(tree.next_key(LeafIndex(4), RatchetKind::kHandshake));
  EXPECT_FALSE(tree.key_for(LeafIndex(99), RatchetKind::kApplication, 0));
  SecretTree empty;
  EXPECT_FALSE(empty.next_key(LeafIndex(0), RatchetKind::kHandshake));
}

TEST(SecretTree, SendingRatchetCountsUp) {
  SecretTree tree(Bytes(kHashSize, 1), 2);
  for (uint32_t g = 0; g < 3; ++g) {
    auto k = tree.next_key(LeafIndex(0), RatchetKind::kHandshake);
    ASSERT_TRUE(k);
    EXPECT_EQ(k->generation, g);
  }
}

}  // namespace
}  // namespace zerv::mls
