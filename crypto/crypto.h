#pragma once
// Cryptographic primitives over OpenSSL 3. Every function is thread-safe; failures are values.

#include <cstdint>

#include "base/bytes.h"
#include "base/result.h"

namespace zerv::crypto {

enum class HashAlg { kSha256, kSha512 };

size_t hash_size(HashAlg alg);
Bytes hash(HashAlg alg, ByteView data);
Bytes hmac(HashAlg alg, ByteView key, ByteView data);
// HKDF (RFC 5869).
SecretBytes hkdf_extract(HashAlg alg, ByteView salt, ByteView ikm);
// length must be at most hkdf_max_length(alg); a larger one is a caller bug and aborts.
SecretBytes hkdf_expand(HashAlg alg, ByteView prk, ByteView info, size_t length);
size_t hkdf_max_length(HashAlg alg);  // 255 * hash_size(alg)

// Authenticated encryption with associated data.
enum class AeadAlg { kAes128Gcm, kAes256Gcm, kChaCha20Poly1305 };
size_t aead_key_size(AeadAlg alg);
inline constexpr size_t kAeadNonceSize = 12;
inline constexpr size_t kAeadTagSize = 16;
// Returns ciphertext followed by the 16-byte tag.
Result<Bytes> aead_seal(AeadAlg alg, ByteView key, ByteView nonce, ByteView aad,
                        ByteView plaintext);
// Takes ciphertext followed by the tag; fails on any authentication error.
Result<Bytes> aead_open(AeadAlg alg, ByteView key, ByteView nonce, ByteView aad,
                        ByteView ciphertext);

// Random bytes from the system entropy source (via OpenSSL's DRBG).
Bytes random_bytes(size_t n);
SecretBytes random_secret(size_t n);

// X25519: 32-byte private and public keys.
struct X25519KeyPair {
  SecretBytes private_key;
  Bytes public_key;
};
X25519KeyPair x25519_generate();
Result<Bytes> x25519_public_from_private(ByteView private_key);
// Fails for an all-zero shared secret (a low-order peer point).
Result<SecretBytes> x25519(ByteView private_key, ByteView peer_public);

// Ed25519: 32-byte private seed and public key, 64-byte signatures.
struct Ed25519KeyPair {
  SecretBytes private_key;
  Bytes public_key;
};
Ed25519KeyPair ed25519_generate();
Result<Bytes> ed25519_public_from_private(ByteView private_key);
Result<Bytes> ed25519_sign(ByteView private_key, ByteView message);
bool ed25519_verify(ByteView public_key, ByteView message, ByteView signature);

}  // namespace zerv::crypto
