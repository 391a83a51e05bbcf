// X25519, Ed25519 and random bytes.
#include <gtest/gtest.h>

#include "crypto/crypto.h"
#include "tests/crypto/test_util.h"

namespace zerv::crypto {
namespace {

// RFC 7748 section 6.1.
TEST(X25519, Rfc7748Exchange) {
  const Bytes alice = unhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
  const Bytes bob = unhex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
  auto alice_pub = x25519_public_from_private(alice);
  auto bob_pub = x25519_public_from_private(bob);
  ASSERT_TRUE(alice_pub && bob_pub);
  EXPECT_EQ(hex_of(*alice_pub), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(hex_of(*bob_pub), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  const char* shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
  EXPECT_EQ(hex_of(*x25519(alice, *bob_pub)), shared);
  EXPECT_EQ(hex_of(*x25519(bob, *alice_pub)), shared);
}

TEST(X25519, GeneratedPairsAgree) {
  X25519KeyPair a = x25519_generate(), b = x25519_generate();
  EXPECT_NE(a.public_key, b.public_key);
  EXPECT_EQ(*x25519_public_from_private(a.private_key), a.public_key);
  EXPECT_EQ(*x25519(a.private_key, b.public_key), *x25519(b.private_key, a.public_key));
}

// Points of small order give an all-zero shared secret, which must be refused.
TEST(X25519, RejectsLowOrderPoints) {
  const Bytes priv(32, 0x77);
  for (const char* point : {
           "0000000000000000000000000000000000000000000000000000000000000000",
           "0100000000000000000000000000000000000000000000000000000000000000",
           "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
       }) {
    auto r = x25519(priv, unhex(point));
    ASSERT_FALSE(r) << point;
    EXPECT_EQ(r.error().message, "invalid public key");
  }
}

TEST(X25519, RejectsBadLengths) {
  const Bytes key(32, 1);
  EXPECT_EQ(x25519(Bytes(31, 1), key).error().message, "bad private key length");
  EXPECT_EQ(x25519(key, Bytes(33, 9)).error().message, "bad public key length");
  EXPECT_EQ(x25519_public_from_private({}).error().message, "bad private key length");
}

// RFC 8032 section 7.1, test 1 (empty message).
TEST(Ed25519, Rfc8032Test1) {
  const Bytes priv = unhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
  const char* pub = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
  const char* sig =
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701c"
      "f9b46bd25bf5f0595bbe24655141438e7a100b";
  EXPECT_EQ(hex_of(*ed25519_public_from_private(priv)), pub);
  EXPECT_EQ(hex_of(*ed25519_sign(priv, {})), sig);
  EXPECT_TRUE(ed25519_verify(unhex(pub), {}, unhex(sig)));
}

TEST(Ed25519, VerifyRejectsAnyChange) {
  Ed25519KeyPair kp = ed25519_generate();
  EXPECT_EQ(*ed25519_public_from_private(kp.private_key), kp.public_key);
  const Bytes msg = to_bytes(as_bytes("message"));
  const Bytes sig = *ed25519_sign(kp.private_key, msg);
  ASSERT_TRUE(ed25519_verify(kp.public_key, msg, sig));

  Bytes bad_msg = msg;
  bad_msg[0] ^= 1;
  EXPECT_FALSE(ed25519_verify(kp.public_key, bad_msg, sig));
  for (size_t i : {0, 31, 32, 63}) {
    Bytes bad_sig = sig;
    bad_sig[i] ^= 1;
    EXPECT_FALSE(ed25519_verify(kp.public_key, msg, bad_sig)) << i;
  }
  EXPECT_FALSE(ed25519_verify(ed25519_generate().public_key, msg, sig));
  EXPECT_FALSE(ed25519_verify(kp.public_key, msg, ByteView(sig).first(63)));
  EXPECT_FALSE(ed25519_verify(ByteView(kp.public_key).first(31), msg, sig));
  EXPECT_FALSE(ed25519_verify(Bytes(32, 0xff), msg, sig));  // not a curve point
  EXPECT_EQ(ed25519_sign(Bytes(64, 1), msg).error().message, "bad private key length");
}

TEST(Random, SizesAndFreshness) {
  EXPECT_TRUE(random_bytes(0).empty());
  EXPECT_EQ(random_secret(17).size(), 17u);
  EXPECT_NE(random_bytes(32), random_bytes(32));
  EXPECT_NE(random_secret(32), random_secret(32));
}

}  // namespace
}  // namespace zerv::crypto
