#pragma once
// The engine's persistent store: a flat map of byte-string keys to byte-string values behind a
// reader/writer lock. Everything the engine must keep across a restart (signature keys, key
// package private keys, group state, the own pending commit) lives here, so a host can save the
// whole store by listing it and rebuild it later by filling a fresh one with the same pairs.

#include <map>
#include <optional>
#include <shared_mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"

namespace zerv::mls {

// Orders byte strings and views alike, so lookups need no copy of the key.
struct BytesLess {
  using is_transparent = void;
  bool operator()(ByteView a, ByteView b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
  }
};

class Storage {
 public:
  using Entry = std::pair<Bytes, SecretBytes>;

  Storage() = default;
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  std::optional<SecretBytes> get(ByteView key) const;
  bool contains(ByteView key) const;
  void put(ByteView key, ByteView value);
  // Returns whether an entry was there.
  bool erase(ByteView key);
  size_t size() const;

  // Every entry, in key order.
  std::vector<Entry> list() const;
  // Adds the pairs; a later pair with the same key replaces an earlier one.
  void fill(std::vector<Entry> entries);

  // Entry keys: a short kind tag, then the identifier the entry belongs to.
  static Bytes key(std::string_view kind, ByteView id);

 private:
  mutable std::shared_mutex mutex_;
  std::map<Bytes, SecretBytes, BytesLess> entries_;
};

// Kinds of entries the engine writes.
namespace storage_kind {
inline constexpr std::string_view kSignatureKey = "signature_key";  // id: public key
inline constexpr std::string_view kKeyPackage = "key_package";      // id: KeyPackageRef
inline constexpr std::string_view kGroup = "group";                 // id: group id
inline constexpr std::string_view kGroupTree = "group_tree";        // id: group id
inline constexpr std::string_view kPendingCommit = "pending_commit";  // id: group id
inline constexpr std::string_view kExternalPsk = "external_psk";      // id: psk_id
}  // namespace storage_kind

}  // namespace zerv::mls
