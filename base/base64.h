#pragma once
// Base64 with the standard alphabet and "=" padding (RFC 4648, section 4).

#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/result.h"

namespace zerv::base64 {

// Empty input gives the empty string.
std::string encode(ByteView bytes);

// Strict: length a multiple of four, only alphabet characters, padding only at the end, and the
// unused bits of the last character zero, so every byte string has exactly one accepted text.
Result<Bytes> decode(std::string_view text);

}  // namespace zerv::base64
