#pragma once
// Process-wide handle registries: one per object type, mapping uint32 handles to shared entries.
//
// An entry pairs the object with its own mutex. The registry's lock is held for one map operation
// only; callers take the entry's mutex after the lookup returned, so removing a handle while an
// operation runs on its object is safe: that operation finishes on its own reference.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace zerv::ffi {

template <class T>
struct RegistryEntry {
  template <class... Args>
  explicit RegistryEntry(Args&&... args) : object(std::forward<Args>(args)...) {}

  std::mutex mutex;
  T object;
};

template <class T>
class HandleRegistry {
 public:
  using Ref = std::shared_ptr<RegistryEntry<T>>;

  explicit HandleRegistry(uint32_t first_handle = 1) : next_handle_(first_handle) {}
  HandleRegistry(const HandleRegistry&) = delete;
  HandleRegistry& operator=(const HandleRegistry&) = delete;

  // Registers a new object and returns its handle. Numbers grow by one per insertion and are not
  // reused; after 2^32 insertions the counter wraps and a number still present is replaced.
  template <class... Args>
  uint32_t insert(Args&&... args) {
    auto entry = std::make_shared<RegistryEntry<T>>(std::forward<Args>(args)...);
    const uint32_t handle = next_handle_.fetch_add(1, std::memory_order_relaxed);
    Ref replaced;  // released after the lock, in case the old object's destructor is slow
    {
      std::lock_guard lock(mutex_);
      auto [it, inserted] = map_.try_emplace(handle, entry);
      if (!inserted) replaced = std::exchange(it->second, std::move(entry));
    }
    return handle;
  }

  // A new reference to the entry, or null for an unregistered handle.
  Ref lookup(uint32_t handle) const {
    std::lock_guard lock(mutex_);
    auto it = map_.find(handle);
    return it == map_.end() ? nullptr : it->second;
  }

  // Drops the registry's reference; an unregistered handle is ignored.
  void remove(uint32_t handle) {
    Ref removed;
    {
      std::lock_guard lock(mutex_);
      auto it = map_.find(handle);
      if (it == map_.end()) return;
      removed = std::move(it->second);
      map_.erase(it);
    }
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<uint32_t, Ref> map_;
  std::atomic<uint32_t> next_handle_;
};

// The registry of one object type, created on first use and never destroyed (objects still
// registered when the process ends are left alone).
template <class T>
HandleRegistry<T>& registry() {
  static auto* instance = new HandleRegistry<T>();
  return *instance;
}

}  // namespace zerv::ffi
