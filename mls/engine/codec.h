#pragma once
// TLS presentation-language codec with the variable-length integers used for vector lengths.
//
// Writing never fails. Reading is strict: lengths must be exact and minimally encoded, nothing may
// run past the end, and a failed read poisons the reader so a decoder can check once at the end.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"

namespace zerv::mls {

// Largest length a variable-length integer can carry (30 bits).
inline constexpr uint64_t kMaxVarint = (uint64_t{1} << 30) - 1;

class TlsWriter {
 public:
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v);
  void u32(uint32_t v);
  void u64(uint64_t v);
  void varint(uint64_t v);  // v must be at most kMaxVarint
  void raw(ByteView v) { out_.insert(out_.end(), v.begin(), v.end()); }
  void opaque(ByteView v);  // varint length, then the bytes
  void boolean(bool v) { u8(v ? 1 : 0); }

  // Writes a varint-prefixed vector whose content is produced by body(writer).
  // The content is written in place behind room for the longest length prefix, which is then
  // filled in and the content slid back over any unused room: no temporary buffer per vector.
  template <class F>
  void vec(F&& body) {
    const size_t start = out_.size();
    out_.resize(start + kLongestVarint);
    body(*this);
    finish_vec(start);
  }

  const Bytes& bytes() const { return out_; }
  Bytes take() { return std::move(out_); }

 private:
  static constexpr size_t kLongestVarint = 4;
  void finish_vec(size_t start);

  Bytes out_;
};

class TlsReader {
 public:
  explicit TlsReader(ByteView in) : in_(in) {}

  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  uint64_t u64();
  uint64_t varint();
  bool boolean();
  ByteView raw(size_t n);
  Bytes opaque();
  ByteView opaque_view();
  // A reader over the content of a varint-prefixed vector.
  TlsReader vec();

  // Reads a varint-prefixed vector, calling item(sub_reader) until its content is used up.
  // A failure inside the vector fails this reader too.
  template <class F>
  void for_each_in_vec(F&& item) {
    TlsReader sub = vec();
    while (sub.ok() && !sub.empty()) {
      size_t before = sub.position();
      item(sub);
      // An item that consumes nothing would loop forever.
      if (sub.ok() && sub.position() == before) sub.fail("empty vector item");
    }
    if (!sub.ok()) fail(sub.error());
  }

  // Reads the presence byte of optional<T>: 0 absent, 1 present, anything else fails.
  bool presence();

  // Marks the reader failed with a description (the first failure wins).
  void fail(std::string what);

  bool ok() const { return !error_; }
  bool empty() const { return pos_ == in_.size(); }
  size_t remaining() const { return in_.size() - pos_; }
  size_t position() const { return pos_; }
  const std::string& error() const { return message_; }

  // Fails unless everything was read; returns ok().
  bool finish();

 private:
  bool need(size_t n);

  ByteView in_;
  size_t pos_ = 0;
  bool error_ = false;
  std::string message_;
};

// vector<T> of structures with encode/decode members.
template <class T>
void encode_vec(TlsWriter& w, const std::vector<T>& items) {
  w.vec([&](TlsWriter& inner) {
    for (const T& item : items) item.encode(inner);
  });
}

template <class T>
std::vector<T> decode_vec(TlsReader& r) {
  std::vector<T> out;
  r.for_each_in_vec([&](TlsReader& sub) {
    T item = T::decode(sub);
    if (sub.ok()) out.push_back(std::move(item));
  });
  return out;
}

// vector<uint16> and vector<uint32>, used for capability lists and leaf indices.
void encode_u16_vec(TlsWriter& w, const std::vector<uint16_t>& items);
std::vector<uint16_t> decode_u16_vec(TlsReader& r);
void encode_u32_vec(TlsWriter& w, const std::vector<uint32_t>& items);
std::vector<uint32_t> decode_u32_vec(TlsReader& r);

// vector<opaque<V>>, e.g. certificate chains.
void encode_opaque_vec(TlsWriter& w, const std::vector<Bytes>& items);
std::vector<Bytes> decode_opaque_vec(TlsReader& r);

// optional<T> of a structure.
template <class T>
void encode_optional(TlsWriter& w, const std::optional<T>& value) {
  w.u8(value ? 1 : 0);
  if (value) value->encode(w);
}

template <class T>
std::optional<T> decode_optional(TlsReader& r) {
  if (!r.presence()) return std::nullopt;
  T value = T::decode(r);
  if (!r.ok()) return std::nullopt;
  return value;
}

// Decodes a whole value with T::decode(TlsReader&) -> T, requiring that no bytes trail.
template <class T>
Result<T> decode_all(ByteView in) {
  TlsReader r(in);
  T value = T::decode(r);
  if (!r.finish()) return fail(r.error());
  return value;
}

// Encodes a value with value.encode(TlsWriter&).
template <class T>
Bytes encode_one(const T& value) {
  TlsWriter w;
  value.encode(w);
  return w.take();
}

}  // namespace zerv::mls
