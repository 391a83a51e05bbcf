#pragma once
// The one ciphersuite of this engine, 0x0001 MLS_128_DHKEMX25519_AES128GCM_SHA256_Ed25519, and
// the labelled operations built on it (RefHash, ExpandWithLabel, DeriveSecret, DeriveTreeSecret,
// SignWithLabel, EncryptWithLabel).

#include <cstdint>
#include <string_view>

#include "base/bytes.h"
#include "base/result.h"

namespace zerv::mls {

inline constexpr uint16_t kCipherSuite = 0x0001;
inline constexpr uint16_t kProtocolVersion = 1;  // mls10
inline constexpr uint16_t kSignatureScheme = 0x0807;  // ed25519
inline constexpr size_t kHashSize = 32;   // Nh
inline constexpr size_t kKeySize = 16;    // Nk (AES-128-GCM)
inline constexpr size_t kNonceSize = 12;  // Nn
inline constexpr size_t kTagSize = 16;

struct HpkeCiphertext {
  Bytes kem_output;
  Bytes ciphertext;
  bool operator==(const HpkeCiphertext&) const = default;
};

namespace suite {

Bytes hash(ByteView data);
Bytes mac(ByteView key, ByteView data);
SecretBytes extract(ByteView salt, ByteView ikm);
SecretBytes expand(ByteView prk, ByteView info, size_t length);

// RefHash(label, value) = Hash(RefHashInput)
Bytes ref_hash(std::string_view label, ByteView value);
// ExpandWithLabel(secret, label, context, length); "MLS 1.0 " is prepended to label.
SecretBytes expand_with_label(ByteView secret, std::string_view label, ByteView context,
                              size_t length);
SecretBytes derive_secret(ByteView secret, std::string_view label);
SecretBytes derive_tree_secret(ByteView secret, std::string_view label, uint32_t generation,
                               size_t length);

Result<Bytes> sign_with_label(ByteView private_key, std::string_view label, ByteView content);
bool verify_with_label(ByteView public_key, std::string_view label, ByteView content,
                       ByteView signature);

Result<HpkeCiphertext> encrypt_with_label(ByteView public_key, std::string_view label,
                                          ByteView context, ByteView plaintext);
Result<Bytes> decrypt_with_label(ByteView private_key, std::string_view label, ByteView context,
                                 ByteView kem_output, ByteView ciphertext);

Result<Bytes> aead_seal(ByteView key, ByteView nonce, ByteView aad, ByteView plaintext);
Result<Bytes> aead_open(ByteView key, ByteView nonce, ByteView aad, ByteView ciphertext);

// Key pair for TreeKEM nodes and init keys, derived from a secret (DeriveKeyPair).
struct HpkeKeyPair {
  SecretBytes private_key;
  Bytes public_key;
};
Result<HpkeKeyPair> derive_key_pair(ByteView secret);
HpkeKeyPair generate_key_pair();

}  // namespace suite
}  // namespace zerv::mls
