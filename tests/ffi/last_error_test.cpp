#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "stack-ffi/buffers.h"
#include "stack-ffi/last_error.h"
#include "zerv_stack.h"

namespace zerv::ffi {
namespace {

std::string take(char* s) {
  std::string out(s);
  zerv_string_free(s);
  return out;
}

TEST(LastError, FreshThreadHasEmptyText) {
  std::string seen = "unset";
  std::thread([&] { seen = take(zerv_last_error()); }).join();
  EXPECT_EQ(seen, "");
}

TEST(LastError, IsPrivateToEachThreadAndReadRepeatedly) {
  set_last_error("main thread failure");
  std::string other;
  std::thread([&] {
    set_last_error("worker failure");
    other = take(zerv_last_error());
  }).join();
  EXPECT_EQ(other, "worker failure");
  EXPECT_EQ(take(zerv_last_error()), "main thread failure");
  EXPECT_EQ(take(zerv_last_error()), "main thread failure");
  clear_last_error();
  EXPECT_EQ(take(zerv_last_error()), "");
}

TEST(LastError, ZeroBytesComeBackAsQuestionMarks) {
  set_last_error(std::string_view("a\0b\0", 4));
  EXPECT_EQ(take(zerv_last_error()), "a?b?");
  clear_last_error();
}

TEST(Buffers, FreeIgnoresEmptyAndNonOwningBuffers) {
  zerv_buffer_free(ZervBuffer{nullptr, 0, 0});
  zerv_string_free(nullptr);
  ZervBuffer empty = to_buffer({});
  EXPECT_NE(empty.data, nullptr);
  EXPECT_EQ(empty.len, 0u);
  EXPECT_EQ(empty.cap, 0u);
  zerv_buffer_free(empty);
  const uint8_t bytes[] = {1, 2, 3};
  ZervBuffer full = to_buffer(bytes);
  EXPECT_EQ(full.len, 3u);
  EXPECT_EQ(full.cap, 3u);
  EXPECT_EQ(full.data[2], 3);
  zerv_buffer_free(full);
}

}  // namespace
}  // namespace zerv::ffi
