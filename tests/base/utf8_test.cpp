#include <gtest/gtest.h>

#include "base/utf8.h"

namespace {

TEST(Utf8, FirstFailureDescribed) {
  struct Case {
    const char* hex;
    const char* description;  // nullptr: valid
  } cases[] = {
      {"", nullptr},
      {"68656c6c6f", nullptr},
      {"c3bc e6b0b4 f0908591 7f", nullptr},
      {"efbfbf f48fbfbf ee8080 ed9fbf", nullptr},  // U+FFFF, U+10FFFF, U+E000, U+D7FF
      {"68ff", "invalid utf-8 sequence of 1 bytes from index 1"},
      {"68e282", "incomplete utf-8 byte sequence from index 1"},
      {"80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"c0af", "invalid utf-8 sequence of 1 bytes from index 0"},      // overlong lead
      {"c1bf", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"e080af", "invalid utf-8 sequence of 1 bytes from index 0"},    // overlong 3-byte
      {"f08080af", "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong 4-byte
      {"eda080", "invalid utf-8 sequence of 1 bytes from index 0"},    // surrogate
      {"f4908080", "invalid utf-8 sequence of 1 bytes from index 0"},  // above U+10FFFF
      {"f5808080", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"c341", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"61 e28241", "invalid utf-8 sequence of 2 bytes from index 1"},
      {"f0908541", "invalid utf-8 sequence of 3 bytes from index 0"},
      {"f09041", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"c3", "incomplete utf-8 byte sequence from index 0"},
      {"f09085", "incomplete utf-8 byte sequence from index 0"},
      {"e0", "incomplete utf-8 byte sequence from index 0"},
      {"e080", "invalid utf-8 sequence of 1 bytes from index 0"},  // bad before the end
      {"6869 c3bc ff c3", "invalid utf-8 sequence of 1 bytes from index 4"},
  };
  for (const auto& c : cases) {
    std::string compact;
    for (const char* p = c.hex; *p; ++p) {
      if (*p != ' ') compact.push_back(*p);
    }
    zerv::Bytes bytes;
    ASSERT_TRUE(zerv::from_hex(compact, bytes)) << c.hex;
    auto failure = zerv::utf8::validate(bytes);
    if (c.description == nullptr) {
      EXPECT_FALSE(failure) << c.hex << ": " << failure->describe();
    } else {
      ASSERT_TRUE(failure) << c.hex;
      EXPECT_EQ(failure->describe(), c.description) << c.hex;
    }
  }
}

}  // namespace
