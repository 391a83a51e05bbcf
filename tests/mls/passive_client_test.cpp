// Follows recorded groups as a member that only joins and processes: every file of the vector
// directory whose name starts with "passive-client-".

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/vectors.h"
#include "mls/engine/group.h"

namespace zerv::mls {
namespace {

using testing::hex;

std::filesystem::path vectors() { return testing::vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls"); }

Result<MLSMessage> message(const nlohmann::json& j) { return decode_all<MLSMessage>(hex(j)); }

// A time inside the lifetime of every leaf that carries one, so recorded (long expired) trees
// still validate.
uint64_t time_inside(const KeyPackage& kp, const std::vector<std::optional<Node>>& nodes) {
  uint64_t lo = kp.leaf_node.lifetime()->not_before, hi = kp.leaf_node.lifetime()->not_after;
  for (const auto& n : nodes) {
    if (!n || !n->leaf() || !n->leaf()->lifetime()) continue;
    lo = std::max(lo, n->leaf()->lifetime()->not_before);
    hi = std::min(hi, n->leaf()->lifetime()->not_after);
  }
  return lo + (hi >= lo ? (hi - lo) / 2 : 0);
}

void run_case(const nlohmann::json& c) {
  Storage storage;
  Result<MLSMessage> kp_msg = message(c["key_package"]);
  ASSERT_TRUE(kp_msg.has_value()) << kp_msg.error().message;
  const KeyPackage& kp = std::get<KeyPackage>(kp_msg->content);
  Bytes init_priv = hex(c["init_priv"]), enc_priv = hex(c["encryption_priv"]);
  store_key_package_private(storage, {to_secret(init_priv), to_secret(enc_priv), kp});
  Result<Signer> signer = Signer::from_private(hex(c["signature_priv"]));
  ASSERT_TRUE(signer.has_value());
  ASSERT_EQ(signer->public_key, kp.leaf_node.signature_key);
  signer->store(storage);
  for (const auto& psk : c["external_psks"]) {
    store_external_psk(storage, hex(psk["psk_id"]), hex(psk["psk"]));
  }

  Result<MLSMessage> welcome = message(c["welcome"]);
  ASSERT_TRUE(welcome.has_value()) << welcome.error().message;
  std::optional<std::vector<std::optional<Node>>> tree;
  if (!c["ratchet_tree"].is_null()) {
    auto nodes = decode_ratchet_tree(ByteView(hex(c["ratchet_tree"])));
    ASSERT_TRUE(nodes.has_value()) << nodes.error().message;
    tree = std::move(*nodes);
  }

  // The recorded lifetimes have expired: the clock is set inside them, which needs a look at the
  // tree first when it travels inside the Welcome.
  std::vector<std::optional<Node>> nodes;
  if (tree) {
    nodes = *tree;
  } else {
    const Welcome& w = std::get<Welcome>(welcome->content);
    const EncryptedGroupSecrets* entry = w.find_secrets(kp.ref());
    ASSERT_NE(entry, nullptr);
    Result<OpenedWelcome> opened = open_welcome(storage, w, *entry, init_priv);
    ASSERT_TRUE(opened.has_value()) << opened.error().message;
    auto ext = get_extension<RatchetTreeExtension>(opened->group_info.extensions);
    ASSERT_TRUE(ext.has_value() && ext->has_value());
    nodes = (*ext)->nodes;
  }
  uint64_t now = time_inside(kp, nodes);
  GroupConfig config;
  config.accept_public = true;
  config.resumption_psks = 16;
  Result<Group> group = Group::join(storage, std::get<Welcome>(welcome->content), config,
                                    [now] { return now; }, tree);
  ASSERT_TRUE(group.has_value()) << "join: " << group.error().message;
  ASSERT_EQ(to_hex(group->epoch_authenticator()), c["initial_epoch_authenticator"].get<std::string>());

  size_t index = 0;
  for (const auto& epoch : c["epochs"]) {
    SCOPED_TRACE("epoch entry " + std::to_string(index++) + " (group epoch " +
                 std::to_string(group->epoch()) + ")");
    for (const auto& p : epoch["proposals"]) {
      Result<MLSMessage> msg = message(p);
      ASSERT_TRUE(msg.has_value()) << msg.error().message;
      Result<ProcessedMessage> out = group->process(*msg);
      ASSERT_TRUE(out.has_value()) << "proposal: " << out.error().message;
      ASSERT_EQ(out->kind, ProcessedMessage::Kind::kProposal);
    }
    Result<MLSMessage> msg = message(epoch["commit"]);
    ASSERT_TRUE(msg.has_value()) << msg.error().message;
    Result<ProcessedMessage> out = group->process(*msg);
    ASSERT_TRUE(out.has_value()) << "commit: " << out.error().message;
    ASSERT_EQ(out->kind, ProcessedMessage::Kind::kCommit);
    Result<void> merged = group->merge_staged_commit(std::move(*out->commit));
    ASSERT_TRUE(merged.has_value()) << merged.error().message;
    ASSERT_EQ(to_hex(group->epoch_authenticator()), epoch["epoch_authenticator"].get<std::string>());
  }
}

TEST(PassiveClient, FollowsEveryRecordedGroup) {
  std::filesystem::path dir = vectors();
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no MLS vectors at " << dir;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with("passive-client-")) {
      files.push_back(entry.path());
    }
  }
  if (files.empty()) GTEST_SKIP() << "no passive-client vectors in " << dir;
  std::sort(files.begin(), files.end());
  size_t run = 0;
  for (const auto& file : files) {
    nlohmann::json cases = testing::load_json(file);
    for (size_t i = 0; i < cases.size(); ++i) {
      if (cases[i]["cipher_suite"].get<uint16_t>() != kCipherSuite) continue;
      SCOPED_TRACE(file.filename().string() + " case " + std::to_string(i));
      run_case(cases[i]);
      ++run;
    }
  }
  EXPECT_GT(run, 0u);
  std::printf("passive-client cases run: %zu\n", run);
}

}  // namespace
}  // namespace zerv::mls
