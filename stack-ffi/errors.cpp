#include <cstdio>

#include "stack-ffi/buffers.h"
#include "stack-ffi/last_error.h"
#include "wire/error_record.h"
#include "zerv_stack.h"

// Leaves the last error alone on success: only an unknown code writes it.
extern "C" ZERV_API ZervBuffer zerv_error_lookup(uint16_t code) noexcept {
  auto info = zerv::wire::lookup_error(code);
  if (!info) {
    char text[32];
    std::snprintf(text, sizeof text, "unknown error code 0x%04X", static_cast<unsigned>(code));
    zerv::ffi::set_last_error(text);
    return zerv::ffi::kEmptyBuffer;
  }
  return zerv::ffi::to_buffer(zerv::wire::encode_error_record(*info));
}
