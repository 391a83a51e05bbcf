#pragma once
// Errors as values: every expected failure is a Result carrying a short text.

#include <expected>
#include <string>
#include <utility>

namespace zerv {

struct Error {
  std::string message;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected<Error>(Error{std::move(message)});
}

// Prefixes the text of an error coming up from a lower layer.
inline std::unexpected<Error> fail(std::string_view prefix, const Error& inner) {
  return std::unexpected<Error>(Error{std::string(prefix) + inner.message});
}

}  // namespace zerv
