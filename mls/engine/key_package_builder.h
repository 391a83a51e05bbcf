#pragma once
// Making this member's KeyPackages (private keys go to storage) and validating received ones.

#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/credential.h"
#include "mls/engine/extension.h"
#include "mls/engine/key_package.h"
#include "mls/engine/signer.h"
#include "mls/engine/storage.h"

namespace zerv::mls {

// Default validity of a new leaf: an hour of clock skew back, 84 days ahead.
inline constexpr uint64_t kLifetimeBackdate = 3600;
inline constexpr uint64_t kLifetimeAhead = 7257600;

Lifetime default_lifetime(uint64_t now);
// versions {mls10}; suites {1, 2, 3, 0x4D}; no extension or proposal types; basic credentials.
Capabilities default_capabilities();

struct KeyPackageOptions {
  std::optional<Lifetime> lifetime;          // default_lifetime(now) when absent
  std::optional<Capabilities> capabilities;  // default_capabilities() when absent
  std::vector<Extension> extensions;         // KeyPackage extensions
  std::vector<Extension> leaf_extensions;
};

// Private halves of a KeyPackage, kept in storage under the KeyPackageRef.
struct KeyPackagePrivate {
  SecretBytes init_private;
  SecretBytes encryption_private;
  KeyPackage key_package;

  void encode(TlsWriter& w) const;
  static KeyPackagePrivate decode(TlsReader& r);
};

// Builds and signs a KeyPackage with fresh init and leaf encryption keys and writes its private
// keys into storage.
Result<KeyPackage> build_key_package(Storage& storage, const Signer& signer,
                                     const Credential& credential, uint64_t now,
                                     const KeyPackageOptions& options = {});

// Writes the private keys of a KeyPackage made elsewhere (e.g. recorded test material).
void store_key_package_private(Storage& storage, const KeyPackagePrivate& priv);
Result<KeyPackagePrivate> load_key_package_private(const Storage& storage, ByteView ref);
void erase_key_package_private(Storage& storage, ByteView ref);

// Checks a received KeyPackage on its own: protocol version and suite, leaf node (source
// key_package, signature, supported credential and extensions, lifetime at `now`), the
// KeyPackage signature, and distinct init and encryption keys.
Result<void> validate_key_package(const KeyPackage& kp, uint64_t now);

// Leaf checks that do not depend on a group: credential type and extensions listed in its
// capabilities, signature (group_id / leaf index bound for update and commit sources), lifetime.
Result<void> validate_leaf_node_alone(const LeafNode& leaf, ByteView group_id, uint32_t leaf_index,
                                      uint64_t now);

}  // namespace zerv::mls
