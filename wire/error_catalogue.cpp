#include "wire/error_catalogue.h"

#include <array>
#include <span>

namespace zerv::wire {
namespace {

constexpr bool R = true;  // retryable
constexpr bool F = true;  // fatal
constexpr bool _ = false;

// Each protocol's codes are contiguous within its range (the core has a gap at 0x000A-0x000F),
// so a table per block indexed by offset is enough.
constexpr std::array<ErrorInfo, 9> kCoreLow{{
    {0x0001, "ERR_UNSUPPORTED_VERSION", 5, _, F},
    {0x0002, "ERR_UNKNOWN_GROUP", 3, _, F},
    {0x0003, "ERR_EPOCH_MISMATCH", 3, R, _},
    {0x0004, "ERR_TRANSITION_MISMATCH", 3, R, _},
    {0x0005, "ERR_REPLAY_DETECTED", 2, _, _},
    {0x0006, "ERR_DECRYPT_FAILED", 2, R, _},
    {0x0007, "ERR_COMMIT_INVALID", 2, _, F},
    {0x0008, "ERR_STREAM_POLICY_VIOLATION", 4, _, _},
    {0x0009, "ERR_TRANSITION_IN_PROGRESS", 3, _, _},
}};
constexpr std::array<ErrorInfo, 5> kCoreHigh{{
    {0x0010, "ERR_PREPARE_TIMEOUT", 3, R, _},
    {0x0011, "ERR_READY_TIMEOUT", 3, R, _},
    {0x0012, "ERR_EXECUTE_TIMEOUT", 3, R, _},
    {0x0013, "ERR_COORDINATOR_GONE", 3, R, _},
    {0x0014, "ERR_DIGEST_MISMATCH", 3, _, F},
}};
constexpr std::array<ErrorInfo, 6> kVokt{{
    {0x1001, "ERR_VOKT_BAD_SOURCE_ID", 5, _, _},
    {0x1002, "ERR_VOKT_DECODE_FAILED", 5, _, _},
    {0x1003, "ERR_VOKT_AUTH_FAILED", 2, _, _},
    {0x1004, "ERR_VOKT_REPLAY_DETECTED", 2, _, _},
    {0x1005, "ERR_VOKT_EPOCH_STALE", 2, _, _},
    {0x1006, "ERR_VOKT_KEY_PHASE_UNKNOWN", 2, _, _},
}};
constexpr std::array<ErrorInfo, 6> kDruv{{
    {0x2001, "ERR_DRUV_BAD_LENGTH", 5, _, _},
    {0x2002, "ERR_DRUV_UNSUPPORTED_CONTENT_TYPE", 5, _, _},
    {0x2003, "ERR_DRUV_DUPLICATE_MESSAGE", 4, _, _},
    {0x2004, "ERR_DRUV_POLICY_REJECTED", 4, _, _},
    {0x2005, "ERR_DRUV_ATTACHMENT_INTEGRITY", 5, _, _},
    {0x2006, "ERR_DRUV_REQUEST_TIMEOUT", 3, R, _},
}};
constexpr std::array<ErrorInfo, 6> kMyrk{{
    {0x3001, "ERR_MYRK_BAD_SCHEMA", 5, _, _},
    {0x3002, "ERR_MYRK_UNAUTHORIZED", 6, _, _},
    {0x3003, "ERR_MYRK_UNKNOWN_SIGNAL", 5, _, _},
    {0x3004, "ERR_MYRK_DUPLICATE_REQUEST", 4, _, _},
    {0x3005, "ERR_MYRK_STATE_CONFLICT", 3, R, _},
    {0x3006, "ERR_MYRK_PRECONDITION_FAILED", 3, _, _},
}};

std::optional<ErrorInfo> in_block(std::span<const ErrorInfo> block, ErrorCode code) {
  const ErrorCode first = block.front().code;
  if (code < first) return std::nullopt;
  const size_t offset = code - first;
  if (offset >= block.size()) return std::nullopt;
  return block[offset];
}

}  // namespace

std::optional<ErrorInfo> lookup_error(ErrorCode code) noexcept {
  switch (code >> 12) {
    case 0x0:
      return code < 0x0010 ? in_block(kCoreLow, code) : in_block(kCoreHigh, code);
    case 0x1:
      return in_block(kVokt, code);
    case 0x2:
      return in_block(kDruv, code);
    case 0x3:
      return in_block(kMyrk, code);
    default:
      return std::nullopt;
  }
}

}  // namespace zerv::wire
