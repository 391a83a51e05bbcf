#pragma once
// HPKE base mode (RFC 9180) for DHKEM(X25519, HKDF-SHA256), HKDF-SHA256, AES-128-GCM.

#include "base/bytes.h"
#include "base/result.h"

namespace zerv::crypto::hpke {

struct KeyPair {
  SecretBytes private_key;
  Bytes public_key;
};

// Derives a key pair deterministically from input keying material (DeriveKeyPair).
Result<KeyPair> derive_key_pair(ByteView ikm);
KeyPair generate_key_pair();

struct Sealed {
  Bytes enc;         // encapsulated key
  Bytes ciphertext;  // with tag
};

// Single-shot base-mode seal/open (one message per context).
Result<Sealed> seal(ByteView recipient_public, ByteView info, ByteView aad, ByteView plaintext);
Result<Bytes> open(ByteView enc, ByteView recipient_private, ByteView info, ByteView aad,
                   ByteView ciphertext);

// Deterministic variant for test vectors: the ephemeral key comes from ikm_e.
Result<Sealed> seal_with_ephemeral(ByteView ikm_e, ByteView recipient_public, ByteView info,
                                   ByteView aad, ByteView plaintext);

// Context-level access for multi-message vectors and the exporter.
class Context {
 public:
  Result<Bytes> seal(ByteView aad, ByteView plaintext);
  Result<Bytes> open(ByteView aad, ByteView ciphertext);
  // length is at most 255 * 32 (the KDF limit); a larger one is a caller bug and aborts.
  SecretBytes export_secret(ByteView exporter_context, size_t length) const;

  SecretBytes key, base_nonce, exporter_secret;
  uint64_t seq = 0;
};
Result<std::pair<Bytes, Context>> setup_base_sender(ByteView recipient_public, ByteView info,
                                                    ByteView ikm_e /* empty: random */);
Result<Context> setup_base_receiver(ByteView enc, ByteView recipient_private, ByteView info);

}  // namespace zerv::crypto::hpke
