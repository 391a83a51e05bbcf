#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/json_writer.h"

namespace {

using zerv::json::Writer;

std::string json_quoted(std::string_view s) {
  std::string out;
  zerv::json::append_string(out, s);
  return out;
}

TEST(JsonWriter, CompactInInsertionOrder) {
  Writer w;
  w.begin_array();
  w.begin_object()
      .key("kind").string("error")
      .key("zeta").uint(UINT64_MAX)
      .key("alpha").int64(INT64_MIN)
      .key("ok").boolean(true)
      .key("no").boolean(false)
      .key("none").null()
      .key("list").begin_array().uint(1).begin_object().end_object().begin_array().end_array()
      .end_array()
      .key("empty").begin_object().end_object()
      .end_object();
  w.begin_object().key("raw").raw("[1,2]").end_object();
  w.end_array();
  EXPECT_EQ(w.str(),
            "[{\"kind\":\"error\",\"zeta\":18446744073709551615,\"alpha\":-9223372036854775808,"
            "\"ok\":true,\"no\":false,\"none\":null,\"list\":[1,{},[]],\"empty\":{}},"
            "{\"raw\":[1,2]}]");
  EXPECT_TRUE(nlohmann::json::accept(w.str()));
  EXPECT_EQ(Writer().begin_array().end_array().take(), "[]");
}

TEST(JsonWriter, StringEscapes) {
  struct Case {
    std::string in;
    const char* out;
  } cases[] = {
      {"", "\"\""},
      {"say \"hi\"\n", "\"say \\\"hi\\\"\\n\""},
      {"a\\b/c", "\"a\\\\b/c\""},
      {"\r\t\b\f", "\"\\r\\t\\b\\f\""},
      {std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"\xc3\xbc \xe6\xb0\xb4 \xf0\x90\x85\x91", "\"\xc3\xbc \xe6\xb0\xb4 \xf0\x90\x85\x91\""},
      {"a\xff" "b", "\"a\xef\xbf\xbd" "b\""},            // invalid byte replaced
      {"\xe2\x82", "\"\xef\xbf\xbd\""},                   // cut sequence replaced once
      {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // surrogate bytes
  };
  for (const auto& c : cases) {
    const std::string got = json_quoted(c.in);
    EXPECT_EQ(got, c.out);
    // The real parser reads back the same text (for valid UTF-8 input).
    auto parsed = nlohmann::json::parse(got);
    if (c.in.find('\xff') == std::string::npos && c.in.find("\xe2\x82") != 0 &&
        c.in.find('\xed') == std::string::npos) {
      EXPECT_EQ(parsed.get<std::string>(), c.in);
    }
  }
}

TEST(JsonWriter, EveryControlCharacterParsesBack) {
  std::string all;
  for (int c = 0; c < 0x80; ++c) all.push_back(static_cast<char>(c));
  const std::string got = json_quoted(all);
  EXPECT_EQ(got.find_first_of(std::string("\n\r\t", 3)), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(got).get<std::string>(), all);
}

}  // namespace
