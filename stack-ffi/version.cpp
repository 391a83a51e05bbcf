#include "stack-ffi/buffers.h"
#include "zerv_stack.h"

namespace {
constexpr std::string_view kVersion = "tarnwick 1.9.2-rc2 (zerv + druv + vokt + myrk)";
}

extern "C" ZERV_API char* zerv_version(void) noexcept { return zerv::ffi::to_c_string(kVersion); }
