#include "base/cbor_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/utf8.h"

namespace zerv::cbor {
namespace {

constexpr std::string_view kEndOfInput = "unexpected end of input";

std::string negative_text(uint64_t n) {
  // The value is -1 - n; n + 1 overflows only for the smallest value, -2^64.
  if (n == std::numeric_limits<uint64_t>::max()) return "-18446744073709551616";
  std::string text = std::to_string(n + 1);
  text.insert(text.begin(), '-');  // not "-" + ..., which trips a GCC 12 -Wrestrict false alarm
  return text;
}

std::string_view major_name(Major m) {
  switch (m) {
    case Major::kUnsigned:
      return "unsigned integer";
    case Major::kNegative:
      return "negative integer";
    case Major::kBytes:
      return "byte string";
    case Major::kText:
      return "text string";
    case Major::kArray:
      return "array";
    case Major::kMap:
      return "map";
    case Major::kTag:
      return "tag";
    case Major::kSimple:
      return "simple value";
  }
  return "item";
}

}  // namespace

std::string describe(const Head& h) {
  switch (h.major) {
    case Major::kUnsigned:
      return "integer `" + std::to_string(h.argument) + "`";
    case Major::kNegative:
      return "integer `" + negative_text(h.argument) + "`";
    case Major::kTag:
      return "tag " + std::to_string(h.argument);
    case Major::kSimple:
      if (h.is_break()) return "break";
      if (h.info >= 25 && h.info <= 27) return "floating point";
      switch (h.argument) {
        case 20:
          return "boolean `false`";
        case 21:
          return "boolean `true`";
        case 22:
          return "null";
        case 23:
          return "undefined";
        default:
          return "simple value " + std::to_string(h.argument);
      }
    default:
      return std::string(major_name(h.major));
  }
}

std::string invalid_type(const Head& h, std::string_view expected) {
  return "invalid type: " + describe(h) + ", expected " + std::string(expected);
}

std::string_view Reader::unsigned_type_name(size_t width) {
  switch (width) {
    case 1:
      return "u8";
    case 2:
      return "u16";
    case 4:
      return "u32";
    default:
      return "u64";
  }
}

Result<ByteView> Reader::take(uint64_t n) {
  if (n > remaining()) return fail(std::string(kEndOfInput));
  ByteView out = in_.subspan(pos_, static_cast<size_t>(n));
  pos_ += static_cast<size_t>(n);
  return out;
}

Result<Head> Reader::read_head() {
  if (at_end()) return fail(std::string(kEndOfInput));
  const uint8_t initial = in_[pos_];
  Head h;
  h.major = static_cast<Major>(initial >> 5);
  h.info = initial & 0x1F;
  size_t follow = 0;
  if (h.info < 24) {
    h.argument = h.info;
  } else if (h.info <= 27) {
    follow = size_t{1} << (h.info - 24);
    if (follow >= remaining()) return fail(std::string(kEndOfInput));
    for (size_t i = 1; i <= follow; ++i) h.argument = h.argument << 8 | in_[pos_ + i];
  } else if (h.info <= 30) {
    return fail("reserved additional information " + std::to_string(h.info) + " in " +
                std::string(major_name(h.major)) + " head");
  } else if (h.major == Major::kUnsigned || h.major == Major::kNegative ||
             h.major == Major::kTag) {
    return fail("indefinite length on " + std::string(major_name(h.major)));
  }
  if (h.major == Major::kSimple && h.info == 24 && h.argument < 32) {
    return fail("simple value " + std::to_string(h.argument) + " in two-byte form");
  }
  pos_ += 1 + follow;
  return h;
}

Result<Head> Reader::peek_head() {
  const size_t saved = pos_;
  auto h = read_head();
  pos_ = saved;
  return h;
}

Result<void> Reader::skip_tags() {
  for (;;) {
    auto h = peek_head();
    if (!h) return std::unexpected(h.error());
    if (h->major != Major::kTag) return {};
    (void)read_head();
  }
}

Result<void> Reader::read_string_body(const Head& h, const std::function<void(ByteView)>& sink,
                                      bool check_utf8) {
  const bool text = check_utf8 && h.major == Major::kText;
  auto piece = [&](uint64_t length) -> Result<void> {
    auto bytes = take(length);
    if (!bytes) return std::unexpected(bytes.error());
    if (text) {
      if (auto bad = utf8::validate(*bytes)) return fail("text string: " + bad->describe());
    }
    sink(*bytes);
    return {};
  };
  if (!h.indefinite()) return piece(h.argument);
  for (;;) {
    auto chunk = read_head();
    if (!chunk) return std::unexpected(chunk.error());
    if (chunk->is_break()) return {};
    if (chunk->major != h.major || chunk->indefinite()) {
      return fail("chunk of an indefinite " + std::string(major_name(h.major)) +
                  " must be a definite " + std::string(major_name(h.major)));
    }
    if (auto r = piece(chunk->argument); !r) return r;
  }
}

Result<uint64_t> Reader::read_bignum_magnitude() {
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kBytes) return fail(invalid_type(*h, "bignum byte string"));
  uint64_t value = 0;
  bool too_large = false;
  auto r = read_string_body(*h, [&](ByteView piece) {
    for (uint8_t b : piece) {
      if (value >> 56 != 0) too_large = true;
      value = value << 8 | b;
    }
  });
  if (!r) return std::unexpected(r.error());
  if (too_large) return fail("integer too large");
  return value;
}

