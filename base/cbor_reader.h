#pragma once
// CBOR (RFC 8949) reader shared by every record decoder of the stack.
//
// Reads are strict and bounded: nothing is read past the end, every length and count is checked
// against the bytes present before it is used, and skipped items are walked iteratively with at
// most kMaxNesting open containers. Failures are diagnostics (Error::message) that record decoders
// wrap in their own error type.
//
// A record decoder is a table of fields handed to read_record(), which matches map keys by their
// bytes, refuses duplicates of known keys, skips unknown entries and names the first missing key.

#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/cbor_writer.h"
#include "base/result.h"

namespace zerv::cbor {

inline constexpr size_t kMaxNesting = 256;
inline constexpr size_t kMaxKeyLength = 4096;

// Tag numbers of unsigned and negative bignums.
inline constexpr uint64_t kTagPositiveBignum = 2;
inline constexpr uint64_t kTagNegativeBignum = 3;

struct Head {
  Major major = Major::kUnsigned;
  uint8_t info = 0;       // additional information: the low five bits of the initial byte
  uint64_t argument = 0;  // value, length, count, tag number or simple value; 0 when indefinite

  bool indefinite() const { return info == 31 && major != Major::kSimple; }
  bool is_break() const { return info == 31 && major == Major::kSimple; }
};

// An open array or map: `remaining` items (entries for a map) or, when indefinite, up to a break.
struct Container {
  uint64_t remaining = 0;
  bool indefinite = false;
};

class Reader {
 public:
  explicit Reader(ByteView input) : in_(input) {}

  size_t position() const { return pos_; }
  size_t remaining() const { return in_.size() - pos_; }
  bool at_end() const { return pos_ == in_.size(); }

  // One head exactly as encoded (tags are items of their own here). Refuses reserved additional
  // information, indefinite lengths on integers and tags, and two-byte simple values below 32.
  Result<Head> read_head();
  Result<Head> peek_head();
  // Consumes the tags in front of the next item.
  Result<void> skip_tags();

  // Unsigned integer that fits T. Tags in front are skipped; a bignum is accepted when its value
  // fits. Errors: "unexpected negative integer", "integer too large", "invalid value: integer `N`,
  // expected u32", "invalid type: ..., expected u32".
  template <std::unsigned_integral T>
  Result<T> read_unsigned() {
    auto v = read_uint(std::numeric_limits<T>::max(), unsigned_type_name(sizeof(T)));
    if (!v) return std::unexpected(v.error());
    return static_cast<T>(*v);
  }
  Result<uint64_t> read_uint(uint64_t max, std::string_view type_name);
  Result<int64_t> read_int();
  Result<bool> read_bool();
  // Byte string of definite length or made of definite chunks (joined).
  Result<Bytes> read_bytes();
  // As read_bytes, or an array (any length form) of unsigned integers up to 255.
  Result<Bytes> read_bytes_or_u8_array();
  // Text string of definite length or made of definite chunks; each chunk must be valid UTF-8.
  Result<std::string> read_text();

  // Opens an array or map (tags in front skipped); iterate with has_next().
  Result<Container> read_array();
  Result<Container> read_map();
  // True when `c` has another item (map: entry); consumes the break that ends an indefinite one.
  Result<bool> has_next(Container& c);

  // Map key: a definite text (valid UTF-8) or byte string of at most kMaxKeyLength bytes, tags in
  // front skipped. Returns the key's bytes, a view into the input.
  Result<ByteView> read_key();

  // Skips one well-formed item whatever it holds (text content is not checked for UTF-8).
  Result<void> skip();

  static std::string_view unsigned_type_name(size_t width);

 private:
  Result<ByteView> take(uint64_t n);
  // Reads the content of a string whose head `h` has been consumed, handing each piece to `sink`;
  // text chunks are checked for UTF-8 when `check_utf8` is set.
  Result<void> read_string_body(const Head& h, const std::function<void(ByteView)>& sink,
                                bool check_utf8 = true);
  Result<uint64_t> read_bignum_magnitude();

  ByteView in_;
  size_t pos_ = 0;
};

// Short description of an item for invalid-type diagnostics, e.g. "integer `5`" or "map".
std::string describe(const Head& h);
// "invalid type: <describe(h)>, expected <expected>".
std::string invalid_type(const Head& h, std::string_view expected);

// One entry of a record: the key, how to read its value, and whether it must be present.
struct Field {
  std::string_view key;
  std::function<Result<void>(Reader&)> read;
  bool required = true;
};

template <std::unsigned_integral T>
Field field(std::string_view key, T& out, bool required = true) {
  return Field{key,
               [&out](Reader& r) -> Result<void> {
                 auto v = r.read_unsigned<T>();
                 if (!v) return std::unexpected(v.error());
                 out = *v;
                 return {};
               },
               required};
}
Field field(std::string_view key, Bytes& out, bool required = true);

// Reads a map (tags in front skipped) as the record described by `fields` (at most 64).
// Diagnostics: "duplicate field `k`", "missing field `k`", or the failure of a value.
Result<void> read_record(Reader& r, std::span<const Field> fields);

// Checks that `item` is exactly one well-formed CBOR item (nesting at most kMaxNesting). Like
// skip(), this is about structure: the UTF-8 content of text strings is not judged.
Result<void> check_well_formed(ByteView item);

}  // namespace zerv::cbor
