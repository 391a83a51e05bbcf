#include "mls/engine/key_schedule.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/vectors.h"
#include "mls/engine/group_context.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

TEST(KeySchedule, MatchesVectorsOverAllEpochs) {
  ZERV_LOAD_MLS_VECTORS(all, "key-schedule.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  ASSERT_FALSE(cases.empty());
  for (const auto& [index, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(index));
    const Bytes group_id = hex(c["group_id"]);
    SecretBytes init_secret = to_secret(hex(c["initial_init_secret"]));
    uint64_t epoch = 0;
    ASSERT_FALSE(c["epochs"].empty());
    for (const auto& e : c["epochs"]) {
      SCOPED_TRACE("epoch " + std::to_string(epoch));
      GroupContext ctx{kProtocolVersion,
                       kCipherSuite,
                       group_id,
                       epoch,
                       hex(e["tree_hash"]),
                       hex(e["confirmed_transcript_hash"]),
                       {}};
      const Bytes context = encode_one(ctx);
      EXPECT_EQ(context, hex(e["group_context"]));

      const Bytes psk = hex(e["psk_secret"]);
      EpochSecrets s = key_schedule::advance(init_secret, hex(e["commit_secret"]), psk, context);
      EXPECT_EQ(to_bytes(s.joiner_secret), hex(e["joiner_secret"]));
      EXPECT_EQ(to_bytes(s.welcome_secret), hex(e["welcome_secret"]));
      EXPECT_EQ(to_bytes(s.init_secret), hex(e["init_secret"]));
      EXPECT_EQ(to_bytes(s.sender_data_secret), hex(e["sender_data_secret"]));
      EXPECT_EQ(to_bytes(s.encryption_secret), hex(e["encryption_secret"]));
      EXPECT_EQ(to_bytes(s.exporter_secret), hex(e["exporter_secret"]));
      EXPECT_EQ(to_bytes(s.epoch_authenticator), hex(e["epoch_authenticator"]));
      EXPECT_EQ(to_bytes(s.external_secret), hex(e["external_secret"]));
      EXPECT_EQ(to_bytes(s.confirmation_key), hex(e["confirmation_key"]));
      EXPECT_EQ(to_bytes(s.membership_key), hex(e["membership_key"]));
      EXPECT_EQ(to_bytes(s.resumption_psk), hex(e["resumption_psk"]));

      auto external = key_schedule::external_key_pair(s.external_secret);
      ASSERT_TRUE(external) << external.error().message;
      EXPECT_EQ(external->public_key, hex(e["external_pub"]));

      // The label is a text string (it happens to look like hex).
      auto exported = key_schedule::export_secret(
          s.exporter_secret, e["exporter"]["label"].get<std::string>(),
          hex(e["exporter"]["context"]), e["exporter"]["length"].get<size_t>());
      ASSERT_TRUE(exported) << exported.error().message;
      EXPECT_EQ(to_bytes(*exported), hex(e["exporter"]["secret"]));

      // A joiner holding only joiner_secret reaches the same epoch.
      EXPECT_EQ(to_bytes(key_schedule::welcome_secret(s.joiner_secret, psk)), to_bytes(s.welcome_secret));
      EpochSecrets joined = key_schedule::from_joiner(s.joiner_secret, psk, context);
      EXPECT_EQ(to_bytes(joined.confirmation_key), to_bytes(s.confirmation_key));
      EXPECT_EQ(to_bytes(joined.encryption_secret), to_bytes(s.encryption_secret));
      EXPECT_EQ(to_bytes(joined.init_secret), to_bytes(s.init_secret));

      init_secret = s.init_secret;
      ++epoch;
    }
  }
}

TEST(KeySchedule, ExporterLengthBounds) {
  const Bytes secret(kHashSize, 7);
  struct Case {
    size_t length;
    bool ok;
  };
  for (Case c : {Case{0, false}, Case{1, true}, Case{key_schedule::kMaxExportLength, true},
                 Case{key_schedule::kMaxExportLength + 1, false}}) {
    SCOPED_TRACE(c.length);
    auto out = key_schedule::export_secret(secret, "zerv test", {}, c.length);
    ASSERT_EQ(out.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(out->size(), c.length);
    }
  }
}

TEST(KeySchedule, ExporterSeparatesLabelsAndContexts) {
  const Bytes secret(kHashSize, 7);
  const Bytes ctx_a{1}, ctx_b{2};
  auto a = key_schedule::export_secret(secret, "a", ctx_a, 32);
  auto b2 = key_schedule::export_secret(secret, "b", ctx_a, 32);
  auto c = key_schedule::export_secret(secret, "a", ctx_b, 32);
  ASSERT_TRUE(a && b2 && c);
  EXPECT_NE(*a, *b2);
  EXPECT_NE(*a, *c);
}

TEST(KeySchedule, WelcomeKeyAndConfirmationTag) {
  const Bytes welcome_secret(kHashSize, 3);
  auto wk = key_schedule::welcome_key(welcome_secret);
  EXPECT_EQ(wk.key.size(), kKeySize);
  EXPECT_EQ(wk.nonce.size(), kNonceSize);

  const Bytes key(kHashSize, 9), transcript(kHashSize, 4);
  Bytes tag = key_schedule::confirmation_tag(key, transcript);
  EXPECT_EQ(tag, suite::mac(key, transcript));
  EXPECT_TRUE(key_schedule::verify_confirmation_tag(key, transcript, tag));
  tag[5] ^= 1;
  EXPECT_FALSE(key_schedule::verify_confirmation_tag(key, transcript, tag));
  EXPECT_FALSE(key_schedule::verify_confirmation_tag(key, transcript, {}));
}

}  // namespace
}  // namespace zerv::mls