Result<uint64_t> Reader::read_uint(uint64_t max, std::string_view type_name) {
  for (;;) {
    auto h = read_head();
    if (!h) return std::unexpected(h.error());
    uint64_t value;
    if (h->major == Major::kTag) {
      if (h->argument == kTagNegativeBignum) return fail("unexpected negative integer");
      if (h->argument != kTagPositiveBignum) continue;
      auto magnitude = read_bignum_magnitude();
      if (!magnitude) return magnitude;
      value = *magnitude;
    } else if (h->major == Major::kUnsigned) {
      value = h->argument;
    } else if (h->major == Major::kNegative) {
      return fail("unexpected negative integer");
    } else {
      return fail(invalid_type(*h, type_name));
    }
    if (value > max) {
      return fail("invalid value: integer `" + std::to_string(value) + "`, expected " +
                  std::string(type_name));
    }
    return value;
  }
}

Result<int64_t> Reader::read_int() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  constexpr uint64_t kMax = std::numeric_limits<int64_t>::max();
  if (h->major != Major::kUnsigned && h->major != Major::kNegative) {
    return fail(invalid_type(*h, "i64"));
  }
  if (h->argument > kMax) return fail("invalid value: " + describe(*h) + ", expected i64");
  const auto magnitude = static_cast<int64_t>(h->argument);
  return h->major == Major::kUnsigned ? magnitude : -1 - magnitude;
}

Result<bool> Reader::read_bool() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major == Major::kSimple && h->info == 20) return false;
  if (h->major == Major::kSimple && h->info == 21) return true;
  return fail(invalid_type(*h, "boolean"));
}

Result<Bytes> Reader::read_bytes() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kBytes) return fail(invalid_type(*h, "byte string"));
  Bytes out;
  auto r = read_string_body(*h, [&out](ByteView piece) {
    out.insert(out.end(), piece.begin(), piece.end());
  });
  if (!r) return std::unexpected(r.error());
  return out;
}

Result<Bytes> Reader::read_bytes_or_u8_array() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = peek_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kArray) {
    if (h->major != Major::kBytes) return fail(invalid_type(*h, "byte string or array of u8"));
    return read_bytes();
  }
  auto array = read_array();
  if (!array) return std::unexpected(array.error());
  Bytes out;
  for (;;) {
    auto more = has_next(*array);
    if (!more) return std::unexpected(more.error());
    if (!*more) return out;
    auto b = read_unsigned<uint8_t>();
    if (!b) return std::unexpected(b.error());
    out.push_back(*b);
  }
}

Result<std::string> Reader::read_text() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kText) return fail(invalid_type(*h, "text string"));
  std::string out;
  auto r = read_string_body(*h, [&out](ByteView piece) {
    out.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  });
  if (!r) return std::unexpected(r.error());
  return out;
}

Result<Container> Reader::read_array() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kArray) return fail(invalid_type(*h, "array"));
  if (h->indefinite()) return Container{0, true};
  // Every element takes at least one byte, so a count beyond the input is known to be short.
  if (h->argument > remaining()) return fail(std::string(kEndOfInput));
  return Container{h->argument, false};
}

Result<Container> Reader::read_map() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kMap) return fail(invalid_type(*h, "map"));
  if (h->indefinite()) return Container{0, true};
  if (h->argument > remaining() / 2) return fail(std::string(kEndOfInput));
  return Container{h->argument, false};
}

Result<bool> Reader::has_next(Container& c) {
  if (!c.indefinite) {
    if (c.remaining == 0) return false;
    --c.remaining;
    return true;
  }
  if (at_end()) return fail(std::string(kEndOfInput));
  if (in_[pos_] != 0xFF) return true;
  ++pos_;
  c = Container{0, false};
  return false;
}

