#include "mls/engine/storage.h"

#include <mutex>

namespace zerv::mls {

std::optional<SecretBytes> Storage::get(ByteView key) const {
  std::shared_lock lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

bool Storage::contains(ByteView key) const {
  std::shared_lock lock(mutex_);
  return entries_.find(key) != entries_.end();
}

void Storage::put(ByteView key, ByteView value) {
  std::unique_lock lock(mutex_);
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    it->second.assign(value.begin(), value.end());
  } else {
    entries_.emplace(to_bytes(key), to_secret(value));
  }
}

bool Storage::erase(ByteView key) {
  std::unique_lock lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

size_t Storage::size() const {
  std::shared_lock lock(mutex_);
  return entries_.size();
}

std::vector<Storage::Entry> Storage::list() const {
  std::shared_lock lock(mutex_);
  std::vector<Entry> out;
  out.reserve(entries_.size());
  for (const auto& [k, v] : entries_) out.emplace_back(k, v);
  return out;
}

void Storage::fill(std::vector<Entry> entries) {
  std::unique_lock lock(mutex_);
  for (auto& [k, v] : entries) entries_.insert_or_assign(std::move(k), std::move(v));
}

Bytes Storage::key(std::string_view kind, ByteView id) {
  // The kind is followed by a separator that no kind contains, so keys of different kinds never
  // collide whatever the id bytes are.
  Bytes out(kind.begin(), kind.end());
  out.push_back(0);
  out.insert(out.end(), id.begin(), id.end());
  return out;
}

}  // namespace zerv::mls
