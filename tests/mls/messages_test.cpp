// Every structure of the messages vectors must decode and re-encode to the same bytes.

#include "mls/engine/messages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "common/vectors.h"
#include "mls/engine/codec.h"
#include "mls/engine/commit.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/proposals.h"
#include "mls/engine/suite.h"
#include "mls/engine/welcome.h"

namespace zerv::mls {
namespace {

std::filesystem::path vectors() {
  return zerv::testing::vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls");
}

// Decodes the whole input as T and encodes it again.
using RoundTrip = std::function<Result<Bytes>(ByteView)>;

template <class T>
Result<Bytes> round_trip(ByteView in) {
  Result<T> value = decode_all<T>(in);
  if (!value) return fail(value.error().message);
  return encode_one(*value);
}

Result<Bytes> ratchet_tree_round_trip(ByteView in) {
  auto nodes = decode_ratchet_tree(in);
  if (!nodes) return fail(nodes.error().message);
  return encode_ratchet_tree(*nodes);
}

// An MLSMessage that must carry the given wire format (and, for public messages, content type).
Result<Bytes> message_round_trip(ByteView in, uint16_t format, uint8_t type = 0) {
  Result<MLSMessage> m = decode_all<MLSMessage>(in);
  if (!m) return fail(m.error().message);
  if (m->wire_format() != format) return fail("unexpected wire format");
  if (const auto* pub = std::get_if<PublicMessage>(&m->content);
      pub != nullptr && pub->content.content_type() != type) {
    return fail("unexpected content type");
  }
  return encode_one(*m);
}

RoundTrip message(uint16_t format, uint8_t type = 0) {
  return [=](ByteView in) { return message_round_trip(in, format, type); };
}

const std::map<std::string, RoundTrip>& round_trips() {
  static const std::map<std::string, RoundTrip> table = {
      {"mls_welcome", message(wire_format::kWelcome)},
      {"mls_group_info", message(wire_format::kGroupInfo)},
      {"mls_key_package", message(wire_format::kKeyPackage)},
      {"group_secrets", round_trip<GroupSecrets>},
      {"public_message_application",
       message(wire_format::kPublicMessage, content_type::kApplication)},
      {"public_message_proposal", message(wire_format::kPublicMessage, content_type::kProposal)},
      {"public_message_commit", message(wire_format::kPublicMessage, content_type::kCommit)},
      {"private_message", message(wire_format::kPrivateMessage)},
      {"ratchet_tree", ratchet_tree_round_trip},
      {"add_proposal", round_trip<Add>},
      {"update_proposal", round_trip<Update>},
      {"remove_proposal", round_trip<Remove>},
      {"pre_shared_key_proposal", round_trip<PreSharedKey>},
      {"re_init_proposal", round_trip<ReInit>},
      {"external_init_proposal", round_trip<ExternalInit>},
      {"group_context_extensions_proposal", round_trip<GroupContextExtensions>},
      {"commit", round_trip<Commit>},
  };
  return table;
}

TEST(Messages, EveryStructureRoundTrips) {
  auto file = vectors() / "messages.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no MLS vectors at " << file;
  auto cases = zerv::testing::load_json(file);
  ASSERT_EQ(cases.size(), 300u);
  size_t checked = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    for (const auto& [field, encoded] : cases[i].items()) {
      auto it = round_trips().find(field);
      if (it == round_trips().end()) continue;
      SCOPED_TRACE("case " + std::to_string(i) + " " + field);
      Bytes in = zerv::testing::hex(encoded);
      Result<Bytes> out = it->second(in);
      ASSERT_TRUE(out.has_value()) << out.error().message;
      EXPECT_EQ(to_hex(*out), to_hex(in));
      ++checked;
    }
  }
  // Every field of every case has a decoder: nothing is skipped.
  EXPECT_EQ(checked, cases.size() * round_trips().size());
  EXPECT_EQ(round_trips().size(), 17u);
}

// The typed extensions the group infos carry decode through get_extension.
TEST(Messages, GroupInfoExtensionsDecode) {
  auto file = vectors() / "messages.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no MLS vectors at " << file;
  auto cases = zerv::testing::load_json(file);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    auto m = decode_all<MLSMessage>(zerv::testing::hex(cases[i]["mls_group_info"]));
    ASSERT_TRUE(m.has_value());
    const auto& info = std::get<GroupInfo>(m->content);

    auto tree = get_extension<RatchetTreeExtension>(info.extensions);
    ASSERT_TRUE(tree.has_value()) << tree.error().message;
    ASSERT_TRUE(tree->has_value());
    EXPECT_FALSE((*tree)->nodes.empty());
    auto pub = get_extension<ExternalPub>(info.extensions);
    ASSERT_TRUE(pub.has_value()) << pub.error().message;
    EXPECT_TRUE(pub->has_value());
    auto required = get_extension<RequiredCapabilities>(info.group_context.extensions);
    ASSERT_TRUE(required.has_value()) << required.error().message;
    EXPECT_TRUE(required->has_value());
    EXPECT_FALSE(get_extension<ExternalSenders>(info.group_context.extensions)->has_value());
  }
}

// A real key package: its signatures verify over our TBS encodings, and its reference addresses
// the welcome sent to it.
TEST(Messages, KeyPackageSignaturesAndReference) {
  auto file = vectors() / "welcome.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no MLS vectors at " << file;
  size_t checked = 0;
  for (const auto& c : zerv::testing::load_json(file)) {
    if (c["cipher_suite"].get<uint16_t>() != kCipherSuite) continue;
    auto kp_msg = decode_all<MLSMessage>(zerv::testing::hex(c["key_package"]));
    ASSERT_TRUE(kp_msg.has_value()) << kp_msg.error().message;
    const auto& kp = std::get<KeyPackage>(kp_msg->content);
    const Bytes& key = kp.leaf_node.signature_key;
    EXPECT_TRUE(suite::verify_with_label(key, "KeyPackageTBS", kp.to_be_signed(), kp.signature));
    EXPECT_TRUE(suite::verify_with_label(key, "LeafNodeTBS", kp.leaf_node.to_be_signed({}, 0),
                                         kp.leaf_node.signature));
    // The group binding is ignored for key_package leaves.
    EXPECT_EQ(kp.leaf_node.to_be_signed({}, 0), kp.leaf_node.to_be_signed(Bytes{1}, 5));

    auto welcome_msg = decode_all<MLSMessage>(zerv::testing::hex(c["welcome"]));
    ASSERT_TRUE(welcome_msg.has_value()) << welcome_msg.error().message;
    const auto& welcome = std::get<Welcome>(welcome_msg->content);
    Bytes ref = kp.ref();
    EXPECT_EQ(ref.size(), kHashSize);
    EXPECT_NE(welcome.find_secrets(ref), nullptr);
    EXPECT_EQ(welcome.find_secrets(Bytes(kHashSize, 0)), nullptr);
    ++checked;
  }
  EXPECT_GT(checked, 0u);
}

}  // namespace
}  // namespace zerv::mls
