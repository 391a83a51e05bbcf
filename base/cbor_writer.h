#pragma once
// CBOR (RFC 8949) writer: definite lengths and the shortest head for every argument, which is the
// form every record of the stack is written in.

#include <cstdint>
#include <string_view>
#include <utility>

#include "base/bytes.h"

namespace zerv::cbor {

enum class Major : uint8_t {
  kUnsigned = 0,
  kNegative = 1,
  kBytes = 2,
  kText = 3,
  kArray = 4,
  kMap = 5,
  kTag = 6,
  kSimple = 7,
};

class Writer {
 public:
  Writer() = default;
  // Continues after the bytes already in `out` (e.g. a prefix the caller wrote).
  explicit Writer(Bytes out) : out_(std::move(out)) {}

  void reserve(size_t extra) { out_.reserve(out_.size() + extra); }

  void head(Major major, uint64_t argument);
  void uint(uint64_t v) { head(Major::kUnsigned, v); }
  // Writes the negative integer -1 - n, so every value down to -2^64 can be written.
  void negative(uint64_t n) { head(Major::kNegative, n); }
  void int64(int64_t v);
  void bytes(ByteView v);
  void text(std::string_view v);
  void array(uint64_t count) { head(Major::kArray, count); }
  void map(uint64_t count) { head(Major::kMap, count); }
  void tag(uint64_t t) { head(Major::kTag, t); }
  void boolean(bool v) { out_.push_back(v ? 0xF5 : 0xF4); }
  void null() { out_.push_back(0xF6); }
  // Appends an item that is already encoded.
  void raw(ByteView v) { out_.insert(out_.end(), v.begin(), v.end()); }

  const Bytes& out() const { return out_; }
  Bytes take() { return std::move(out_); }

 private:
  Bytes out_;
};

// Number of bytes head(major, argument) writes.
size_t head_size(uint64_t argument);

}  // namespace zerv::cbor
