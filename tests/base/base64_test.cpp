#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <random>

#include "base/base64.h"

namespace {

TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(zerv::base64::encode(zerv::as_bytes(plain)), encoded);
    auto back = zerv::base64::decode(encoded);
    ASSERT_TRUE(back) << encoded;
    EXPECT_EQ(*back, zerv::to_bytes(zerv::as_bytes(plain)));
  }
  const zerv::Bytes high = {0xfb, 0xff, 0xbf};
  EXPECT_EQ(zerv::base64::encode(high), "+/+/");
}

TEST(Base64, MatchesOpenSslOnRandomInputs) {
  std::mt19937 rng(7);
  for (size_t len = 0; len < 200; ++len) {
    zerv::Bytes in(len);
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    std::string expected(4 * ((len + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()), in.data(),
                                  static_cast<int>(len));
    expected.resize(static_cast<size_t>(n));
    const std::string got = zerv::base64::encode(in);
    EXPECT_EQ(got, expected);
    auto back = zerv::base64::decode(got);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, in);
  }
}

TEST(Base64, StrictDecoderRefuses) {
  const char* bad[] = {
      "Zg",        // no padding
      "Zg=",       // short padding
      "Zg===",     // length
      "Z===",      // too much padding
      "====",
      "Zm9v Yg==",  // whitespace
      "Zm9\nv",
      "Zm9-",       // URL-safe alphabet
      "Zm=v",       // padding inside
      "Zg==Zm9v",   // padding before more data
      "Zh==",       // non-zero unused bits
      "Zm9=",
  };
  for (const char* text : bad) EXPECT_FALSE(zerv::base64::decode(text)) << text;
}

}  // namespace
