#pragma once
// Results handed to the host: byte buffers and C strings, both allocated here.

#include <string_view>

#include "base/bytes.h"
#include "zerv_stack.h"

namespace zerv::ffi {

inline constexpr ZervBuffer kEmptyBuffer{nullptr, 0, 0};

// Copies bytes into a new host-owned buffer (len == cap; empty content gives non-null data with cap 0).
ZervBuffer to_buffer(ByteView bytes);
// Copies text into a new C string; zero bytes become '?' so the text survives NUL termination.
char* to_c_string(std::string_view text);

}  // namespace zerv::ffi
