#include <gtest/gtest.h>

#include <string>

#include "zerv_stack.h"

namespace {

std::string take_string(char* s) {
  std::string out(s);
  zerv_string_free(s);
  return out;
}

TEST(Version, ExactTextAndFreshCopies) {
  char* a = zerv_version();
  char* b = zerv_version();
  EXPECT_NE(a, b);
  EXPECT_EQ(take_string(a), "tarnwick 1.9.2-rc2 (zerv + druv + vokt + myrk)");
  EXPECT_EQ(take_string(b), "tarnwick 1.9.2-rc2 (zerv + druv + vokt + myrk)");
}

}  // namespace
