#include "stack-ffi/buffers.h"
#include "stack-ffi/last_error.h"
#include "wire/envelope.h"
#include "zerv_stack.h"

extern "C" ZERV_API ZervBuffer zerv_frame_encode_v(uint8_t version, const uint8_t* group_id,
                                                   uint64_t epoch, uint32_t transition_id,
                                                   uint8_t stream_type, uint32_t stream_id,
                                                   uint16_t flags, uint32_t seq,
                                                   const uint8_t* payload,
                                                   size_t payload_len) noexcept {
  zerv::ffi::clear_last_error();
  if (group_id == nullptr) {
    // The group id must address 16 bytes; a null pointer is refused rather than read.
    zerv::ffi::set_last_error("group_id is null");
    return zerv::ffi::kEmptyBuffer;
  }
  zerv::wire::FrameEnvelope e;
  e.version = version;
  e.group_id.assign(group_id, group_id + 16);
  e.epoch = epoch;
  e.transition_id = transition_id;
  e.stream_type = stream_type;
  e.stream_id = stream_id;
  e.flags = flags;
  e.seq = seq;
  if (payload != nullptr) e.payload.assign(payload, payload + payload_len);
  e.payload_size = static_cast<uint32_t>(e.payload.size());
  return zerv::ffi::to_buffer(zerv::wire::encode_envelope(e));
}
