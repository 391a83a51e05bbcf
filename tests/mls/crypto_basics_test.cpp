// The labelled operations of the ciphersuite against the crypto-basics interop vectors.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/vectors.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

class CryptoBasics : public ::testing::Test {
 protected:
  void SetUp() override {
    ZERV_LOAD_MLS_VECTORS(all, "crypto-basics.json");
    for (auto& [index, c] : zerv::testing::suite_cases(all, kCipherSuite)) cases_.push_back(c);
    ASSERT_FALSE(cases_.empty()) << "no case for cipher suite 1";
  }

  std::vector<nlohmann::json> cases_;
};

TEST_F(CryptoBasics, RefHash) {
  for (const auto& c : cases_) {
    const auto& v = c.at("ref_hash");
    EXPECT_EQ(suite::ref_hash(v.at("label").get<std::string>(), hex(v.at("value"))),
              hex(v.at("out")));
  }
}

TEST_F(CryptoBasics, ExpandWithLabel) {
  for (const auto& c : cases_) {
    const auto& v = c.at("expand_with_label");
    SecretBytes out =
        suite::expand_with_label(hex(v.at("secret")), v.at("label").get<std::string>(),
                                 hex(v.at("context")), v.at("length").get<uint16_t>());
    EXPECT_EQ(to_bytes(out), hex(v.at("out")));
  }
}

TEST_F(CryptoBasics, DeriveSecret) {
  for (const auto& c : cases_) {
    const auto& v = c.at("derive_secret");
    SecretBytes out = suite::derive_secret(hex(v.at("secret")), v.at("label").get<std::string>());
    EXPECT_EQ(to_bytes(out), hex(v.at("out")));
  }
}

TEST_F(CryptoBasics, DeriveTreeSecret) {
  for (const auto& c : cases_) {
    const auto& v = c.at("derive_tree_secret");
    SecretBytes out = suite::derive_tree_secret(
        hex(v.at("secret")), v.at("label").get<std::string>(), v.at("generation").get<uint32_t>(),
        v.at("length").get<uint16_t>());
    EXPECT_EQ(to_bytes(out), hex(v.at("out")));
  }
}

TEST_F(CryptoBasics, SignWithLabel) {
  for (const auto& c : cases_) {
    const auto& v = c.at("sign_with_label");
    const std::string label = v.at("label").get<std::string>();
    const Bytes pub = hex(v.at("pub")), content = hex(v.at("content"));
    EXPECT_TRUE(suite::verify_with_label(pub, label, content, hex(v.at("signature"))));
    auto own = suite::sign_with_label(hex(v.at("priv")), label, content);
    ASSERT_TRUE(own) << own.error().message;
    EXPECT_TRUE(suite::verify_with_label(pub, label, content, *own));
    // The label is bound into the signature.
    EXPECT_FALSE(suite::verify_with_label(pub, label + "!", content, *own));
  }
}

TEST_F(CryptoBasics, EncryptWithLabel) {
  for (const auto& c : cases_) {
    const auto& v = c.at("encrypt_with_label");
    const std::string label = v.at("label").get<std::string>();
    const Bytes priv = hex(v.at("priv")), context = hex(v.at("context"));
    const Bytes plaintext = hex(v.at("plaintext"));
    auto given = suite::decrypt_with_label(priv, label, context, hex(v.at("kem_output")),
                                           hex(v.at("ciphertext")));
    ASSERT_TRUE(given) << given.error().message;
    EXPECT_EQ(*given, plaintext);

    auto own = suite::encrypt_with_label(hex(v.at("pub")), label, context, plaintext);
    ASSERT_TRUE(own) << own.error().message;
    auto back = suite::decrypt_with_label(priv, label, context, own->kem_output, own->ciphertext);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, plaintext);
    // Label and context are bound into the encryption.
    EXPECT_FALSE(
        suite::decrypt_with_label(priv, label + "!", context, own->kem_output, own->ciphertext));
    EXPECT_FALSE(suite::decrypt_with_label(priv, label, {}, own->kem_output, own->ciphertext));
  }
}

}  // namespace
}  // namespace zerv::mls
