#include "mls/engine/suite.h"

#include "crypto/crypto.h"
#include "crypto/hpke.h"
#include "mls/engine/codec.h"

namespace zerv::mls::suite {
namespace {

constexpr crypto::HashAlg kHash = crypto::HashAlg::kSha256;
constexpr crypto::AeadAlg kAead = crypto::AeadAlg::kAes128Gcm;
constexpr std::string_view kLabelPrefix = "MLS 1.0 ";

// opaque label<V> = "MLS 1.0 " + label, as in KDFLabel, SignContent and EncryptContext.
void write_label(TlsWriter& w, std::string_view label) {
  w.varint(kLabelPrefix.size() + label.size());
  w.raw(as_bytes(kLabelPrefix));
  w.raw(as_bytes(label));
}

// struct { opaque label<V>; opaque content<V>; } with the prefixed label.
Bytes labeled_content(std::string_view label, ByteView content) {
  TlsWriter w;
  write_label(w, label);
  w.opaque(content);
  return w.take();
}

}  // namespace

Bytes hash(ByteView data) { return crypto::hash(kHash, data); }
Bytes mac(ByteView key, ByteView data) { return crypto::hmac(kHash, key, data); }
SecretBytes extract(ByteView salt, ByteView ikm) { return crypto::hkdf_extract(kHash, salt, ikm); }
SecretBytes expand(ByteView prk, ByteView info, size_t length) {
  return crypto::hkdf_expand(kHash, prk, info, length);
}

Bytes ref_hash(std::string_view label, ByteView value) {
  // RefHashInput takes the label as given: callers pass the full "MLS 1.0 ..." text.
  TlsWriter w;
  w.opaque(as_bytes(label));
  w.opaque(value);
  return hash(w.bytes());
}

SecretBytes expand_with_label(ByteView secret, std::string_view label, ByteView context,
                              size_t length) {
  TlsWriter w;
  w.u16(static_cast<uint16_t>(length));  // hkdf_expand bounds length far below 2^16
  write_label(w, label);
  w.opaque(context);
  return expand(secret, w.bytes(), length);
}

SecretBytes derive_secret(ByteView secret, std::string_view label) {
  return expand_with_label(secret, label, {}, kHashSize);
}

SecretBytes derive_tree_secret(ByteView secret, std::string_view label, uint32_t generation,
                               size_t length) {
  const uint8_t context[4] = {
      static_cast<uint8_t>(generation >> 24), static_cast<uint8_t>(generation >> 16),
      static_cast<uint8_t>(generation >> 8), static_cast<uint8_t>(generation)};
  return expand_with_label(secret, label, context, length);
}

Result<Bytes> sign_with_label(ByteView private_key, std::string_view label, ByteView content) {
  return crypto::ed25519_sign(private_key, labeled_content(label, content));
}

bool verify_with_label(ByteView public_key, std::string_view label, ByteView content,
                       ByteView signature) {
  return crypto::ed25519_verify(public_key, labeled_content(label, content), signature);
}

Result<HpkeCiphertext> encrypt_with_label(ByteView public_key, std::string_view label,
                                          ByteView context, ByteView plaintext) {
  auto sealed = crypto::hpke::seal(public_key, labeled_content(label, context), {}, plaintext);
  if (!sealed) return fail(sealed.error().message);
  return HpkeCiphertext{std::move(sealed->enc), std::move(sealed->ciphertext)};
}

Result<Bytes> decrypt_with_label(ByteView private_key, std::string_view label, ByteView context,
                                 ByteView kem_output, ByteView ciphertext) {
  return crypto::hpke::open(kem_output, private_key, labeled_content(label, context), {},
                            ciphertext);
}

Result<Bytes> aead_seal(ByteView key, ByteView nonce, ByteView aad, ByteView plaintext) {
  return crypto::aead_seal(kAead, key, nonce, aad, plaintext);
}

Result<Bytes> aead_open(ByteView key, ByteView nonce, ByteView aad, ByteView ciphertext) {
  return crypto::aead_open(kAead, key, nonce, aad, ciphertext);
}

Result<HpkeKeyPair> derive_key_pair(ByteView secret) {
  auto kp = crypto::hpke::derive_key_pair(secret);
  if (!kp) return fail(kp.error().message);
  return HpkeKeyPair{std::move(kp->private_key), std::move(kp->public_key)};
}

HpkeKeyPair generate_key_pair() {
  crypto::hpke::KeyPair kp = crypto::hpke::generate_key_pair();
  return HpkeKeyPair{std::move(kp.private_key), std::move(kp.public_key)};
}

}  // namespace zerv::mls::suite
