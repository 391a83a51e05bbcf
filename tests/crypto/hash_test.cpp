// Hashes, HMAC and HKDF against published answers.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "crypto/crypto.h"
#include "tests/crypto/test_util.h"

namespace zerv::crypto {
namespace {

TEST(Hash, KnownAnswers) {
  EXPECT_EQ(hex_of(hash(HashAlg::kSha256, as_bytes("abc"))),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex_of(hash(HashAlg::kSha512, as_bytes("abc"))),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
  EXPECT_EQ(hex_of(hash(HashAlg::kSha256, {})),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// RFC 4231 test cases 1 and 6 (a key longer than the block is hashed first).
TEST(Hmac, KnownAnswers) {
  const Bytes key(20, 0x0b);
  EXPECT_EQ(hex_of(hmac(HashAlg::kSha256, key, as_bytes("Hi There"))),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(hex_of(hmac(HashAlg::kSha512, key, as_bytes("Hi There"))),
            "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
            "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854");
  const Bytes long_key(131, 0xaa);
  const auto msg = as_bytes("Test Using Larger Than Block-Size Key - Hash Key First");
  EXPECT_EQ(hex_of(hmac(HashAlg::kSha256, long_key, msg)),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  EXPECT_EQ(hex_of(hmac(HashAlg::kSha512, long_key, msg)),
            "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
            "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598");
}

// HMAC is written out by hand for speed; OpenSSL's own MAC is the oracle, around the block size.
TEST(Hmac, MatchesOpenSslMac) {
  for (HashAlg alg : {HashAlg::kSha256, HashAlg::kSha512}) {
    const char* name = alg == HashAlg::kSha256 ? "SHA256" : "SHA512";
    for (size_t key_len : {0, 1, 32, 63, 64, 65, 127, 128, 129, 300}) {
      Bytes key(key_len);
      for (size_t i = 0; i < key_len; ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
      const Bytes data(key_len + 3, 0x5c);
      Bytes expected(hash_size(alg));
      size_t n = 0;
      static const uint8_t kEmpty = 0;
      ASSERT_NE(
          EVP_Q_mac(nullptr, "HMAC", nullptr, name, nullptr, key.empty() ? &kEmpty : key.data(),
                    key.size(), data.data(), data.size(), expected.data(), expected.size(), &n),
          nullptr);
      EXPECT_EQ(hmac(alg, key, data), expected) << name << " key length " << key_len;
    }
  }
}

// RFC 5869 test case 1: 42 bytes of output span two HMAC blocks.
TEST(Hkdf, Rfc5869Case1) {
  const Bytes ikm(22, 0x0b);
  const Bytes salt = unhex("000102030405060708090a0b0c");
  const Bytes info = unhex("f0f1f2f3f4f5f6f7f8f9");
  SecretBytes prk = hkdf_extract(HashAlg::kSha256, salt, ikm);
  EXPECT_EQ(hex_of(prk), "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5");
  SecretBytes okm = hkdf_expand(HashAlg::kSha256, prk, info, 42);
  EXPECT_EQ(hex_of(okm),
            "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf"
            "34007208d5b887185865");
}

// RFC 5869 test case 3: empty salt and info.
TEST(Hkdf, Rfc5869Case3EmptySaltAndInfo) {
  const Bytes ikm(22, 0x0b);
  SecretBytes prk = hkdf_extract(HashAlg::kSha256, {}, ikm);
  EXPECT_EQ(hex_of(prk), "19ef24a32c717b167f33a91d6f648bdf96596776afdb6377ac434c1c293ccb04");
  EXPECT_EQ(hex_of(hkdf_expand(HashAlg::kSha256, prk, {}, 42)),
            "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d"
            "9d201395faa4b61a96c8");
}

// Every prefix of a longer output is the shorter output, up to the maximum length.
TEST(Hkdf, OutputLengths) {
  const Bytes prk(32, 0x42);
  const SecretBytes longest =
      hkdf_expand(HashAlg::kSha256, prk, as_bytes("x"), hkdf_max_length(HashAlg::kSha256));
  ASSERT_EQ(longest.size(), 255u * 32);
  for (size_t len : {0, 1, 31, 32, 33, 64, 65, 1000}) {
    SecretBytes okm = hkdf_expand(HashAlg::kSha256, prk, as_bytes("x"), len);
    ASSERT_EQ(okm.size(), len);
    EXPECT_TRUE(std::equal(okm.begin(), okm.end(), longest.begin())) << len;
  }
  EXPECT_EQ(hkdf_max_length(HashAlg::kSha512), 255u * 64);
}

}  // namespace
}  // namespace zerv::crypto
