#include "base/cbor_writer.h"

namespace zerv::cbor {

size_t head_size(uint64_t argument) {
  if (argument < 24) return 1;
  if (argument <= 0xFF) return 2;
  if (argument <= 0xFFFF) return 3;
  if (argument <= 0xFFFFFFFF) return 5;
  return 9;
}

void Writer::head(Major major, uint64_t argument) {
  const uint8_t m = static_cast<uint8_t>(static_cast<uint8_t>(major) << 5);
  size_t follow;
  if (argument < 24) {
    out_.push_back(static_cast<uint8_t>(m | argument));
    return;
  } else if (argument <= 0xFF) {
    out_.push_back(m | 24);
    follow = 1;
  } else if (argument <= 0xFFFF) {
    out_.push_back(m | 25);
    follow = 2;
  } else if (argument <= 0xFFFFFFFF) {
    out_.push_back(m | 26);
    follow = 4;
  } else {
    out_.push_back(m | 27);
    follow = 8;
  }
  for (size_t i = follow; i-- > 0;) out_.push_back(static_cast<uint8_t>(argument >> (8 * i)));
}

void Writer::int64(int64_t v) {
  if (v >= 0) {
    uint(static_cast<uint64_t>(v));
  } else {
    // -1 - v without overflow: ~v is exactly that for two's complement values.
    negative(static_cast<uint64_t>(~v));
  }
}

void Writer::bytes(ByteView v) {
  head(Major::kBytes, v.size());
  raw(v);
}

void Writer::text(std::string_view v) {
  head(Major::kText, v.size());
  raw(as_bytes(v));
}

}  // namespace zerv::cbor
