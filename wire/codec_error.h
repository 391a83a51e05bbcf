#pragma once
// The error of every encoder and decoder of the stack's own records.

#include <cstdint>
#include <expected>
#include <string>

#include "base/result.h"

namespace zerv::wire {

struct CodecError {
  enum class Kind : uint8_t { kDecode, kEncode, kLengthMismatch, kUnknownEnumValue };

  Kind kind = Kind::kDecode;
  std::string diagnostic;  // kDecode and kEncode
  uint32_t value = 0;      // kUnknownEnumValue

  static CodecError decode(std::string diagnostic) {
    return {Kind::kDecode, std::move(diagnostic), 0};
  }
  static CodecError encode(std::string diagnostic) {
    return {Kind::kEncode, std::move(diagnostic), 0};
  }
  static CodecError length_mismatch() { return {Kind::kLengthMismatch, {}, 0}; }
  static CodecError unknown_enum_value(uint32_t v) { return {Kind::kUnknownEnumValue, {}, v}; }

  // "CBOR decode: <diag>", "CBOR encode: <diag>",
  // "payload_size/content_length/args_length mismatch" or "unknown enum value: <n>".
  std::string text() const;
  Error to_error() const { return Error{text()}; }

  bool operator==(const CodecError&) const = default;
};

template <class T>
using CodecResult = std::expected<T, CodecError>;

inline std::unexpected<CodecError> decode_failure(const Error& diagnostic) {
  return std::unexpected(CodecError::decode(diagnostic.message));
}

}  // namespace zerv::wire
