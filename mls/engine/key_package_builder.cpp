#include "mls/engine/key_package_builder.h"

#include <algorithm>
#include <string>

#include "crypto/crypto.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

bool contains(const std::vector<uint16_t>& list, uint16_t v) {
  return std::find(list.begin(), list.end(), v) != list.end();
}

}  // namespace

Lifetime default_lifetime(uint64_t now) {
  return {now > kLifetimeBackdate ? now - kLifetimeBackdate : 0, now + kLifetimeAhead};
}

Capabilities default_capabilities() {
  Capabilities c;
  c.versions = {kProtocolVersion};
  c.cipher_suites = {0x0001, 0x0002, 0x0003, 0x004D};
  c.credentials = {credential_type::kBasic};
  return c;
}

void KeyPackagePrivate::encode(TlsWriter& w) const {
  w.opaque(init_private);
  w.opaque(encryption_private);
  key_package.encode(w);
}

KeyPackagePrivate KeyPackagePrivate::decode(TlsReader& r) {
  KeyPackagePrivate p;
  p.init_private = to_secret(r.opaque_view());
  p.encryption_private = to_secret(r.opaque_view());
  p.key_package = KeyPackage::decode(r);
  return p;
}

Result<KeyPackage> build_key_package(Storage& storage, const Signer& signer,
                                     const Credential& credential, uint64_t now,
                                     const KeyPackageOptions& options) {
  Result<suite::HpkeKeyPair> init = suite::derive_key_pair(crypto::random_secret(32));
  if (!init) return fail("init key: ", init.error());
  suite::HpkeKeyPair leaf_keys = suite::generate_key_pair();

  KeyPackage kp;
  kp.version = kProtocolVersion;
  kp.cipher_suite = kCipherSuite;
  kp.init_key = init->public_key;
  LeafNode& leaf = kp.leaf_node;
  leaf.encryption_key = leaf_keys.public_key;
  leaf.signature_key = signer.public_key;
  leaf.credential = credential;
  leaf.capabilities = options.capabilities.value_or(default_capabilities());
  leaf.source = options.lifetime.value_or(default_lifetime(now));
  leaf.extensions = options.leaf_extensions;
  kp.extensions = options.extensions;

  Result<Bytes> leaf_sig =
      suite::sign_with_label(signer.private_key, "LeafNodeTBS", leaf.to_be_signed({}, 0));
  if (!leaf_sig) return fail("leaf signature: ", leaf_sig.error());
  leaf.signature = std::move(*leaf_sig);
  Result<Bytes> sig = suite::sign_with_label(signer.private_key, "KeyPackageTBS", kp.to_be_signed());
  if (!sig) return fail("key package signature: ", sig.error());
  kp.signature = std::move(*sig);

  store_key_package_private(storage, {std::move(init->private_key),
                                      std::move(leaf_keys.private_key), kp});
  return kp;
}

void store_key_package_private(Storage& storage, const KeyPackagePrivate& priv) {
  TlsWriter w;
  priv.encode(w);
  SecretBytes value = to_secret(w.bytes());
  Bytes raw = w.take();
  secure_wipe(raw.data(), raw.size());
  storage.put(Storage::key(storage_kind::kKeyPackage, priv.key_package.ref()), value);
}

Result<KeyPackagePrivate> load_key_package_private(const Storage& storage, ByteView ref) {
  std::optional<SecretBytes> value = storage.get(Storage::key(storage_kind::kKeyPackage, ref));
  if (!value) return fail("no key package with this reference");
  Result<KeyPackagePrivate> priv = decode_all<KeyPackagePrivate>(*value);
  if (!priv) return fail("stored key package: ", priv.error());
  return priv;
}

void erase_key_package_private(Storage& storage, ByteView ref) {
  storage.erase(Storage::key(storage_kind::kKeyPackage, ref));
}

Result<void> validate_leaf_node_alone(const LeafNode& leaf, ByteView group_id, uint32_t leaf_index,
                                      uint64_t now) {
  const Capabilities& caps = leaf.capabilities;
  if (!contains(caps.credentials, leaf.credential.type())) {
    return fail("leaf credential type not in its capabilities");
  }
  for (const Extension& ext : leaf.extensions) {
    if (!is_default_extension_type(ext.extension_type) &&
        !contains(caps.extensions, ext.extension_type)) {
      return fail("leaf extension " + std::to_string(ext.extension_type) +
                  " not in its capabilities");
    }
  }
  if (has_duplicate_extensions(leaf.extensions)) return fail("duplicate leaf extension");
  if (!suite::verify_with_label(leaf.signature_key, "LeafNodeTBS",
                                leaf.to_be_signed(group_id, leaf_index), leaf.signature)) {
    return fail("bad leaf node signature");
  }
  if (const Lifetime* life = leaf.lifetime()) {
    if (now < life->not_before || now > life->not_after) {
      return fail("leaf node lifetime does not cover the current time");
    }
  }
  return {};
}

Result<void> validate_key_package(const KeyPackage& kp, uint64_t now) {
  if (kp.version != kProtocolVersion) return fail("unsupported protocol version");
  if (kp.cipher_suite != kCipherSuite) return fail("unsupported cipher suite");
  const LeafNode& leaf = kp.leaf_node;
  if (leaf.source_type() != leaf_node_source::kKeyPackage) {
    return fail("leaf node source is not key_package");
  }
  if (!contains(leaf.capabilities.versions, kp.version) ||
      !contains(leaf.capabilities.cipher_suites, kp.cipher_suite)) {
    return fail("key package capabilities omit its own version or cipher suite");
  }
  if (Result<void> ok = validate_leaf_node_alone(leaf, {}, 0, now); !ok) return ok;
  if (!suite::verify_with_label(leaf.signature_key, "KeyPackageTBS", kp.to_be_signed(),
                                kp.signature)) {
    return fail("bad key package signature");
  }
  if (kp.init_key == leaf.encryption_key) return fail("init key equals leaf encryption key");
  if (has_duplicate_extensions(kp.extensions)) return fail("duplicate key package extension");
  return {};
}

}  // namespace zerv::mls
