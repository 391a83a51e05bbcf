#include "mls/engine/key_package_builder.h"

#include <gtest/gtest.h>

#include <functional>

#include "crypto/crypto.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

constexpr uint64_t kNow = 1'800'000'000;

struct Built {
  Storage storage;
  Signer signer = Signer::generate();
  KeyPackage kp;
};

void build(Built& b) {
  Result<KeyPackage> kp =
      build_key_package(b.storage, b.signer, Credential::basic(to_bytes(as_bytes("alice"))), kNow);
  ASSERT_TRUE(kp.has_value()) << kp.error().message;
  b.kp = *kp;
}

TEST(KeyPackageBuilder, BuildsAValidPackageAndStoresItsPrivateKeys) {
  Built b;
  build(b);
  EXPECT_TRUE(validate_key_package(b.kp, kNow).has_value());
  EXPECT_EQ(b.kp.leaf_node.lifetime()->not_before, kNow - 3600);
  EXPECT_EQ(b.kp.leaf_node.lifetime()->not_after, kNow + 7257600);
  EXPECT_EQ(b.kp.leaf_node.capabilities, default_capabilities());

  Result<KeyPackagePrivate> priv = load_key_package_private(b.storage, b.kp.ref());
  ASSERT_TRUE(priv.has_value()) << priv.error().message;
  EXPECT_EQ(priv->key_package, b.kp);
  EXPECT_EQ(crypto::x25519_public_from_private(priv->init_private).value(), b.kp.init_key);
  EXPECT_EQ(crypto::x25519_public_from_private(priv->encryption_private).value(),
            b.kp.leaf_node.encryption_key);

  // Two packages never share keys.
  Built other;
  build(other);
  EXPECT_NE(other.kp.init_key, b.kp.init_key);
  EXPECT_FALSE(load_key_package_private(b.storage, other.kp.ref()).has_value());
}

TEST(KeyPackageBuilder, ValidationRefusesBadPackages) {
  Built b;
  build(b);
  const Signer& signer = b.signer;
  auto resign = [&signer](KeyPackage& kp) {
    kp.leaf_node.signature =
        *suite::sign_with_label(signer.private_key, "LeafNodeTBS", kp.leaf_node.to_be_signed({}, 0));
    kp.signature = *suite::sign_with_label(signer.private_key, "KeyPackageTBS", kp.to_be_signed());
  };
  struct Case {
    const char* name;
    std::function<void(KeyPackage&)> mutate;
    uint64_t now;
  };
  const Case cases[] = {
      {"flipped signature", [](KeyPackage& kp) { kp.signature[3] ^= 1; }, kNow},
      {"flipped leaf signature", [](KeyPackage& kp) { kp.leaf_node.signature[0] ^= 1; }, kNow},
      {"other version", [&](KeyPackage& kp) { kp.version = 2; resign(kp); }, kNow},
      {"other suite", [&](KeyPackage& kp) { kp.cipher_suite = 2; resign(kp); }, kNow},
      {"init key equals encryption key",
       [&](KeyPackage& kp) { kp.init_key = kp.leaf_node.encryption_key; resign(kp); }, kNow},
      {"update source", [&](KeyPackage& kp) { kp.leaf_node.source = UpdateSource{}; resign(kp); },
       kNow},
      {"credential type not in capabilities",
       [&](KeyPackage& kp) { kp.leaf_node.capabilities.credentials = {2}; resign(kp); }, kNow},
      {"unlisted leaf extension",
       [&](KeyPackage& kp) { kp.leaf_node.extensions = {{0xF0A0, {}}}; resign(kp); }, kNow},
      {"expired", [](KeyPackage&) {}, kNow + 7257601},
      {"not yet valid", [](KeyPackage&) {}, kNow - 3601},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyPackage kp = b.kp;
    c.mutate(kp);
    EXPECT_FALSE(validate_key_package(kp, c.now).has_value());
  }
}

}  // namespace
}  // namespace zerv::mls
