// HPKE against RFC 9180 appendix A.1.1 (DHKEM(X25519, HKDF-SHA256), HKDF-SHA256, AES-128-GCM,
// base mode), plus the failure paths.
#include "crypto/hpke.h"

#include <gtest/gtest.h>

#include "tests/crypto/test_util.h"

namespace zerv::crypto::hpke {
namespace {

constexpr const char* kInfo = "4f6465206f6e2061204772656369616e2055726e";
constexpr const char* kIkmE = "7268600d403fce431561aef583ee1613527cff655c1343f29812e66706df3234";
constexpr const char* kPkEm = "37fda3567bdbd628e88668c3c8d7e97d1d1253b6d4ea6d44c150f741f1bf4431";
constexpr const char* kSkEm = "52c4a758a802cd8b936eceea314432798d5baf2d7e9235dc084ab1b9cfa2f736";
constexpr const char* kIkmR = "6db9df30aa07dd42ee5e8181afdb977e538f5e1fec8a06223f33f7013e525037";
constexpr const char* kPkRm = "3948cfe0ad1ddb695d780e59077195da6c56506b027329794ab02bca80815c4d";
constexpr const char* kSkRm = "4612c550263fc8ad58375df3f557aac531d26850903e55a9f23f21d8534e8ac8";
constexpr const char* kKey = "4531685d41d65f03dc48f6b8302c05b0";
constexpr const char* kBaseNonce = "56d890e5accaaf011cff4b7d";
constexpr const char* kExporterSecret =
    "45ff1c2e220db587171952c0592d5f5ebe103f1561a2614e38f2ffd47e99e3f8";
constexpr const char* kPt = "4265617574792069732074727574682c20747275746820626561757479";

struct Encryption {
  uint64_t seq;
  const char* aad;
  const char* ct;
};
const Encryption kEncryptions[] = {
    {0, "436f756e742d30",
     "f938558b5d72f1a23810b4be2ab4f84331acc02fc97babc53a52ae8218a355a96d8770ac83d07bea87e13c512a"},
    {1, "436f756e742d31",
     "af2d7e9ac9ae7e270f46ba1f975be53c09f8d875bdc8535458c2494e8a6eab251c03d0c22a56b8ca42c2063b84"},
    {2, "436f756e742d32",
     "498dfcabd92e8acedc281e85af1cb4e3e31c7dc394a1ca20e173cb72516491588d96a19ad4a683518973dcc180"},
    {4, "436f756e742d34",
     "583bd32bc67a5994bb8ceaca813d369bca7b2a42408cddef5e22f880b631215a09fc0012bc69fccaa251c0246d"},
    {255, "436f756e742d323535",
     "7175db9717964058640a3a11fb9007941a5d1757fda1a6935c805c21af32505bf106deefec4a49ac38d71c9e0a"},
    {256, "436f756e742d323536",
     "957f9800542b0b8891badb026d79cc54597cb2d225b54c00c5238c25d05c30e3fbeda97d2e0e1aba483a2df9f2"},
};

struct Export {
  const char* context;
  const char* value;  // L = 32
};
const Export kExports[] = {
    {"", "3853fe2b4035195a573ffc53856e77058e15d9ea064de3e59f4961d0095250ee"},
    {"00", "2e8f0b54673c7029649d4eb9d5e33bf1872cf76d623ff164ac185da9e88c21a5"},
    {"54657374436f6e74657874", "e9e43065102c3836401bed8c3c3c75ae46be1639869391d62c61f1ec7af54931"},
};

TEST(HpkeVectors, DeriveKeyPair) {
  auto e = derive_key_pair(unhex(kIkmE));
  auto r = derive_key_pair(unhex(kIkmR));
  ASSERT_TRUE(e && r);
  EXPECT_EQ(hex_of(e->private_key), kSkEm);
  EXPECT_EQ(hex_of(e->public_key), kPkEm);
  EXPECT_EQ(hex_of(r->private_key), kSkRm);
  EXPECT_EQ(hex_of(r->public_key), kPkRm);
}

void expect_schedule(const Context& ctx) {
  EXPECT_EQ(hex_of(ctx.key), kKey);
  EXPECT_EQ(hex_of(ctx.base_nonce), kBaseNonce);
  EXPECT_EQ(hex_of(ctx.exporter_secret), kExporterSecret);
}

TEST(HpkeVectors, SenderAndReceiverContexts) {
  auto sender = setup_base_sender(unhex(kPkRm), unhex(kInfo), unhex(kIkmE));
  ASSERT_TRUE(sender) << sender.error().message;
  EXPECT_EQ(hex_of(sender->first), kPkEm);  // enc
  expect_schedule(sender->second);

  auto receiver = setup_base_receiver(sender->first, unhex(kSkRm), unhex(kInfo));
  ASSERT_TRUE(receiver) << receiver.error().message;
  expect_schedule(*receiver);

  for (const Encryption& e : kEncryptions) {
    sender->second.seq = e.seq;
    auto ct = sender->second.seal(unhex(e.aad), unhex(kPt));
    ASSERT_TRUE(ct);
    EXPECT_EQ(hex_of(*ct), e.ct) << "seq " << e.seq;
    EXPECT_EQ(sender->second.seq, e.seq + 1);

    receiver->seq = e.seq;
    auto pt = receiver->open(unhex(e.aad), unhex(e.ct));
    ASSERT_TRUE(pt) << "seq " << e.seq;
    EXPECT_EQ(hex_of(*pt), kPt);
    EXPECT_EQ(receiver->seq, e.seq + 1);
  }
  for (const Export& x : kExports) {
    EXPECT_EQ(hex_of(sender->second.export_secret(unhex(x.context), 32)), x.value);
    EXPECT_EQ(hex_of(receiver->export_secret(unhex(x.context), 32)), x.value);
  }
}

TEST(HpkeVectors, SingleShotWithEphemeral) {
  auto sealed = seal_with_ephemeral(unhex(kIkmE), unhex(kPkRm), unhex(kInfo),
                                    unhex("436f756e742d30"), unhex(kPt));
  ASSERT_TRUE(sealed);
  EXPECT_EQ(hex_of(sealed->enc), kPkEm);
  EXPECT_EQ(hex_of(sealed->ciphertext), kEncryptions[0].ct);
}

class HpkeSingleShot : public ::testing::Test {
 protected:
  KeyPair recipient_ = generate_key_pair();
  Bytes info_ = to_bytes(as_bytes("info"));
  Bytes aad_ = to_bytes(as_bytes("aad"));
  Bytes pt_ = to_bytes(as_bytes("secret message"));
};

TEST_F(HpkeSingleShot, RoundTripUsesFreshEphemerals) {
  auto a = seal(recipient_.public_key, info_, aad_, pt_);
  auto b = seal(recipient_.public_key, info_, aad_, pt_);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->enc, b->enc);
  auto back = open(a->enc, recipient_.private_key, info_, aad_, a->ciphertext);
  ASSERT_TRUE(back) << back.error().message;
  EXPECT_EQ(*back, pt_);
}

TEST_F(HpkeSingleShot, OpenRejectsMismatches) {
  auto s = *seal(recipient_.public_key, info_, aad_, pt_);
  const KeyPair other = generate_key_pair();
  Bytes bad_ct = s.ciphertext;
  bad_ct[0] ^= 1;
  Bytes bad_enc = s.enc;
  bad_enc[3] ^= 1;
  EXPECT_FALSE(open(s.enc, other.private_key, info_, aad_, s.ciphertext));
  EXPECT_FALSE(open(s.enc, recipient_.private_key, as_bytes("other"), aad_, s.ciphertext));
  EXPECT_FALSE(open(s.enc, recipient_.private_key, info_, {}, s.ciphertext));
  EXPECT_FALSE(open(s.enc, recipient_.private_key, info_, aad_, bad_ct));
  EXPECT_FALSE(open(bad_enc, recipient_.private_key, info_, aad_, s.ciphertext));
  EXPECT_EQ(open(ByteView(s.enc).first(31), recipient_.private_key, info_, aad_, s.ciphertext)
                .error()
                .message,
            "bad public key length");
  EXPECT_EQ(open(Bytes(32, 0), recipient_.private_key, info_, aad_, s.ciphertext).error().message,
            "invalid public key");
  EXPECT_FALSE(seal(Bytes(32, 0), info_, aad_, pt_));
}

TEST_F(HpkeSingleShot, FailedOpenKeepsSequence) {
  auto sender = *setup_base_sender(recipient_.public_key, info_, {});
  auto receiver = *setup_base_receiver(sender.first, recipient_.private_key, info_);
  const Bytes ct0 = *sender.second.seal(aad_, pt_);
  const Bytes ct1 = *sender.second.seal(aad_, pt_);
  EXPECT_FALSE(receiver.open(aad_, ct1));  // out of order
  EXPECT_EQ(receiver.seq, 0u);
  EXPECT_EQ(*receiver.open(aad_, ct0), pt_);
  EXPECT_EQ(*receiver.open(aad_, ct1), pt_);
}

TEST_F(HpkeSingleShot, SequenceLimit) {
  auto sender = *setup_base_sender(recipient_.public_key, info_, {});
  sender.second.seq = UINT64_MAX;
  auto r = sender.second.seal(aad_, pt_);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "message limit reached");
}

}  // namespace
}  // namespace zerv::crypto::hpke
