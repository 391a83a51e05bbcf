// The three AEADs: published answers, round trips, and rejection of every kind of tampering.
#include <gtest/gtest.h>

#include <string>

#include "crypto/crypto.h"
#include "tests/crypto/test_util.h"

namespace zerv::crypto {
namespace {

struct KnownAnswer {
  const char* name;
  AeadAlg alg;
  const char* key;
  const char* nonce;
  const char* aad;
  const char* plaintext;
  const char* sealed;  // ciphertext || tag
};

const KnownAnswer kKnownAnswers[] = {
    // The original GCM test cases 1, 2 and 14 (McGrew and Viega).
    {"aes128gcm_empty", AeadAlg::kAes128Gcm, "00000000000000000000000000000000",
     "000000000000000000000000", "", "", "58e2fccefa7e3061367f1d57a4e7455a"},
    {"aes128gcm_zero_block", AeadAlg::kAes128Gcm, "00000000000000000000000000000000",
     "000000000000000000000000", "", "00000000000000000000000000000000",
     "0388dace60b6a392f328c2b971b2fe78ab6e47d42cec13bdf53a67b21257bddf"},
    {"aes256gcm_zero_block", AeadAlg::kAes256Gcm,
     "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "", "00000000000000000000000000000000",
     "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
    // RFC 8439 section 2.8.2.
    {"chacha20poly1305_rfc8439", AeadAlg::kChaCha20Poly1305,
     "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f", "070000004041424344454647",
     "50515253c0c1c2c3c4c5c6c7",
     "4c616469657320616e642047656e746c656d656e206f662074686520636c6173"
     "73206f66202739393a204966204920636f756c64206f6666657220796f75206f"
     "6e6c79206f6e652074697020666f7220746865206675747572652c2073756e73"
     "637265656e20776f756c642062652069742e",
     "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d6"
     "3dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b36"
     "92ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
     "3ff4def08e4b7a9de576d26586cec64b6116"
     "1ae10b594f09e26a7e902ecbd0600691"},
};

class AeadKnownAnswer : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(AeadKnownAnswer, SealsAndOpens) {
  const KnownAnswer& v = GetParam();
  auto sealed = aead_seal(v.alg, unhex(v.key), unhex(v.nonce), unhex(v.aad), unhex(v.plaintext));
  ASSERT_TRUE(sealed) << sealed.error().message;
  EXPECT_EQ(hex_of(*sealed), hex_of(unhex(v.sealed)));
  auto opened = aead_open(v.alg, unhex(v.key), unhex(v.nonce), unhex(v.aad), unhex(v.sealed));
  ASSERT_TRUE(opened) << opened.error().message;
  EXPECT_EQ(hex_of(*opened), hex_of(unhex(v.plaintext)));
}

INSTANTIATE_TEST_SUITE_P(Vectors, AeadKnownAnswer, ::testing::ValuesIn(kKnownAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

class AeadAlgorithms : public ::testing::TestWithParam<AeadAlg> {
 protected:
  Bytes key() const { return Bytes(aead_key_size(GetParam()), 0x11); }
  const Bytes nonce_ = Bytes(kAeadNonceSize, 0x22);
  const Bytes aad_ = to_bytes(as_bytes("header"));
  const Bytes plaintext_ = to_bytes(as_bytes("the quick brown fox"));
};

TEST_P(AeadAlgorithms, RoundTripsAnySize) {
  for (size_t len : {0, 1, 15, 16, 17, 1000}) {
    for (const Bytes& aad : {Bytes{}, aad_}) {
      const Bytes pt(len, 0x5a);
      auto ct = aead_seal(GetParam(), key(), nonce_, aad, pt);
      ASSERT_TRUE(ct);
      ASSERT_EQ(ct->size(), len + kAeadTagSize);
      auto back = aead_open(GetParam(), key(), nonce_, aad, *ct);
      ASSERT_TRUE(back) << back.error().message;
      EXPECT_EQ(*back, pt);
    }
  }
}

TEST_P(AeadAlgorithms, RejectsTampering) {
  const Bytes ct = *aead_seal(GetParam(), key(), nonce_, aad_, plaintext_);
  auto expect_auth_failure = [&](ByteView k, ByteView n, ByteView a, ByteView c, const char* what) {
    auto r = aead_open(GetParam(), k, n, a, c);
    ASSERT_FALSE(r) << what;
    EXPECT_EQ(r.error().message, "authentication failed") << what;
  };
  for (size_t i : {size_t{0}, plaintext_.size() - 1, plaintext_.size(), ct.size() - 1}) {
    Bytes bad = ct;
    bad[i] ^= 0x01;
    expect_auth_failure(key(), nonce_, aad_, bad, "flipped ciphertext or tag bit");
  }
  Bytes bad_aad = aad_;
  bad_aad.back() ^= 0x80;
  expect_auth_failure(key(), nonce_, bad_aad, ct, "changed aad");
  expect_auth_failure(key(), nonce_, {}, ct, "dropped aad");
  Bytes bad_nonce = nonce_;
  bad_nonce[0] ^= 0x01;
  expect_auth_failure(key(), bad_nonce, aad_, ct, "changed nonce");
  Bytes bad_key = key();
  bad_key[5] ^= 0x01;
  expect_auth_failure(bad_key, nonce_, aad_, ct, "changed key");
  expect_auth_failure(key(), nonce_, aad_, ByteView(ct).first(ct.size() - 1), "truncated");
}

TEST_P(AeadAlgorithms, RejectsBadSizes) {
  const Bytes ct = *aead_seal(GetParam(), key(), nonce_, aad_, plaintext_);
  const Bytes short_key(aead_key_size(GetParam()) - 1, 0);
  EXPECT_EQ(aead_seal(GetParam(), short_key, nonce_, aad_, plaintext_).error().message,
            "bad key length");
  EXPECT_EQ(aead_open(GetParam(), short_key, nonce_, aad_, ct).error().message, "bad key length");
  const Bytes long_nonce(kAeadNonceSize + 1, 0);
  EXPECT_EQ(aead_seal(GetParam(), key(), long_nonce, aad_, plaintext_).error().message,
            "bad nonce length");
  EXPECT_EQ(aead_open(GetParam(), key(), nonce_, aad_, ByteView(ct).first(kAeadTagSize - 1))
                .error()
                .message,
            "ciphertext too short");
}

INSTANTIATE_TEST_SUITE_P(All, AeadAlgorithms,
                         ::testing::Values(AeadAlg::kAes128Gcm, AeadAlg::kAes256Gcm,
                                           AeadAlg::kChaCha20Poly1305),
                         [](const auto& info) {
                           switch (info.param) {
                             case AeadAlg::kAes128Gcm:
                               return "Aes128Gcm";
                             case AeadAlg::kAes256Gcm:
                               return "Aes256Gcm";
                             case AeadAlg::kChaCha20Poly1305:
                               return "ChaCha20Poly1305";
                           }
                           return "unknown";
                         });

}  // namespace
}  // namespace zerv::crypto
