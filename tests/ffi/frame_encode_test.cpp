#include <gtest/gtest.h>

#include <string>

#include "wire/envelope.h"
#include "zerv_stack.h"

namespace {

std::string last_error() {
  char* s = zerv_last_error();
  std::string out(s);
  zerv_string_free(s);
  return out;
}

zerv::Bytes take(ZervBuffer b) {
  EXPECT_NE(b.data, nullptr);
  zerv::Bytes out(b.data, b.data + b.len);
  zerv_buffer_free(b);
  return out;
}

const uint8_t kGroup[16] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                            0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};

TEST(FrameEncode, WorkedExample) {
  const uint8_t payload[] = {0x10, 0x11, 0x12, 0x13, 0x14};
  zerv::Bytes frame =
      take(zerv_frame_encode_v(1, kGroup, 2, 0, 1, 502, 1, 1, payload, sizeof payload));
  EXPECT_EQ(zerv::to_hex(frame),
            "aa" "617601" "6367696450" "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf" "62657002" "6374696400"
            "62737401" "637369641901f6" "62666c01" "6373657101" "6370737a05" "62706c451011121314");
}

TEST(FrameEncode, FieldsUnchangedAndNullPayload) {
  zerv::Bytes frame =
      take(zerv_frame_encode_v(7, kGroup, UINT64_MAX, 9, 200, 4, 0x8001, 77, nullptr, 1000));
  auto e = zerv::wire::decode_envelope(frame);
  ASSERT_TRUE(e) << e.error().text();
  EXPECT_EQ(e->version, 7);
  EXPECT_EQ(e->group_id, zerv::Bytes(kGroup, kGroup + 16));
  EXPECT_EQ(e->epoch, UINT64_MAX);
  EXPECT_EQ(e->transition_id, 9u);
  EXPECT_EQ(e->stream_type, 200);
  EXPECT_EQ(e->stream_id, 4u);
  EXPECT_EQ(e->flags, 0x8001);
  EXPECT_EQ(e->seq, 77u);
  EXPECT_EQ(e->payload_size, 0u);
  EXPECT_TRUE(e->payload.empty());
  EXPECT_EQ(e->payload_format, 0);
  EXPECT_EQ(frame[0], 0xaa);  // no "pf" entry
}

TEST(FrameEncode, ClearsLastError) {
  // A refused call leaves a reason; the next good call clears it.
  ZervBuffer bad = zerv_frame_encode_v(1, nullptr, 0, 0, 0, 0, 0, 0, nullptr, 0);
  EXPECT_EQ(bad.data, nullptr);
  EXPECT_NE(last_error(), "");
  zerv::Bytes frame = take(zerv_frame_encode_v(1, kGroup, 0, 0, 0, 0, 0, 0, nullptr, 0));
  EXPECT_EQ(last_error(), "");
  EXPECT_FALSE(frame.empty());
}

}  // namespace
