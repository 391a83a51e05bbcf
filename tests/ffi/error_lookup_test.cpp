#include <gtest/gtest.h>

#include <string>

#include "base/bytes.h"
#include "zerv_stack.h"

namespace {

std::string take(char* s) {
  std::string out(s);
  zerv_string_free(s);
  return out;
}

std::string lookup_hex(uint16_t code) {
  ZervBuffer b = zerv_error_lookup(code);
  if (b.data == nullptr) return "";
  EXPECT_EQ(b.len, b.cap);
  std::string hex = zerv::to_hex({b.data, b.len});
  zerv_buffer_free(b);
  return hex;
}

TEST(ErrorLookup, WorkedExampleForCode3) {
  EXPECT_EQ(lookup_hex(3),
            "a664636f64650365636c6173730369726574727961626c65f5656661746"
            "16cf466726561736f6e724552525f45504f43485f4d49534d415443486364657440");
}

TEST(ErrorLookup, WideCodesAndLongNamesUseLongerHeads) {
  // 0x3002: two-byte integer head; class 6; "ERR_MYRK_UNAUTHORIZED" is 21 characters.
  std::string r = lookup_hex(0x3002);
  EXPECT_EQ(r.substr(0, 18), "a664636f6465193002");
  EXPECT_NE(r.find("65636c61737306"), std::string::npos);
  // A 24-character or longer name takes the 0x78 text head.
  std::string d = lookup_hex(0x2002);  // ERR_DRUV_UNSUPPORTED_CONTENT_TYPE, 33 characters
  EXPECT_NE(d.find("66726561736f6e7821"), std::string::npos);
  EXPECT_EQ(d.substr(d.size() - 10), "6364657440");  // "det": empty byte string
  // One-byte integer head for codes 24..255.
  EXPECT_EQ(lookup_hex(0x0010).substr(0, 14), "a664636f646510");
}

TEST(ErrorLookup, UnknownCodeSetsTextAndSuccessLeavesIt) {
  struct Case {
    uint16_t code;
    const char* text;
  };
  for (const Case& c : {Case{10, "unknown error code 0x000A"}, Case{0, "unknown error code 0x0000"},
                        Case{0xFFFF, "unknown error code 0xFFFF"},
                        Case{0x1007, "unknown error code 0x1007"}}) {
    ZervBuffer b = zerv_error_lookup(c.code);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    EXPECT_EQ(take(zerv_last_error()), c.text);
  }
  // A later successful lookup does not clear the earlier failure's text.
  EXPECT_FALSE(lookup_hex(7).empty());
  EXPECT_EQ(take(zerv_last_error()), "unknown error code 0x1007");
}

}  // namespace
