#include "base/utf8.h"

namespace zerv::utf8 {
namespace {

bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Width announced by a lead byte; 0 for bytes that can never start a character
// (continuations, the overlong leads C0 and C1, and F5 to FF).
size_t lead_width(uint8_t b) {
  if (b < 0x80) return 1;
  if (b < 0xC2) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF5) return 4;
  return 0;
}

// Range allowed for the second byte, which is where overlongs, surrogates and values above
// U+10FFFF show up.
bool second_byte_ok(uint8_t lead, uint8_t b) {
  switch (lead) {
    case 0xE0:
      return b >= 0xA0 && b <= 0xBF;
    case 0xED:
      return b >= 0x80 && b <= 0x9F;
    case 0xF0:
      return b >= 0x90 && b <= 0xBF;
    case 0xF4:
      return b >= 0x80 && b <= 0x8F;
    default:
      return is_continuation(b);
  }
}

}  // namespace

std::string Failure::describe() const {
  if (length) {
    return "invalid utf-8 sequence of " + std::to_string(*length) + " bytes from index " +
           std::to_string(index);
  }
  return "incomplete utf-8 byte sequence from index " + std::to_string(index);
}

Step step(ByteView bytes) {
  if (bytes.empty()) return {0, std::nullopt};
  uint8_t lead = bytes[0];
  size_t width = lead_width(lead);
  if (width == 0) return {0, 1};
  if (width == 1) return {1, std::nullopt};
  // The invalid sequence is the maximal prefix that could still have become a character: a bad
  // byte at position k makes a sequence of k bytes; running out of input makes it incomplete.
  for (size_t k = 1; k < width; ++k) {
    if (k >= bytes.size()) return {0, std::nullopt};
    bool ok = k == 1 ? second_byte_ok(lead, bytes[1]) : is_continuation(bytes[k]);
    if (!ok) return {0, k};
  }
  return {width, std::nullopt};
}

std::optional<Failure> validate(ByteView bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    Step s = step(bytes.subspan(i));
    if (s.valid_length == 0) return Failure{i, s.bad_length};
    i += s.valid_length;
  }
  return std::nullopt;
}

}  // namespace zerv::utf8
