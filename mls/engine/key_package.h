#pragma once
// KeyPackage: a client's signed offer to be added to a group.

#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "mls/engine/codec.h"
#include "mls/engine/extension.h"
#include "mls/engine/leaf_node.h"

namespace zerv::mls {

struct KeyPackage {
  uint16_t version = 0;
  uint16_t cipher_suite = 0;
  Bytes init_key;  // HPKE public key
  LeafNode leaf_node;
  std::vector<Extension> extensions;
  Bytes signature;

  // KeyPackageTBS: every field above the signature.
  Bytes to_be_signed() const;
  // KeyPackageRef = RefHash("MLS 1.0 KeyPackage Reference", encoded KeyPackage).
  Bytes ref() const;

  void encode(TlsWriter& w) const;
  static KeyPackage decode(TlsReader& r);
  bool operator==(const KeyPackage&) const = default;

 private:
  void encode_content(TlsWriter& w) const;
};

}  // namespace zerv::mls
