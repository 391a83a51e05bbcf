#pragma once
// The calling thread's last-error text.

#include <string>
#include <string_view>

namespace zerv::ffi {

void clear_last_error() noexcept;
void set_last_error(std::string_view text);
const std::string& last_error_text() noexcept;

}  // namespace zerv::ffi
