#pragma once
// A member's Ed25519 signature key pair, and its record in the engine's storage.

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/storage.h"

namespace zerv::mls {

struct Signer {
  SecretBytes private_key;  // 32-byte seed
  Bytes public_key;

  static Signer generate();
  static Result<Signer> from_private(ByteView private_key);

  // Written under the public key, so a loaded group finds its own key again.
  void store(Storage& storage) const;
  static Result<Signer> load(const Storage& storage, ByteView public_key);
};

}  // namespace zerv::mls
