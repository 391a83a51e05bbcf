#include <gtest/gtest.h>

#include "common/vectors.h"
#include "mls/engine/group.h"

namespace zerv::mls {
namespace {

using testing::hex;

TEST(WelcomeVectors, OpenVerifyAndConfirm) {
  auto file = testing::vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls") / "welcome.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no welcome vectors at " << file;
  size_t run = 0;
  for (const auto& c : testing::load_json(file)) {
    if (c["cipher_suite"].get<uint16_t>() != kCipherSuite) continue;
    SCOPED_TRACE("case " + std::to_string(run++));
    Result<MLSMessage> kp_msg = decode_all<MLSMessage>(hex(c["key_package"]));
    Result<MLSMessage> welcome_msg = decode_all<MLSMessage>(hex(c["welcome"]));
    ASSERT_TRUE(kp_msg && welcome_msg);
    const KeyPackage& kp = std::get<KeyPackage>(kp_msg->content);
    Welcome welcome = std::get<Welcome>(welcome_msg->content);
    const EncryptedGroupSecrets* entry = welcome.find_secrets(kp.ref());
    ASSERT_NE(entry, nullptr);

    Storage no_psks;
    Result<OpenedWelcome> opened = open_welcome(no_psks, welcome, *entry, hex(c["init_priv"]));
    ASSERT_TRUE(opened.has_value()) << opened.error().message;
    const GroupInfo& info = opened->group_info;
    EXPECT_TRUE(verify_group_info(info, hex(c["signer_pub"])));
    EXPECT_TRUE(key_schedule::verify_confirmation_tag(opened->secrets.confirmation_key,
                                                      info.group_context.confirmed_transcript_hash,
                                                      info.confirmation_tag));

    // Any change to the encrypted GroupInfo is caught by its AEAD.
    Welcome tampered = welcome;
    tampered.encrypted_group_info.back() ^= 1;
    EXPECT_FALSE(open_welcome(no_psks, tampered, *tampered.find_secrets(kp.ref()),
                              hex(c["init_priv"]))
                     .has_value());
    // A wrong signer key does not verify.
    Bytes other = hex(c["signer_pub"]);
    other[0] ^= 1;
    EXPECT_FALSE(verify_group_info(info, other));
  }
  EXPECT_GT(run, 0u);
}

}  // namespace
}  // namespace zerv::mls
