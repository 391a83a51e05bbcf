#include "stack-ffi/buffers.h"

#include <cstdlib>
#include <cstring>

namespace zerv::ffi {
namespace {

void* allocate_or_die(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) std::abort();  // out of memory ends the process, as the interface promises
  return p;
}

}  // namespace

ZervBuffer to_buffer(ByteView bytes) {
  if (bytes.empty()) {
    // Success without content: non-null data that owns nothing (cap 0).
    static uint8_t no_content;
    return ZervBuffer{&no_content, 0, 0};
  }
  auto* data = static_cast<uint8_t*>(allocate_or_die(bytes.size()));
  std::memcpy(data, bytes.data(), bytes.size());
  return ZervBuffer{data, bytes.size(), bytes.size()};
}

char* to_c_string(std::string_view text) {
  auto* s = static_cast<char*>(allocate_or_die(text.size() + 1));
  for (size_t i = 0; i < text.size(); ++i) s[i] = text[i] == '\0' ? '?' : text[i];
  s[text.size()] = '\0';
  return s;
}

}  // namespace zerv::ffi

extern "C" {

ZERV_API void zerv_buffer_free(ZervBuffer buf) noexcept {
  if (buf.data != nullptr && buf.cap != 0) std::free(buf.data);
}

ZERV_API void zerv_string_free(char* s) noexcept { std::free(s); }

}  // extern "C"
