#pragma once
// The frame envelope: the CBOR map that every frame is, carrying routing and ordering fields and
// the sealed payload.

#include <cstdint>
#include <string_view>

#include "base/bytes.h"
#include "wire/codec_error.h"

namespace zerv::wire {

enum class StreamType : uint8_t { kControl = 0, kAudio = 1, kText = 2, kSignal = 3 };

// "control", "audio", "text", "signal"; "unknown" for any other code.
std::string_view stream_type_name(uint8_t code);

struct FrameEnvelope {
  uint8_t version = 0;
  Bytes group_id;
  uint64_t epoch = 0;
  uint32_t transition_id = 0;
  uint8_t stream_type = 0;
  uint32_t stream_id = 0;
  uint16_t flags = 0;
  uint32_t seq = 0;
  uint32_t payload_size = 0;
  Bytes payload;
  uint8_t payload_format = 0;  // written only when not 0

  bool operator==(const FrameEnvelope&) const = default;
};

// Canonical encoding: a definite map with the keys in fixed order, shortest heads.
Bytes encode_envelope(const FrameEnvelope& e);
// Appends the encoding to `out` (lets a caller put a prefix in the same buffer).
void append_envelope(const FrameEnvelope& e, Bytes& out);

// Accepts any key order, definite or indefinite maps and strings, tags, and unknown entries.
// Values are returned as read; the node decides what they mean.
CodecResult<FrameEnvelope> decode_envelope(ByteView bytes);

}  // namespace zerv::wire
