#include "base/json_writer.h"

#include "base/bytes.h"
#include "base/utf8.h"

namespace zerv::json {

void append_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  const ByteView bytes = as_bytes(s);
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t c = bytes[i];
    if (c >= 0x80) {
      utf8::Step st = utf8::step(bytes.subspan(i));
      if (st.valid_length == 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD for the invalid (or cut) sequence
        i += st.bad_length.value_or(bytes.size() - i);
      } else {
        out.append(s.substr(i, st.valid_length));
        i += st.valid_length;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out.push_back('"');
}

void Writer::separate() {
  if (need_comma_) out_.push_back(',');
  need_comma_ = true;
}

Writer& Writer::open(char c) {
  separate();
  out_.push_back(c);
  need_comma_ = false;
  return *this;
}

Writer& Writer::close(char c) {
  out_.push_back(c);
  need_comma_ = true;
  return *this;
}

Writer& Writer::key(std::string_view name) {
  separate();
  append_string(out_, name);
  out_.push_back(':');
  need_comma_ = false;
  return *this;
}

Writer& Writer::string(std::string_view s) {
  separate();
  append_string(out_, s);
  return *this;
}

Writer& Writer::uint(uint64_t v) {
  separate();
  out_ += std::to_string(v);
  return *this;
}

Writer& Writer::int64(int64_t v) {
  separate();
  out_ += std::to_string(v);
  return *this;
}

Writer& Writer::boolean(bool v) {
  separate();
  out_ += v ? "true" : "false";
  return *this;
}

Writer& Writer::null() {
  separate();
  out_ += "null";
  return *this;
}

Writer& Writer::raw(std::string_view json) {
  separate();
  out_ += json;
  return *this;
}

}  // namespace zerv::json
