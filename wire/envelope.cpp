#include "wire/envelope.h"

#include "base/cbor_reader.h"
#include "base/cbor_writer.h"

namespace zerv::wire {
namespace {

// Encoded sizes of the keys with their one-byte heads.
constexpr size_t kKeyBytes = 2 + 4 + 3 + 4 + 3 + 4 + 3 + 4 + 4 + 3;

size_t encoded_size(const FrameEnvelope& e) {
  using cbor::head_size;
  size_t n = 1 + kKeyBytes;
  n += head_size(e.version) + head_size(e.group_id.size()) + e.group_id.size();
  n += head_size(e.epoch) + head_size(e.transition_id) + head_size(e.stream_type);
  n += head_size(e.stream_id) + head_size(e.flags) + head_size(e.seq);
  n += head_size(e.payload_size) + head_size(e.payload.size()) + e.payload.size();
  if (e.payload_format != 0) n += 3 + head_size(e.payload_format);
  return n;
}

}  // namespace

std::string_view stream_type_name(uint8_t code) {
  switch (code) {
    case 0:
      return "control";
    case 1:
      return "audio";
    case 2:
      return "text";
    case 3:
      return "signal";
    default:
      return "unknown";
  }
}

void append_envelope(const FrameEnvelope& e, Bytes& out) {
  cbor::Writer w(std::move(out));
  w.reserve(encoded_size(e));
  w.map(e.payload_format != 0 ? 11 : 10);
  w.text("v");
  w.uint(e.version);
  w.text("gid");
  w.bytes(e.group_id);
  w.text("ep");
  w.uint(e.epoch);
  w.text("tid");
  w.uint(e.transition_id);
  w.text("st");
  w.uint(e.stream_type);
  w.text("sid");
  w.uint(e.stream_id);
  w.text("fl");
  w.uint(e.flags);
  w.text("seq");
  w.uint(e.seq);
  w.text("psz");
  w.uint(e.payload_size);
  w.text("pl");
  w.bytes(e.payload);
  if (e.payload_format != 0) {
    w.text("pf");
    w.uint(e.payload_format);
  }
  out = w.take();
}

Bytes encode_envelope(const FrameEnvelope& e) {
  Bytes out;
  append_envelope(e, out);
  return out;
}

CodecResult<FrameEnvelope> decode_envelope(ByteView bytes) {
  FrameEnvelope e;
  const cbor::Field fields[] = {
      cbor::field("v", e.version),
      cbor::field("gid", e.group_id),
      cbor::field("ep", e.epoch),
      cbor::field("tid", e.transition_id),
      cbor::field("st", e.stream_type),
      cbor::field("sid", e.stream_id),
      cbor::field("fl", e.flags),
      cbor::field("seq", e.seq),
      cbor::field("psz", e.payload_size),
      cbor::field("pl", e.payload),
      cbor::field("pf", e.payload_format, /*required=*/false),
  };
  cbor::Reader r(bytes);
  if (auto ok = cbor::read_record(r, fields); !ok) return decode_failure(ok.error());
  return e;
}

}  // namespace zerv::wire
