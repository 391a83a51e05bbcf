// HPKE base mode (RFC 9180) for DHKEM(X25519, HKDF-SHA256), HKDF-SHA256 and AES-128-GCM.
#include "crypto/hpke.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "crypto/crypto.h"

namespace zerv::crypto::hpke {
namespace {

constexpr HashAlg kKdf = HashAlg::kSha256;
constexpr AeadAlg kAead = AeadAlg::kAes128Gcm;
constexpr size_t kNsecret = 32;  // KEM shared secret
constexpr size_t kNsk = 32;      // X25519 private key
constexpr size_t kNk = 16;
constexpr size_t kNn = 12;
constexpr size_t kNh = 32;
constexpr uint8_t kModeBase = 0x00;

// "KEM" || kem_id and "HPKE" || kem_id || kdf_id || aead_id.
constexpr std::array<uint8_t, 5> kKemSuite = {'K', 'E', 'M', 0x00, 0x20};
constexpr std::array<uint8_t, 10> kHpkeSuite = {'H',  'P',  'K',  'E',  0x00,
                                                0x20, 0x00, 0x01, 0x00, 0x01};
constexpr std::string_view kVersion = "HPKE-v1";

void append(SecretBytes& out, ByteView v) { out.insert(out.end(), v.begin(), v.end()); }

// The labelled input may carry key material, so it is built in wiped memory.
SecretBytes labeled_extract(ByteView suite, ByteView salt, std::string_view label, ByteView ikm) {
  SecretBytes labeled;
  labeled.reserve(kVersion.size() + suite.size() + label.size() + ikm.size());
  append(labeled, as_bytes(kVersion));
  append(labeled, suite);
  append(labeled, as_bytes(label));
  append(labeled, ikm);
  return hkdf_extract(kKdf, salt, labeled);
}

SecretBytes labeled_expand(ByteView suite, ByteView prk, std::string_view label, ByteView info,
                           size_t length) {
  SecretBytes labeled;
  labeled.reserve(2 + kVersion.size() + suite.size() + label.size() + info.size());
  labeled.push_back(static_cast<uint8_t>(length >> 8));
  labeled.push_back(static_cast<uint8_t>(length));
  append(labeled, as_bytes(kVersion));
  append(labeled, suite);
  append(labeled, as_bytes(label));
  append(labeled, info);
  return hkdf_expand(kKdf, prk, labeled, length);
}

SecretBytes extract_and_expand(ByteView dh, ByteView enc, ByteView pk_r) {
  SecretBytes eae_prk = labeled_extract(kKemSuite, {}, "eae_prk", dh);
  Bytes kem_context(enc.begin(), enc.end());
  kem_context.insert(kem_context.end(), pk_r.begin(), pk_r.end());
  return labeled_expand(kKemSuite, eae_prk, "shared_secret", kem_context, kNsecret);
}

Context key_schedule(ByteView shared_secret, ByteView info) {
  SecretBytes psk_id_hash = labeled_extract(kHpkeSuite, {}, "psk_id_hash", {});
  SecretBytes info_hash = labeled_extract(kHpkeSuite, {}, "info_hash", info);
  Bytes context;
  context.reserve(1 + 2 * kNh);
  context.push_back(kModeBase);
  context.insert(context.end(), psk_id_hash.begin(), psk_id_hash.end());
  context.insert(context.end(), info_hash.begin(), info_hash.end());

  SecretBytes secret = labeled_extract(kHpkeSuite, shared_secret, "secret", {});
  Context ctx;
  ctx.key = labeled_expand(kHpkeSuite, secret, "key", context, kNk);
  ctx.base_nonce = labeled_expand(kHpkeSuite, secret, "base_nonce", context, kNn);
  ctx.exporter_secret = labeled_expand(kHpkeSuite, secret, "exp", context, kNh);
  return ctx;
}

// base_nonce XOR the big-endian sequence number.
Result<std::array<uint8_t, kNn>> next_nonce(const Context& ctx) {
  if (ctx.base_nonce.size() != kNn) return fail("context not set up");
  if (ctx.seq == std::numeric_limits<uint64_t>::max()) return fail("message limit reached");
  std::array<uint8_t, kNn> nonce;
  std::copy(ctx.base_nonce.begin(), ctx.base_nonce.end(), nonce.begin());
  for (size_t i = 0; i < 8; ++i) nonce[kNn - 1 - i] ^= static_cast<uint8_t>(ctx.seq >> (8 * i));
  return nonce;
}

}  // namespace

Result<KeyPair> derive_key_pair(ByteView ikm) {
  SecretBytes dkp_prk = labeled_extract(kKemSuite, {}, "dkp_prk", ikm);
  KeyPair kp{labeled_expand(kKemSuite, dkp_prk, "sk", {}, kNsk), {}};
  auto pub = x25519_public_from_private(kp.private_key);
  if (!pub) return fail(pub.error().message);
  kp.public_key = std::move(*pub);
  return kp;
}

KeyPair generate_key_pair() {
  X25519KeyPair kp = x25519_generate();
  return KeyPair{std::move(kp.private_key), std::move(kp.public_key)};
}

Result<std::pair<Bytes, Context>> setup_base_sender(ByteView recipient_public, ByteView info,
                                                    ByteView ikm_e) {
  KeyPair eph;
  if (ikm_e.empty()) {
    eph = generate_key_pair();
  } else {
    auto derived = derive_key_pair(ikm_e);
    if (!derived) return fail(derived.error().message);
    eph = std::move(*derived);
  }
  auto dh = x25519(eph.private_key, recipient_public);
  if (!dh) return fail(dh.error().message);
  SecretBytes shared = extract_and_expand(*dh, eph.public_key, recipient_public);
  return std::pair<Bytes, Context>(std::move(eph.public_key), key_schedule(shared, info));
}

Result<Context> setup_base_receiver(ByteView enc, ByteView recipient_private, ByteView info) {
  auto dh = x25519(recipient_private, enc);
  if (!dh) return fail(dh.error().message);
  auto pk_r = x25519_public_from_private(recipient_private);
  if (!pk_r) return fail(pk_r.error().message);
  SecretBytes shared = extract_and_expand(*dh, enc, *pk_r);
  return key_schedule(shared, info);
}

Result<Bytes> Context::seal(ByteView aad, ByteView plaintext) {
  auto nonce = next_nonce(*this);
  if (!nonce) return fail(nonce.error().message);
  auto ct = aead_seal(kAead, key, *nonce, aad, plaintext);
  if (ct) ++seq;
  return ct;
}

Result<Bytes> Context::open(ByteView aad, ByteView ciphertext) {
  auto nonce = next_nonce(*this);
  if (!nonce) return fail(nonce.error().message);
  auto pt = aead_open(kAead, key, *nonce, aad, ciphertext);
  if (pt) ++seq;
  return pt;
}

SecretBytes Context::export_secret(ByteView exporter_context, size_t length) const {
  return labeled_expand(kHpkeSuite, exporter_secret, "sec", exporter_context, length);
}

Result<Sealed> seal_with_ephemeral(ByteView ikm_e, ByteView recipient_public, ByteView info,
                                   ByteView aad, ByteView plaintext) {
  auto setup = setup_base_sender(recipient_public, info, ikm_e);
  if (!setup) return fail(setup.error().message);
  auto ct = setup->second.seal(aad, plaintext);
  if (!ct) return fail(ct.error().message);
  return Sealed{std::move(setup->first), std::move(*ct)};
}

Result<Sealed> seal(ByteView recipient_public, ByteView info, ByteView aad, ByteView plaintext) {
  return seal_with_ephemeral({}, recipient_public, info, aad, plaintext);
}

Result<Bytes> open(ByteView enc, ByteView recipient_private, ByteView info, ByteView aad,
                   ByteView ciphertext) {
  auto ctx = setup_base_receiver(enc, recipient_private, info);
  if (!ctx) return fail(ctx.error().message);
  return ctx->open(aad, ciphertext);
}

}  // namespace zerv::crypto::hpke
