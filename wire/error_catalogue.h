#pragma once
// The fixed catalogue of protocol error codes: name, class and flags of each known code.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zerv::wire {

using ErrorCode = uint16_t;

struct ErrorInfo {
  ErrorCode code;
  std::string_view name;  // static text, always "ERR_..."
  uint8_t error_class;
  bool retryable;
  bool fatal;
};

// The entry of a known code, or nothing. No allocation.
std::optional<ErrorInfo> lookup_error(ErrorCode code) noexcept;

}  // namespace zerv::wire
