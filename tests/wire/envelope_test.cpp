#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/cbor_writer.h"
#include "wire/envelope.h"

namespace {

using zerv::Bytes;
using zerv::wire::FrameEnvelope;

Bytes hex(std::string_view s) {
  std::string compact;
  for (char c : s) {
    if (c != ' ') compact.push_back(c);
  }
  Bytes out;
  EXPECT_TRUE(zerv::from_hex(compact, out)) << s;
  return out;
}

Bytes group_id() {
  Bytes g(16);
  for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<uint8_t>(0xA0 + i);
  return g;
}

FrameEnvelope worked_example() {
  FrameEnvelope e;
  e.version = 1;
  e.group_id = group_id();
  e.epoch = 2;
  e.transition_id = 0;
  e.stream_type = 1;
  e.stream_id = 502;
  e.flags = 1;
  e.seq = 1;
  e.payload = {0x10, 0x11, 0x12, 0x13, 0x14};
  e.payload_size = 5;
  return e;
}

const char* kWorkedExampleHex =
    "aa"
    "6176 01"
    "63676964 50 a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"
    "626570 02"
    "63746964 00"
    "627374 01"
    "63736964 1901f6"
    "62666c 01"
    "63736571 01"
    "6370737a 05"
    "62706c 45 1011121314";

TEST(Envelope, WorkedExampleByteForByte) {
  const Bytes encoded = zerv::wire::encode_envelope(worked_example());
  EXPECT_EQ(zerv::to_hex(encoded), zerv::to_hex(hex(kWorkedExampleHex)));
  auto decoded = zerv::wire::decode_envelope(encoded);
  ASSERT_TRUE(decoded) << decoded.error().text();
  EXPECT_EQ(*decoded, worked_example());
}

TEST(Envelope, PayloadFormatWrittenOnlyWhenSet) {
  FrameEnvelope e = worked_example();
  e.payload_format = 2;
  const Bytes encoded = zerv::wire::encode_envelope(e);
  EXPECT_EQ(encoded[0], 0xab);
  EXPECT_EQ(zerv::to_hex(Bytes(encoded.end() - 4, encoded.end())), "62706602");
  auto decoded = zerv::wire::decode_envelope(encoded);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->payload_format, 2);
}

TEST(Envelope, LargeValuesRoundTrip) {
  FrameEnvelope e;
  e.version = 255;
  e.group_id = Bytes(300, 0x5a);
  e.epoch = UINT64_MAX;
  e.transition_id = UINT32_MAX;
  e.stream_type = 255;
  e.stream_id = 65536;
  e.flags = UINT16_MAX;
  e.seq = 24;
  e.payload_size = 7;  // returned as read, not compared with the payload
  e.payload = Bytes(70000, 0x33);
  e.payload_format = 200;
  auto decoded = zerv::wire::decode_envelope(zerv::wire::encode_envelope(e));
  ASSERT_TRUE(decoded) << decoded.error().text();
  EXPECT_EQ(*decoded, e);

  Bytes prefixed = {9, 9, 9, 9};
  zerv::wire::append_envelope(e, prefixed);
  EXPECT_EQ(Bytes(prefixed.begin() + 4, prefixed.end()), zerv::wire::encode_envelope(e));
}

// Builds a map from already encoded entries, in the given order.
struct Entry {
  std::string key;
  Bytes value;
};

std::vector<Entry> example_entries() {
  const Bytes gid = group_id();
  zerv::cbor::Writer g;
  g.bytes(gid);
  return {{"v", hex("01")},    {"gid", g.take()}, {"ep", hex("02")},        {"tid", hex("00")},
          {"st", hex("01")},   {"sid", hex("1901f6")}, {"fl", hex("01")}, {"seq", hex("01")},
          {"psz", hex("05")},  {"pl", hex("45 1011121314")}};
}

