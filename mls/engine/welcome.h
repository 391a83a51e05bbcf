#pragma once
// What a joiner receives: GroupInfo (signed group state), GroupSecrets (encrypted to each new
// member's init key) and the Welcome that carries both.

#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "mls/engine/codec.h"
#include "mls/engine/extension.h"
#include "mls/engine/group_context.h"
#include "mls/engine/proposals.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

struct GroupInfo {
  GroupContext group_context;
  std::vector<Extension> extensions;
  Bytes confirmation_tag;
  uint32_t signer = 0;  // leaf index
  Bytes signature;

  // GroupInfoTBS: every field above the signature.
  Bytes to_be_signed() const;

  void encode(TlsWriter& w) const;
  static GroupInfo decode(TlsReader& r);
  bool operator==(const GroupInfo&) const = default;

 private:
  void encode_content(TlsWriter& w) const;
};

struct PathSecret {
  SecretBytes path_secret;

  void encode(TlsWriter& w) const { w.opaque(path_secret); }
  static PathSecret decode(TlsReader& r) { return {to_secret(r.opaque_view())}; }
  bool operator==(const PathSecret&) const = default;
};

struct GroupSecrets {
  SecretBytes joiner_secret;
  std::optional<PathSecret> path_secret;
  std::vector<PreSharedKeyID> psks;

  void encode(TlsWriter& w) const;
  static GroupSecrets decode(TlsReader& r);
  bool operator==(const GroupSecrets&) const = default;
};

struct EncryptedGroupSecrets {
  Bytes new_member;  // KeyPackageRef
  HpkeCiphertext encrypted_group_secrets;

  void encode(TlsWriter& w) const;
  static EncryptedGroupSecrets decode(TlsReader& r);
  bool operator==(const EncryptedGroupSecrets&) const = default;
};

struct Welcome {
  uint16_t cipher_suite = 0;
  std::vector<EncryptedGroupSecrets> secrets;
  Bytes encrypted_group_info;

  // The entry addressed to the key package with this reference, if any.
  const EncryptedGroupSecrets* find_secrets(ByteView key_package_ref) const;

  void encode(TlsWriter& w) const;
  static Welcome decode(TlsReader& r);
  bool operator==(const Welcome&) const = default;
};

}  // namespace zerv::mls
