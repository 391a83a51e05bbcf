// RFC 8949 Appendix A: every example must be well formed; those the writer can express must be
// written byte for byte; those the reader's typed reads cover must decode to the listed value.

#include <gtest/gtest.h>

#include <fstream>

#include "base/cbor_reader.h"
#include "base/cbor_writer.h"
#include "common/vectors.h"

namespace {

using nlohmann::ordered_json;
using zerv::Bytes;
using zerv::cbor::Major;

std::filesystem::path vector_file() {
  return zerv::testing::vector_dir("ZERV_CBOR_VECTORS", "../shared/vectors/cbor") /
         "rfc8949-appendix-a.json";
}

// Floats and integers beyond 64 bits (parsed as floats) are outside what the writer and the
// typed reads handle.
bool plain(const ordered_json& j) {
  if (j.is_number_float()) return false;
  if (j.is_array() || j.is_object()) {
    for (const auto& item : j) {
      if (!plain(item)) return false;
    }
  }
  return true;
}

void write(zerv::cbor::Writer& w, const ordered_json& j) {
  if (j.is_number_unsigned()) {
    w.uint(j.get<uint64_t>());
  } else if (j.is_number_integer()) {
    w.int64(j.get<int64_t>());
  } else if (j.is_string()) {
    w.text(j.get<std::string>());
  } else if (j.is_boolean()) {
    w.boolean(j.get<bool>());
  } else if (j.is_null()) {
    w.null();
  } else if (j.is_array()) {
    w.array(j.size());
    for (const auto& item : j) write(w, item);
  } else {
    w.map(j.size());
    for (const auto& [key, value] : j.items()) {
      w.text(key);
      write(w, value);
    }
  }
}

// Generic decoding through the typed reads; the vectors nest only a few levels.
zerv::Result<ordered_json> read_any(zerv::cbor::Reader& r) {
  if (auto t = r.skip_tags(); !t) return std::unexpected(t.error());
  auto h = r.peek_head();
  if (!h) return std::unexpected(h.error());
  auto wrap = [](auto v) -> zerv::Result<ordered_json> {
    if (!v) return std::unexpected(v.error());
    return ordered_json(*v);
  };
  switch (h->major) {
    case Major::kUnsigned:
      return wrap(r.read_unsigned<uint64_t>());
    case Major::kNegative:
      return wrap(r.read_int());
    case Major::kText:
      return wrap(r.read_text());
    case Major::kArray: {
      auto c = r.read_array();
      if (!c) return std::unexpected(c.error());
      ordered_json out = ordered_json::array();
      for (;;) {
        auto more = r.has_next(*c);
        if (!more) return std::unexpected(more.error());
        if (!*more) return out;
        auto item = read_any(r);
        if (!item) return item;
        out.push_back(*item);
      }
    }
    case Major::kMap: {
      auto c = r.read_map();
      if (!c) return std::unexpected(c.error());
      ordered_json out = ordered_json::object();
      for (;;) {
        auto more = r.has_next(*c);
        if (!more) return std::unexpected(more.error());
        if (!*more) return out;
        auto key = r.read_key();
        if (!key) return std::unexpected(key.error());
        auto value = read_any(r);
        if (!value) return value;
        out[std::string(key->begin(), key->end())] = *value;
      }
    }
    case Major::kSimple:
      if (h->argument == 22) {
        (void)r.read_head();
        return ordered_json(nullptr);
      }
      return wrap(r.read_bool());
    default:
      return zerv::fail("not covered");
  }
}

TEST(CborAppendixA, WellFormedWrittenAndRead) {
  if (!std::filesystem::exists(vector_file())) {
    GTEST_SKIP() << "CBOR vectors not found at " << vector_file()
                 << " (set ZERV_CBOR_VECTORS to the directory)";
  }
  std::ifstream in(vector_file());
  const ordered_json vectors = ordered_json::parse(in);
  ASSERT_EQ(vectors.size(), 82u);
  size_t written = 0, read = 0;
  for (const auto& v : vectors) {
    const std::string hex = v["hex"].get<std::string>();
    SCOPED_TRACE(hex);
    Bytes item;
    ASSERT_TRUE(zerv::from_hex(hex, item));
    auto ok = zerv::cbor::check_well_formed(item);
    if (hex == "f818") {
      // simple(24) in two bytes is a leftover of RFC 7049; RFC 8949 section 3.3 makes two-byte
      // simple values below 32 not well formed.
      EXPECT_FALSE(ok);
      continue;
    }
    EXPECT_TRUE(ok) << ok.error().message;

    if (!v.contains("decoded") || !plain(v["decoded"])) continue;
    const ordered_json& expected = v["decoded"];
    if (v["roundtrip"].get<bool>()) {
      zerv::cbor::Writer w;
      write(w, expected);
      EXPECT_EQ(zerv::to_hex(w.out()), hex);
      ++written;
    }
    zerv::cbor::Reader r(item);
    auto got = read_any(r);
    ASSERT_TRUE(got) << got.error().message;
    EXPECT_EQ(*got, expected);
    EXPECT_TRUE(r.at_end());
    ++read;
  }
  // Guards against the filters above silently dropping most of the file.
  EXPECT_GE(written, 25u);
  EXPECT_GE(read, 35u);
}

}  // namespace
