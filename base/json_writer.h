#pragma once
// Compact JSON writer: no whitespace between tokens, members in the order they are written.

#include <cstdint>
#include <string>
#include <string_view>

namespace zerv::json {

// Appends `s` as a JSON string literal: quotation mark, reverse solidus and control characters
// escaped (\n \r \t \b \f, others as \u00xx), everything else as UTF-8. Bytes that are not valid
// UTF-8 become U+FFFD so the output always parses.
void append_string(std::string& out, std::string_view s);

class Writer {
 public:
  Writer& begin_object() { return open('{'); }
  Writer& end_object() { return close('}'); }
  Writer& begin_array() { return open('['); }
  Writer& end_array() { return close(']'); }

  // Member name inside an object; the value written next belongs to it.
  Writer& key(std::string_view name);

  Writer& string(std::string_view s);
  Writer& uint(uint64_t v);
  Writer& int64(int64_t v);
  Writer& boolean(bool v);
  Writer& null();
  // An already serialised JSON value, written as is.
  Writer& raw(std::string_view json);

  const std::string& str() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  void separate();
  Writer& open(char c);
  Writer& close(char c);

  std::string out_;
  bool need_comma_ = false;  // a value ended at this level, so the next one needs a separator
};

}  // namespace zerv::json
