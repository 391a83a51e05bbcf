#include "wire/error_catalogue.h"

#include <gtest/gtest.h>

namespace zerv::wire {
namespace {

TEST(ErrorCatalogue, UnknownCodes) {
  for (ErrorCode code : {0, 10, 11, 12, 13, 14, 15, 21, 0x0FFF, 0x1000, 0x1007, 0x2000, 0x2007,
                         0x3000, 0x3007, 0x4001, 0xFFFF}) {
    EXPECT_FALSE(lookup_error(code).has_value()) << code;
  }
}

TEST(ErrorCatalogue, EveryKnownCodeIsConsistent) {
  int known = 0;
  for (uint32_t code = 0; code <= 0xFFFF; ++code) {
    auto info = lookup_error(static_cast<ErrorCode>(code));
    if (!info) continue;
    ++known;
    EXPECT_EQ(info->code, code);
    EXPECT_TRUE(info->name.starts_with("ERR_")) << info->name;
    EXPECT_GE(info->error_class, 2);
    EXPECT_LE(info->error_class, 6);
    EXPECT_FALSE(info->retryable && info->fatal) << info->name;
  }
  EXPECT_EQ(known, 14 + 6 + 6 + 6);
}

TEST(ErrorCatalogue, SelectedEntries) {
  struct Case {
    ErrorCode code;
    const char* name;
    uint8_t error_class;
    bool retryable, fatal;
  };
  const Case cases[] = {
      {0x0003, "ERR_EPOCH_MISMATCH", 3, true, false},
      {0x0007, "ERR_COMMIT_INVALID", 2, false, true},
      {0x0010, "ERR_PREPARE_TIMEOUT", 3, true, false},
      {0x0014, "ERR_DIGEST_MISMATCH", 3, false, true},
      {0x1006, "ERR_VOKT_KEY_PHASE_UNKNOWN", 2, false, false},
      {0x2006, "ERR_DRUV_REQUEST_TIMEOUT", 3, true, false},
      {0x3002, "ERR_MYRK_UNAUTHORIZED", 6, false, false},
      {0x3005, "ERR_MYRK_STATE_CONFLICT", 3, true, false},
  };
  for (const Case& c : cases) {
    auto info = lookup_error(c.code);
    ASSERT_TRUE(info) << c.name;
    EXPECT_EQ(info->name, c.name);
    EXPECT_EQ(info->error_class, c.error_class) << c.name;
    EXPECT_EQ(info->retryable, c.retryable) << c.name;
    EXPECT_EQ(info->fatal, c.fatal) << c.name;
  }
}

}  // namespace
}  // namespace zerv::wire
