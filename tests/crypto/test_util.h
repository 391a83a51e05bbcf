#pragma once
// Hex literals for known-answer tests.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/bytes.h"

namespace zerv::crypto {

// Hex with optional spaces (long values are split for readability).
inline Bytes unhex(std::string_view s) {
  std::string digits;
  for (char c : s) {
    if (c != ' ') digits += c;
  }
  Bytes out;
  EXPECT_TRUE(from_hex(digits, out)) << s;
  return out;
}

inline std::string hex_of(ByteView v) { return to_hex(v); }

}  // namespace zerv::crypto