Bytes build(const std::vector<Entry>& entries, bool indefinite = false) {
  zerv::cbor::Writer w;
  if (indefinite) {
    w.raw(hex("bf"));
  } else {
    w.map(entries.size());
  }
  for (const auto& e : entries) {
    w.text(e.key);
    w.raw(e.value);
  }
  if (indefinite) w.raw(hex("ff"));
  return w.take();
}

std::vector<Entry> with(std::vector<Entry> entries, const std::string& key, Bytes value) {
  for (auto& e : entries) {
    if (e.key == key) {
      e.value = std::move(value);
      return entries;
    }
  }
  entries.push_back({key, std::move(value)});
  return entries;
}

std::vector<Entry> without(std::vector<Entry> entries, const std::string& key) {
  std::erase_if(entries, [&](const Entry& e) { return e.key == key; });
  return entries;
}

TEST(Envelope, DecodesVariantsOfTheSameFrame) {
  auto reversed = example_entries();
  std::reverse(reversed.begin(), reversed.end());
  struct Case {
    const char* name;
    Bytes in;
  } cases[] = {
      {"reverse order", build(reversed)},
      {"extra key with nested map",
       build(with(example_entries(), "xyz", hex("a2 6161 a1 6162 9f 01 ff 6163 f6")))},
      {"extra byte-string key", [] {
         Bytes b = build(example_entries());
         b[0] = 0xab;
         Bytes extra = hex("43 ffffff 82 f9 3c00 c0 00");
         b.insert(b.end(), extra.begin(), extra.end());
         return b;
       }()},
      {"indefinite map", build(example_entries(), true)},
      {"chunked payload", build(with(example_entries(), "pl", hex("5f 42 1011 43 121314 ff")))},
      {"tags in front", [] {
         Bytes b = hex("d9d9f7");
         Bytes m = build(with(example_entries(), "ep", hex("c1 02")));
         b.insert(b.end(), m.begin(), m.end());
         return b;
       }()},
      {"explicit pf 0", build(with(example_entries(), "pf", hex("00")))},
      {"trailing bytes", [] {
         Bytes b = build(example_entries());
         b.push_back(0xff);
         b.push_back(0x00);
         return b;
       }()},
  };
  const Bytes canonical = hex(kWorkedExampleHex);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto decoded = zerv::wire::decode_envelope(c.in);
    ASSERT_TRUE(decoded) << decoded.error().text();
    EXPECT_EQ(*decoded, worked_example());
    // Re-encoding gives the canonical form (an explicit "pf" 0 disappears).
    EXPECT_EQ(zerv::wire::encode_envelope(*decoded), canonical);
  }
}

TEST(Envelope, FieldValuesAsRead) {
  auto st200 = zerv::wire::decode_envelope(build(with(example_entries(), "st", hex("18c8"))));
  ASSERT_TRUE(st200);
  EXPECT_EQ(st200->stream_type, 200);

  auto v7 = zerv::wire::decode_envelope(build(with(example_entries(), "v", hex("07"))));
  ASSERT_TRUE(v7);
  EXPECT_EQ(v7->version, 7);

  zerv::cbor::Writer g;
  g.bytes(Bytes(20, 0x01));
  auto gid20 = zerv::wire::decode_envelope(build(with(example_entries(), "gid", g.take())));
  ASSERT_TRUE(gid20);
  EXPECT_EQ(gid20->group_id, Bytes(20, 0x01));

  auto psz = zerv::wire::decode_envelope(build(with(example_entries(), "psz", hex("1a ffffffff"))));
  ASSERT_TRUE(psz);
  EXPECT_EQ(psz->payload_size, UINT32_MAX);
}

