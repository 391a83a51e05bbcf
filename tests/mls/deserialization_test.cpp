// Variable-length vector headers from the deserialization vectors.

#include <gtest/gtest.h>

#include <filesystem>

#include "common/vectors.h"
#include "mls/engine/codec.h"

namespace zerv::mls {
namespace {

TEST(Deserialization, VectorHeaders) {
  auto file = zerv::testing::vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls") /
              "deserialization.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no MLS vectors at " << file;
  auto cases = zerv::testing::load_json(file);
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    Bytes header = zerv::testing::hex(c["vlbytes_header"]);
    uint64_t length = c["length"].get<uint64_t>();
    SCOPED_TRACE(to_hex(header));

    TlsReader r(header);
    EXPECT_EQ(r.varint(), length);
    EXPECT_TRUE(r.finish()) << r.error();

    TlsWriter w;
    w.varint(length);
    EXPECT_EQ(w.bytes(), header);
  }
}

}  // namespace
}  // namespace zerv::mls
