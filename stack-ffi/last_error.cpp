#include "stack-ffi/last_error.h"

#include "stack-ffi/buffers.h"
#include "zerv_stack.h"

namespace zerv::ffi {
namespace {
thread_local std::string t_last_error;
}

void clear_last_error() noexcept { t_last_error.clear(); }
void set_last_error(std::string_view text) { t_last_error.assign(text); }
const std::string& last_error_text() noexcept { return t_last_error; }

}  // namespace zerv::ffi

extern "C" ZERV_API char* zerv_last_error(void) noexcept {
  return zerv::ffi::to_c_string(zerv::ffi::last_error_text());
}