Result<ByteView> Reader::read_key() {
  if (auto r = skip_tags(); !r) return std::unexpected(r.error());
  auto h = read_head();
  if (!h) return std::unexpected(h.error());
  if (h->major != Major::kText && h->major != Major::kBytes) {
    return fail("map key must be a text or byte string, found " + describe(*h));
  }
  if (h->indefinite()) return fail("map key must have a definite length");
  if (h->argument > kMaxKeyLength) {
    return fail("map key longer than " + std::to_string(kMaxKeyLength) + " bytes");
  }
  auto key = take(h->argument);
  if (!key) return key;
  if (h->major == Major::kText) {
    if (auto bad = utf8::validate(*key)) return fail("map key: " + bad->describe());
  }
  return key;
}

Result<void> Reader::skip() {
  struct Level {
    uint64_t left;  // items still to come in a definite container
    bool indefinite;
    bool map;
    bool odd;  // an indefinite map holds a key without its value
  };
  std::array<Level, kMaxNesting> open;
  size_t depth = 0;
  bool tagged = false;
  for (;;) {
    auto h = read_head();
    if (!h) return std::unexpected(h.error());
    if (h->is_break()) {
      if (tagged || depth == 0 || !open[depth - 1].indefinite) return fail("unexpected break");
      if (open[depth - 1].odd) return fail("map ends between a key and its value");
      --depth;
    } else {
      tagged = h->major == Major::kTag;
      switch (h->major) {
        case Major::kTag:
          continue;  // the tagged item follows
        case Major::kBytes:
        case Major::kText:
          // Well-formedness only: the content of a skipped string is not inspected.
          if (auto r = read_string_body(*h, [](ByteView) {}, false); !r) return r;
          break;
        case Major::kArray:
        case Major::kMap: {
          const bool map = h->major == Major::kMap;
          uint64_t items = 0;
          if (!h->indefinite()) {
            if (h->argument > (map ? remaining() / 2 : remaining())) {
              return fail(std::string(kEndOfInput));
            }
            items = map ? 2 * h->argument : h->argument;
            if (items == 0) break;  // empty: complete at once
          }
          if (depth == kMaxNesting) {
            return fail("nesting deeper than " + std::to_string(kMaxNesting) + " levels");
          }
          open[depth++] = Level{items, h->indefinite(), map, false};
          continue;
        }
        default:
          break;  // integers and simple values are complete items
      }
    }
    // One item is complete: count it in the containers around it, closing those that are full.
    for (;;) {
      if (depth == 0) return {};
      Level& top = open[depth - 1];
      if (top.indefinite) {
        top.odd = top.map && !top.odd;
        break;
      }
      if (--top.left > 0) break;
      --depth;
    }
  }
}

Field field(std::string_view key, Bytes& out, bool required) {
  return Field{key,
               [&out](Reader& r) -> Result<void> {
                 auto v = r.read_bytes();
                 if (!v) return std::unexpected(v.error());
                 out = std::move(*v);
                 return {};
               },
               required};
}

Result<void> read_record(Reader& r, std::span<const Field> fields) {
  uint64_t seen = 0;  // bit i: fields[i] has been read
  if (fields.size() > 64) return fail("record has more than 64 fields");
  auto map = r.read_map();
  if (!map) return std::unexpected(map.error());
  for (;;) {
    auto more = r.has_next(*map);
    if (!more) return std::unexpected(more.error());
    if (!*more) break;
    auto key = r.read_key();
    if (!key) return std::unexpected(key.error());
    size_t i = 0;
    while (i < fields.size() && !std::ranges::equal(as_bytes(fields[i].key), *key)) ++i;
    if (i == fields.size()) {
      if (auto s = r.skip(); !s) return s;
      continue;
    }
    const uint64_t bit = uint64_t{1} << i;
    if (seen & bit) return fail("duplicate field `" + std::string(fields[i].key) + "`");
    seen |= bit;
    if (auto v = fields[i].read(r); !v) return v;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required && !(seen & (uint64_t{1} << i))) {
      return fail("missing field `" + std::string(fields[i].key) + "`");
    }
  }
  return {};
}

Result<void> check_well_formed(ByteView item) {
  Reader r(item);
  if (auto s = r.skip(); !s) return s;
  if (!r.at_end()) return fail("bytes after the item");
  return {};
}

}  // namespace zerv::cbor
