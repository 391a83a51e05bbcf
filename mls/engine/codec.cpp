#include "mls/engine/codec.h"

#include <cstdlib>
#include <cstring>

namespace zerv::mls {

void TlsWriter::u16(uint16_t v) {
  u8(static_cast<uint8_t>(v >> 8));
  u8(static_cast<uint8_t>(v));
}

void TlsWriter::u32(uint32_t v) {
  u16(static_cast<uint16_t>(v >> 16));
  u16(static_cast<uint16_t>(v));
}

void TlsWriter::u64(uint64_t v) {
  u32(static_cast<uint32_t>(v >> 32));
  u32(static_cast<uint32_t>(v));
}

void TlsWriter::varint(uint64_t v) {
  if (v < (1u << 6)) {
    u8(static_cast<uint8_t>(v));
  } else if (v < (1u << 14)) {
    u16(static_cast<uint16_t>(0x4000 | v));
  } else if (v <= kMaxVarint) {
    u32(static_cast<uint32_t>(0x80000000u | v));
  } else {
    std::abort();  // no structure of ours can be this large
  }
}

void TlsWriter::finish_vec(size_t start) {
  const size_t content = start + kLongestVarint;
  const size_t length = out_.size() - content;
  if (length > kMaxVarint) std::abort();  // no structure of ours can be this large
  const size_t prefix = length < (1u << 6) ? 1 : length < (1u << 14) ? 2 : 4;
  uint64_t v = length | (prefix == 1 ? 0 : prefix == 2 ? 0x4000 : 0x80000000u);
  for (size_t i = prefix; i > 0; --i, v >>= 8) out_[start + i - 1] = static_cast<uint8_t>(v);
  if (prefix < kLongestVarint) {
    std::memmove(out_.data() + start + prefix, out_.data() + content, length);
    out_.resize(out_.size() - (kLongestVarint - prefix));
  }
}

void TlsWriter::opaque(ByteView v) {
  varint(v.size());
  raw(v);
}

void TlsReader::fail(std::string what) {
  if (error_) return;
  error_ = true;
  message_ = std::move(what);
  pos_ = in_.size();
}

bool TlsReader::need(size_t n) {
  if (error_) return false;
  if (in_.size() - pos_ < n) {
    fail("unexpected end of data");
    return false;
  }
  return true;
}

uint8_t TlsReader::u8() {
  if (!need(1)) return 0;
  return in_[pos_++];
}

uint16_t TlsReader::u16() {
  if (!need(2)) return 0;
  uint16_t v = static_cast<uint16_t>(in_[pos_] << 8 | in_[pos_ + 1]);
  pos_ += 2;
  return v;
}

uint32_t TlsReader::u32() {
  uint32_t hi = u16();
  uint32_t lo = u16();
  return hi << 16 | lo;
}

uint64_t TlsReader::u64() {
  uint64_t hi = u32();
  uint64_t lo = u32();
  return hi << 32 | lo;
}

uint64_t TlsReader::varint() {
  if (!need(1)) return 0;
  uint8_t prefix = in_[pos_] >> 6;
  if (prefix == 3) {
    fail("invalid variable-length integer prefix");
    return 0;
  }
  size_t n = size_t{1} << prefix;
  if (!need(n)) return 0;
  uint64_t v = in_[pos_] & 0x3F;
  for (size_t i = 1; i < n; ++i) v = v << 8 | in_[pos_ + i];
  pos_ += n;
  // Each length must use the shortest form.
  if ((n == 2 && v < (1u << 6)) || (n == 4 && v < (1u << 14))) {
    fail("variable-length integer not minimally encoded");
    return 0;
  }
  return v;
}

bool TlsReader::boolean() {
  uint8_t v = u8();
  if (v > 1) fail("invalid boolean");
  return v == 1;
}

bool TlsReader::presence() {
  uint8_t v = u8();
  if (v > 1) fail("invalid optional presence flag");
  return v == 1;
}

ByteView TlsReader::raw(size_t n) {
  if (!need(n)) return {};
  ByteView v = in_.subspan(pos_, n);
  pos_ += n;
  return v;
}

ByteView TlsReader::opaque_view() {
  uint64_t n = varint();
  if (!ok()) return {};
  if (n > remaining()) {
    fail("vector length exceeds available data");
    return {};
  }
  return raw(static_cast<size_t>(n));
}

Bytes TlsReader::opaque() { return to_bytes(opaque_view()); }

TlsReader TlsReader::vec() {
  ByteView v = opaque_view();
  TlsReader sub(v);
  if (!ok()) sub.fail(message_);
  return sub;
}

bool TlsReader::finish() {
  if (!error_ && pos_ != in_.size()) fail("trailing bytes after structure");
  return !error_;
}

void encode_u16_vec(TlsWriter& w, const std::vector<uint16_t>& items) {
  w.vec([&](TlsWriter& inner) {
    for (uint16_t v : items) inner.u16(v);
  });
}

std::vector<uint16_t> decode_u16_vec(TlsReader& r) {
  std::vector<uint16_t> out;
  r.for_each_in_vec([&](TlsReader& sub) {
    uint16_t v = sub.u16();
    if (sub.ok()) out.push_back(v);
  });
  return out;
}

void encode_u32_vec(TlsWriter& w, const std::vector<uint32_t>& items) {
  w.vec([&](TlsWriter& inner) {
    for (uint32_t v : items) inner.u32(v);
  });
}

std::vector<uint32_t> decode_u32_vec(TlsReader& r) {
  std::vector<uint32_t> out;
  r.for_each_in_vec([&](TlsReader& sub) {
    uint32_t v = sub.u32();
    if (sub.ok()) out.push_back(v);
  });
  return out;
}

void encode_opaque_vec(TlsWriter& w, const std::vector<Bytes>& items) {
  w.vec([&](TlsWriter& inner) {
    for (const Bytes& v : items) inner.opaque(v);
  });
}

std::vector<Bytes> decode_opaque_vec(TlsReader& r) {
  std::vector<Bytes> out;
  r.for_each_in_vec([&](TlsReader& sub) {
    Bytes v = sub.opaque();
    if (sub.ok()) out.push_back(std::move(v));
  });
  return out;
}

}  // namespace zerv::mls