TEST(Envelope, DecodeFailures) {
  struct Case {
    const char* name;
    Bytes in;
    const char* text;  // the full CodecError text
  } cases[] = {
      {"missing seq", build(without(example_entries(), "seq")),
       "CBOR decode: missing field `seq`"},
      {"missing gid", build(without(example_entries(), "gid")),
       "CBOR decode: missing field `gid`"},
      {"duplicate tid", [] {
         auto e = example_entries();
         e.push_back({"tid", hex("05")});
         return build(e);
       }(),
       "CBOR decode: duplicate field `tid`"},
      {"st 300", build(with(example_entries(), "st", hex("19012c"))),
       "CBOR decode: invalid value: integer `300`, expected u8"},
      {"fl 65536", build(with(example_entries(), "fl", hex("1a00010000"))),
       "CBOR decode: invalid value: integer `65536`, expected u16"},
      {"seq 2^32", build(with(example_entries(), "seq", hex("1b0000000100000000"))),
       "CBOR decode: invalid value: integer `4294967296`, expected u32"},
      {"ep bignum", build(with(example_entries(), "ep", hex("c2 49 010000000000000000"))),
       "CBOR decode: integer too large"},
      {"negative v", build(with(example_entries(), "v", hex("20"))),
       "CBOR decode: unexpected negative integer"},
      {"pl as text", build(with(example_entries(), "pl", hex("62 6869"))),
       "CBOR decode: invalid type: text string, expected byte string"},
      {"pl as array", build(with(example_entries(), "pl", hex("81 01"))),
       "CBOR decode: invalid type: array, expected byte string"},
      {"gid as integer", build(with(example_entries(), "gid", hex("00"))),
       "CBOR decode: invalid type: integer `0`, expected byte string"},
      {"pf 256", build(with(example_entries(), "pf", hex("190100"))),
       "CBOR decode: invalid value: integer `256`, expected u8"},
      {"integer key", [] {
         Bytes b = build(example_entries());
         b[0] = 0xab;
         b.push_back(0x01);
         b.push_back(0x01);
         return b;
       }(),
       "CBOR decode: map key must be a text or byte string, found integer `1`"},
      {"array", hex("80"), "CBOR decode: invalid type: array, expected map"},
      {"empty input", Bytes{}, "CBOR decode: unexpected end of input"},
      {"map of 2^64 - 1 entries", hex("bb ffffffffffffffff 6176 01"),
       "CBOR decode: unexpected end of input"},
      {"deep skipped value", [] {
         Bytes v(257, 0x81);
         v.push_back(0x00);
         return build(with(example_entries(), "deep", v));
       }(),
       "CBOR decode: nesting deeper than 256 levels"},
      {"megabyte of nested arrays", Bytes(1 << 20, 0x9f),
       "CBOR decode: invalid type: array, expected map"},
      {"megabyte of nesting in a value", [] {
         Bytes b = build(example_entries());
         b[0] = 0xab;
         b.push_back(0x61);
         b.push_back('z');
         b.resize(b.size() + (1 << 20), 0x81);
         return b;
       }(),
       "CBOR decode: nesting deeper than 256 levels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto decoded = zerv::wire::decode_envelope(c.in);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind, zerv::wire::CodecError::Kind::kDecode);
    EXPECT_EQ(decoded.error().text(), c.text);
  }
}

TEST(Envelope, EveryTruncationFails) {
  const Bytes full = zerv::wire::encode_envelope(worked_example());
  for (size_t n = 0; n < full.size(); ++n) {
    Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(zerv::wire::decode_envelope(cut)) << n;
  }
}

TEST(StreamType, Names) {
  EXPECT_EQ(zerv::wire::stream_type_name(0), "control");
  EXPECT_EQ(zerv::wire::stream_type_name(1), "audio");
  EXPECT_EQ(zerv::wire::stream_type_name(2), "text");
  EXPECT_EQ(zerv::wire::stream_type_name(3), "signal");
  EXPECT_EQ(zerv::wire::stream_type_name(4), "unknown");
}

TEST(CodecError, Texts) {
  using zerv::wire::CodecError;
  EXPECT_EQ(CodecError::decode("x").text(), "CBOR decode: x");
  EXPECT_EQ(CodecError::encode("y").text(), "CBOR encode: y");
  EXPECT_EQ(CodecError::length_mismatch().text(),
            "payload_size/content_length/args_length mismatch");
  EXPECT_EQ(CodecError::unknown_enum_value(4294967295).text(),
            "unknown enum value: 4294967295");
}

}  // namespace
