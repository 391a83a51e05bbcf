#pragma once
// Credentials binding an identity to a signature key: basic (an application-defined identity)
// and X.509 (a certificate chain, end-entity first).

#include <cstdint>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "mls/engine/codec.h"

namespace zerv::mls {

namespace credential_type {
inline constexpr uint16_t kBasic = 1;
inline constexpr uint16_t kX509 = 2;
}  // namespace credential_type

struct BasicCredential {
  Bytes identity;
  bool operator==(const BasicCredential&) const = default;
};

struct X509Credential {
  std::vector<Bytes> certificates;  // DER, end-entity first
  bool operator==(const X509Credential&) const = default;
};

struct Credential {
  // Other credential types carry no length, so they cannot be skipped and fail to decode.
  std::variant<BasicCredential, X509Credential> content;

  static Credential basic(Bytes identity) { return {BasicCredential{std::move(identity)}}; }
  uint16_t type() const;

  void encode(TlsWriter& w) const;
  static Credential decode(TlsReader& r);
  bool operator==(const Credential&) const = default;
};

}  // namespace zerv::mls
