#include "base/base64.h"

#include <array>

namespace zerv::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> make_values() {
  std::array<int8_t, 256> v{};
  v.fill(-1);
  for (int i = 0; i < 64; ++i) v[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
  return v;
}
constexpr std::array<int8_t, 256> kValues = make_values();

}  // namespace

std::string encode(ByteView bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    out.push_back(kAlphabet[n >> 18]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(kAlphabet[(n >> 6) & 63]);
    out.push_back(kAlphabet[n & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = uint32_t{bytes[i]} << 16;
    if (rest == 2) n |= uint32_t{bytes[i + 1]} << 8;
    out.push_back(kAlphabet[n >> 18]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

Result<Bytes> decode(std::string_view text) {
  if (text.size() % 4 != 0) return fail("base64 length is not a multiple of 4");
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  const size_t data_chars = text.size() - padding;
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  uint32_t acc = 0;
  for (size_t i = 0; i < data_chars; ++i) {
    const int8_t v = kValues[static_cast<uint8_t>(text[i])];
    if (v < 0) return fail("invalid base64 character at index " + std::to_string(i));
    acc = acc << 6 | static_cast<uint32_t>(v);
    if (i % 4 == 3) {
      out.push_back(static_cast<uint8_t>(acc >> 16));
      out.push_back(static_cast<uint8_t>(acc >> 8));
      out.push_back(static_cast<uint8_t>(acc));
      acc = 0;
    }
  }
  if (padding == 2) {
    if (acc & 0xF) return fail("non-zero trailing bits in base64");
    out.push_back(static_cast<uint8_t>(acc >> 4));
  } else if (padding == 1) {
    if (acc & 0x3) return fail("non-zero trailing bits in base64");
    out.push_back(static_cast<uint8_t>(acc >> 10));
    out.push_back(static_cast<uint8_t>(acc >> 2));
  }
  return out;
}

}  // namespace zerv::base64
