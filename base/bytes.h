#pragma once
// Byte strings and views shared by every layer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zerv {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Overwrites memory in a way the optimiser may not drop.
void secure_wipe(void* p, size_t n) noexcept;

// Allocator that wipes blocks before handing them back, for key material.
template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// A byte string holding secret material: wiped when released or reallocated.
using SecretBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

inline ByteView as_bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
inline Bytes to_bytes(ByteView v) { return Bytes(v.begin(), v.end()); }
inline SecretBytes to_secret(ByteView v) { return SecretBytes(v.begin(), v.end()); }

// Lower-case hexadecimal, and its inverse (empty optional-like: returns false on bad input).
std::string to_hex(ByteView v);
bool from_hex(std::string_view hex, Bytes& out);

// Constant-time comparison of equal-length views; false when lengths differ.
bool equal_ct(ByteView a, ByteView b) noexcept;

}  // namespace zerv
