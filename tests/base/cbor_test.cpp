#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/cbor_reader.h"
#include "base/cbor_writer.h"

namespace {

using zerv::Bytes;
using zerv::cbor::Reader;
using zerv::cbor::Writer;

Bytes hex(std::string_view s) {
  Bytes out;
  std::string compact;
  for (char c : s) {
    if (c != ' ') compact.push_back(c);
  }
  EXPECT_TRUE(zerv::from_hex(compact, out)) << s;
  return out;
}

Bytes repeat(uint8_t b, size_t n) { return Bytes(n, b); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(CborWriter, ShortestHeads) {
  struct Case {
    uint64_t value;
    const char* uint_hex;
  } cases[] = {
      {0, "00"},
      {23, "17"},
      {24, "1818"},
      {255, "18ff"},
      {256, "190100"},
      {65535, "19ffff"},
      {65536, "1a00010000"},
      {4294967295, "1affffffff"},
      {4294967296, "1b0000000100000000"},
      {UINT64_MAX, "1bffffffffffffffff"},
  };
  for (const auto& c : cases) {
    Writer w;
    w.uint(c.value);
    EXPECT_EQ(zerv::to_hex(w.out()), c.uint_hex);
    EXPECT_EQ(zerv::cbor::head_size(c.value), w.out().size());
  }
  Writer w;
  w.int64(-1);
  w.int64(-25);
  w.int64(INT64_MIN);
  w.negative(UINT64_MAX);
  w.bytes(Bytes{});
  w.text("a");
  w.map(24);
  w.array(0);
  w.boolean(false);
  w.boolean(true);
  w.null();
  w.tag(2);
  EXPECT_EQ(zerv::to_hex(w.out()),
            "20" "3818" "3b7fffffffffffffff" "3bffffffffffffffff" "40" "6161" "b818" "80" "f4"
            "f5" "f6" "c2");
}

TEST(CborWriter, ContinuesAfterPrefix) {
  Writer w(Bytes{1, 2, 3, 4});
  w.uint(500);
  EXPECT_EQ(zerv::to_hex(w.out()), "01020304" "1901f4");
}

// Items that are not well formed (and what the check must not do: read past the end).
TEST(CborWellFormed, RefusesMalformedItems) {
  const char* cases[] = {
      "",                    // nothing
      "18",                  // head cut before its one following byte
      "1901",                // ... two
      "1a000000",            // ... four
      "1b00000000000000",    // ... eight
      "1c", "3d", "5e", "fe",  // reserved additional information
      "1f", "3f", "df",      // indefinite length on integers and tags
      "ff",                  // break outside an indefinite container
      "f800", "f81f",        // simple values below 32 in two-byte form
      "42 01",               // byte string shorter than announced
      "7a ffffffff 00",      // text string longer than the input
      "5f 6161 ff",          // text chunk inside a byte string
      "5f 5f ff ff",         // indefinite chunk
      "7f 41 00 ff",         // byte chunk inside a text string
      "5f 00 ff",            // integer chunk
      "5f 41",               // unterminated chunks
      "81",                  // array missing its element
      "a1 01",               // map missing a value
      "bf 01 ff",            // indefinite map ending after a key
      "9f",                  // unterminated indefinite array
      "9f c0 ff",            // tag directly before a break
      "c0",                  // tag without its item
      "00 00",               // bytes after the item
      "9b ffffffffffffffff", // array announcing 2^64 - 1 items
      "bb ffffffffffffffff", // map announcing 2^64 - 1 entries
      "5b ffffffffffffffff", // byte string announcing 2^64 - 1 bytes
  };
  for (const char* c : cases) {
    Bytes item = hex(c);
    EXPECT_FALSE(zerv::cbor::check_well_formed(item)) << c;
  }
}

TEST(CborWellFormed, NestingLimit) {
  // 256 open containers are fine, the 257th is refused; both length forms count.
  for (uint8_t open : {uint8_t{0x81}, uint8_t{0x9f}}) {
    Bytes deep = repeat(open, 256);
    deep.push_back(0x00);
    if (open == 0x9f) deep.resize(deep.size() + 256, 0xff);
    EXPECT_TRUE(zerv::cbor::check_well_formed(deep)) << int(open);

    Bytes too_deep = repeat(open, 257);
    too_deep.push_back(0x00);
    if (open == 0x9f) too_deep.resize(too_deep.size() + 257, 0xff);
    auto r = zerv::cbor::check_well_formed(too_deep);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "nesting deeper than 256 levels");
  }
  // A megabyte of nested arrays and maps is refused cleanly (no recursion to overflow).
  for (uint8_t open : {uint8_t{0x81}, uint8_t{0x9f}, uint8_t{0xa1}}) {
    EXPECT_FALSE(zerv::cbor::check_well_formed(repeat(open, 1 << 20))) << int(open);
  }
  // Long tag chains open nothing.
  Bytes tagged = repeat(0xc1, 100000);
  tagged.push_back(0x01);
  EXPECT_TRUE(zerv::cbor::check_well_formed(tagged));
}

TEST(CborReader, UnsignedWidths) {
  struct Case {
    const char* item;
    int width;  // bytes of the target type
    const char* error;  // nullptr: reads as `value`
    uint64_t value;
  } cases[] = {
      {"18ff", 1, nullptr, 255},
      {"190100", 1, "invalid value: integer `256`, expected u8", 0},
      {"19ffff", 2, nullptr, 65535},
      {"1a00010000", 2, "invalid value: integer `65536`, expected u16", 0},
      {"1affffffff", 4, nullptr, 4294967295},
      {"1b0000000100000000", 4, "invalid value: integer `4294967296`, expected u32", 0},
      {"1bffffffffffffffff", 8, nullptr, UINT64_MAX},
      {"c1 c6 05", 4, nullptr, 5},                       // tags in front skipped
      {"c2 42 0102", 4, nullptr, 0x102},                 // bignum that fits
      {"c2 49 000000000000000001", 8, nullptr, 1},       // leading zeros
      {"c2 49 010000000000000000", 8, "integer too large", 0},
      {"c3 41 00", 8, "unexpected negative integer", 0},
      {"20", 8, "unexpected negative integer", 0},
      {"3bffffffffffffffff", 8, "unexpected negative integer", 0},
      {"40", 4, "invalid type: byte string, expected u32", 0},
      {"6161", 1, "invalid type: text string, expected u8", 0},
      {"f5", 2, "invalid type: boolean `true`, expected u16", 0},
      {"f6", 8, "invalid type: null, expected u64", 0},
      {"f93c00", 8, "invalid type: floating point, expected u64", 0},
      {"a0", 4, "invalid type: map, expected u32", 0},
      {"19 01", 4, "unexpected end of input", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    Bytes item = hex(c.item);
    Reader r(item);
    zerv::Result<uint64_t> got = zerv::fail("unset");
    switch (c.width) {
      case 1:
        got = r.read_unsigned<uint8_t>();
        break;
      case 2:
        got = r.read_unsigned<uint16_t>();
        break;
      case 4:
        got = r.read_unsigned<uint32_t>();
        break;
      default:
        got = r.read_unsigned<uint64_t>();
    }
    if (c.error == nullptr) {
      ASSERT_TRUE(got) << got.error().message;
      EXPECT_EQ(*got, c.value);
      EXPECT_TRUE(r.at_end());
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().message, c.error);
    }
  }
}

TEST(CborReader, ByteStrings) {
  struct Case {
    const char* item;
    bool array_allowed;
    const char* bytes;  // nullptr: must fail
  } cases[] = {
      {"43 f8fffe", false, "f8fffe"},
      {"5f 42 0102 40 41 03 ff", false, "010203"},  // chunks joined, empty chunk fine
      {"d8 18 41 07", false, "07"},                 // tag skipped
      {"83 18f8 18ff 18fe", false, nullptr},        // array refused unless allowed
      {"83 18f8 18ff 18fe", true, "f8fffe"},
      {"9f 01 02 ff", true, "0102"},
      {"80", true, ""},
      {"81 190100", true, nullptr},  // element above 255
      {"81 20", true, nullptr},
      {"81 81 00", true, nullptr},
      {"6161", true, nullptr},
      {"5f 6161 ff", false, nullptr},
      {"45 0102", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    Bytes item = hex(c.item);
    Reader r(item);
    auto got = c.array_allowed ? r.read_bytes_or_u8_array() : r.read_bytes();
    if (c.bytes == nullptr) {
      EXPECT_FALSE(got);
    } else {
      ASSERT_TRUE(got) << got.error().message;
      EXPECT_EQ(zerv::to_hex(*got), c.bytes);
    }
  }
}

TEST(CborWellFormed, TextContentIsNotJudged) {
  EXPECT_TRUE(zerv::cbor::check_well_formed(hex("62 c328")));
  EXPECT_TRUE(zerv::cbor::check_well_formed(hex("7f 61 c3 61 a9 ff")));
}

TEST(CborReader, TextAndBool) {
  Bytes item = hex("7f 62 c3bc 61 21 ff f4 f5 f6 63 eda080");
  Reader r(item);
  EXPECT_EQ(r.read_text().value(), "\xc3\xbc!");
  EXPECT_EQ(r.read_bool().value(), false);
  EXPECT_EQ(r.read_bool().value(), true);
  auto null = r.read_bool();
  ASSERT_FALSE(null);
  EXPECT_EQ(null.error().message, "invalid type: null, expected boolean");
  auto surrogate = r.read_text();
  ASSERT_FALSE(surrogate);
  EXPECT_EQ(surrogate.error().message,
            "text string: invalid utf-8 sequence of 1 bytes from index 0");
}

// A record of three fields, one optional, as record decoders build it.
struct Record {
  uint8_t a = 0;
  uint32_t b = 0;
  Bytes c;
  uint16_t d = 0;
};

zerv::Result<Record> read_record(zerv::ByteView in) {
  Record rec;
  const zerv::cbor::Field fields[] = {
      zerv::cbor::field("a", rec.a),
      zerv::cbor::field("bb", rec.b),
      zerv::cbor::field("c", rec.c),
      zerv::cbor::field("d", rec.d, false),
  };
  Reader r(in);
  if (auto ok = zerv::cbor::read_record(r, fields); !ok) return std::unexpected(ok.error());
  return rec;
}

Bytes text_key(std::string_view k) {
  Writer w;
  w.text(k);
  return w.take();
}

TEST(CborRecord, AcceptsAnyOrderUnknownEntriesAndEncodings) {
  const Bytes body = concat({text_key("a"), hex("01"), text_key("bb"), hex("1a00010000"),
                             text_key("c"), hex("42 0a0b")});
  struct Case {
    const char* name;
    Bytes in;
  } cases[] = {
      {"plain", concat({hex("a3"), body})},
      {"indefinite map", concat({hex("bf"), body, hex("ff")})},
      {"tagged map", concat({hex("d9d9f7 a3"), body})},
      {"reversed",
       concat({hex("a3 61 63 42 0a0b 62 6262 1a00010000 61 61 01")})},
      {"byte-string and tagged keys",
       concat({hex("a3 41 61 01 c0 42 6262 1a00010000 d818 61 63 5f 41 0a 41 0b ff")})},
      {"unknown entries",
       concat({hex("a6"), body, hex("63 78797a a1 61 79 82 01 9f f6 ff"), hex("41 ff 5f ff"),
               hex("62 6464 c1 00")})},
      {"trailing bytes", concat({hex("a3"), body, hex("ff ff 00")})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rec = read_record(c.in);
    ASSERT_TRUE(rec) << rec.error().message;
    EXPECT_EQ(rec->a, 1);
    EXPECT_EQ(rec->b, 65536u);
    EXPECT_EQ(zerv::to_hex(rec->c), "0a0b");
    EXPECT_EQ(rec->d, 0);
  }
  auto with_optional = read_record(concat({hex("a4"), body, text_key("d"), hex("19ffff")}));
  ASSERT_TRUE(with_optional);
  EXPECT_EQ(with_optional->d, 65535);
}

TEST(CborRecord, Diagnostics) {
  const Bytes a = concat({text_key("a"), hex("01")});
  const Bytes b = concat({text_key("bb"), hex("02")});
  const Bytes c = concat({text_key("c"), hex("40")});
  Bytes long_key = concat({hex("79 1001"), Bytes(4097, 'k'), hex("00")});
  Bytes max_key = concat({hex("79 1000"), Bytes(4096, 'k'), hex("00")});
  struct Case {
    const char* name;
    Bytes in;
    const char* error;  // nullptr: decodes
  } cases[] = {
      {"missing", concat({hex("a2"), a, c}), "missing field `bb`"},
      {"first missing named", concat({hex("a1"), c}), "missing field `a`"},
      {"duplicate", concat({hex("a4"), a, b, c, b}), "duplicate field `bb`"},
      {"duplicate as byte key", concat({hex("a4"), a, b, c, hex("41 61 01")}),
       "duplicate field `a`"},
      {"unknown key repeated", concat({hex("a5"), a, b, c, hex("61 78 00 61 78 00")}), nullptr},
      {"integer key", concat({hex("a4"), a, b, c, hex("01 01")}),
       "map key must be a text or byte string, found integer `1`"},
      {"array key", concat({hex("a4"), a, b, c, hex("80 01")}),
       "map key must be a text or byte string, found array"},
      {"indefinite key", concat({hex("a4"), a, b, c, hex("7f 6178 ff 01")}),
       "map key must have a definite length"},
      {"key of 4097 bytes", concat({hex("a4"), a, b, c, long_key}),
       "map key longer than 4096 bytes"},
      {"key of 4096 bytes", concat({hex("a4"), a, b, c, max_key}), nullptr},
      {"key not UTF-8", concat({hex("a4"), a, b, c, hex("62 61ff 00")}),
       "map key: invalid utf-8 sequence of 1 bytes from index 1"},
      {"byte key not UTF-8", concat({hex("a4"), a, b, c, hex("42 61ff 00")}), nullptr},
      {"wrong type", concat({hex("a3"), a, b, text_key("c"), hex("6161")}),
       "invalid type: text string, expected byte string"},
      {"out of range", concat({hex("a3"), text_key("a"), hex("190100"), b, c}),
       "invalid value: integer `256`, expected u8"},
      {"not a map", hex("83 01 02 03"), "invalid type: array, expected map"},
      {"empty", Bytes{}, "unexpected end of input"},
      {"truncated", concat({hex("a3"), a, b}), "unexpected end of input"},
      {"2^64 entries", concat({hex("bb ffffffffffffffff"), a, b, c}), "unexpected end of input"},
      {"break for a value", concat({hex("bf"), a, b, c, text_key("x"), hex("ff")}),
       "unexpected break"},
      {"deep unknown value",
       concat({hex("a4"), a, b, c, text_key("x"), repeat(0x81, 257), hex("00")}),
       "nesting deeper than 256 levels"},
      {"megabyte of nesting", concat({hex("a4"), a, b, c, text_key("x"), repeat(0x9f, 1 << 20)}),
       "nesting deeper than 256 levels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rec = read_record(c.in);
    if (c.error == nullptr) {
      EXPECT_TRUE(rec) << rec.error().message;
    } else {
      ASSERT_FALSE(rec);
      EXPECT_EQ(rec.error().message, c.error);
    }
  }
}

TEST(CborRecord, EveryTruncationFailsCleanly) {
  const Bytes full = hex("bf 61 61 01 62 6262 1a00010000 61 63 5f 41 0a 41 0b ff 61 78 9f 80 ff ff");
  ASSERT_TRUE(read_record(full));
  for (size_t n = 0; n < full.size(); ++n) {
    Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(read_record(cut)) << n;
  }
}

}  // namespace
