#pragma once
// Strict UTF-8 validation with a description of the first bad position.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"

namespace zerv::utf8 {

// The first failure in a byte string. `length` is the number of bytes that form the invalid
// sequence (1 to 3), or nullopt when the input ends inside a sequence that starts at `index`.
struct Failure {
  size_t index = 0;
  std::optional<size_t> length;

  // "invalid utf-8 sequence of N bytes from index I" or
  // "incomplete utf-8 byte sequence from index I".
  std::string describe() const;
  bool operator==(const Failure&) const = default;
};

// nullopt when `bytes` is valid UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
std::optional<Failure> validate(ByteView bytes);
inline std::optional<Failure> validate(std::string_view text) { return validate(as_bytes(text)); }

inline bool is_valid(ByteView bytes) { return !validate(bytes).has_value(); }
inline bool is_valid(std::string_view text) { return !validate(text).has_value(); }

// Length of the valid sequence at the start of `bytes`, or the failure there (index 0 based).
// Used by writers that walk text one character at a time.
struct Step {
  size_t valid_length = 0;           // bytes of one valid character, 0 when invalid
  std::optional<size_t> bad_length;  // like Failure::length when invalid
};
Step step(ByteView bytes);

}  // namespace zerv::utf8
