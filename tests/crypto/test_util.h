#pragma once
// Hex literals for known-answer tests.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/bytes.h"
#include "common/vectors.h"

namespace zerv::crypto {

using zerv::testing::unhex;

inline std::string hex_of(ByteView v) { return to_hex(v); }

}  // namespace zerv::crypto
