#include "mls/engine/signer.h"

#include "crypto/crypto.h"

namespace zerv::mls {

Signer Signer::generate() {
  crypto::Ed25519KeyPair kp = crypto::ed25519_generate();
  return {std::move(kp.private_key), std::move(kp.public_key)};
}

Result<Signer> Signer::from_private(ByteView private_key) {
  Result<Bytes> pub = crypto::ed25519_public_from_private(private_key);
  if (!pub) return fail("signature key: ", pub.error());
  return Signer{to_secret(private_key), std::move(*pub)};
}

void Signer::store(Storage& storage) const {
  storage.put(Storage::key(storage_kind::kSignatureKey, public_key), private_key);
}

Result<Signer> Signer::load(const Storage& storage, ByteView public_key) {
  std::optional<SecretBytes> priv =
      storage.get(Storage::key(storage_kind::kSignatureKey, public_key));
  if (!priv) return fail("no signature key stored for this member");
  Result<Signer> signer = from_private(*priv);
  if (!signer) return signer;
  if (signer->public_key != to_bytes(public_key)) return fail("stored signature key mismatch");
  return signer;
}

}  // namespace zerv::mls
