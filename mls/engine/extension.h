#pragma once
// Extensions (type + opaque data, so unknown types still parse and can be refused or ignored by
// the caller), capability lists, lifetimes and the typed extensions of the protocol.

#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/codec.h"
#include "mls/engine/credential.h"

namespace zerv::mls {

namespace extension_type {
inline constexpr uint16_t kApplicationId = 1;
inline constexpr uint16_t kRatchetTree = 2;
inline constexpr uint16_t kRequiredCapabilities = 3;
inline constexpr uint16_t kExternalPub = 4;
inline constexpr uint16_t kExternalSenders = 5;
}  // namespace extension_type

// Types every client supports, which capability lists never name.
bool is_default_extension_type(uint16_t type);

struct Extension {
  uint16_t extension_type = 0;
  Bytes extension_data;

  void encode(TlsWriter& w) const;
  static Extension decode(TlsReader& r);
  bool operator==(const Extension&) const = default;
};

// Extension extensions<V>
void encode_extensions(TlsWriter& w, const std::vector<Extension>& list);
std::vector<Extension> decode_extensions(TlsReader& r);

const Extension* find_extension(const std::vector<Extension>& list, uint16_t type);
// True when two entries share a type, which makes a list invalid.
bool has_duplicate_extensions(const std::vector<Extension>& list);

struct Capabilities {
  std::vector<uint16_t> versions;
  std::vector<uint16_t> cipher_suites;
  std::vector<uint16_t> extensions;
  std::vector<uint16_t> proposals;
  std::vector<uint16_t> credentials;

  void encode(TlsWriter& w) const;
  static Capabilities decode(TlsReader& r);
  bool operator==(const Capabilities&) const = default;
};

struct Lifetime {
  uint64_t not_before = 0;
  uint64_t not_after = 0;

  void encode(TlsWriter& w) const;
  static Lifetime decode(TlsReader& r);
  bool operator==(const Lifetime&) const = default;
};

// Typed extension values. Each names its type so get_extension / make_extension can find it.

struct ApplicationId {
  static constexpr uint16_t kType = extension_type::kApplicationId;
  Bytes application_id;

  void encode(TlsWriter& w) const;
  static ApplicationId decode(TlsReader& r);
  bool operator==(const ApplicationId&) const = default;
};

struct RequiredCapabilities {
  static constexpr uint16_t kType = extension_type::kRequiredCapabilities;
  std::vector<uint16_t> extension_types;
  std::vector<uint16_t> proposal_types;
  std::vector<uint16_t> credential_types;

  void encode(TlsWriter& w) const;
  static RequiredCapabilities decode(TlsReader& r);
  bool operator==(const RequiredCapabilities&) const = default;
};

struct ExternalPub {
  static constexpr uint16_t kType = extension_type::kExternalPub;
  Bytes external_pub;  // HPKE public key

  void encode(TlsWriter& w) const;
  static ExternalPub decode(TlsReader& r);
  bool operator==(const ExternalPub&) const = default;
};

struct ExternalSender {
  Bytes signature_key;
  Credential credential;

  void encode(TlsWriter& w) const;
  static ExternalSender decode(TlsReader& r);
  bool operator==(const ExternalSender&) const = default;
};

// ExternalSender external_senders<V>
struct ExternalSenders {
  static constexpr uint16_t kType = extension_type::kExternalSenders;
  std::vector<ExternalSender> senders;

  void encode(TlsWriter& w) const;
  static ExternalSenders decode(TlsReader& r);
  bool operator==(const ExternalSenders&) const = default;
};

// The typed value of the extension of T's type: nullopt when absent, an error when its data does
// not decode exactly.
template <class T>
Result<std::optional<T>> get_extension(const std::vector<Extension>& list) {
  const Extension* ext = find_extension(list, T::kType);
  if (ext == nullptr) return std::optional<T>();
  Result<T> value = decode_all<T>(ext->extension_data);
  if (!value) return fail("malformed extension: ", value.error());
  return std::optional<T>(std::move(*value));
}

template <class T>
Extension make_extension(const T& value) {
  return Extension{T::kType, encode_one(value)};
}

}  // namespace zerv::mls
