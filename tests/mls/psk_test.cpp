#include "mls/engine/psk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/vectors.h"
#include "mls/engine/codec.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

// PreSharedKeyID of an external PSK: psktype 1, psk_id<V>, psk_nonce<V>.
Bytes external_psk_id(ByteView id, ByteView nonce) {
  TlsWriter w;
  w.u8(1);
  w.opaque(id);
  w.opaque(nonce);
  return w.take();
}

TEST(PskSecret, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "psk_secret.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  ASSERT_FALSE(cases.empty());
  for (const auto& [index, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(index));
    SCOPED_TRACE(std::to_string(c["psks"].size()) + " psks");
    std::vector<Bytes> ids, values;
    for (const auto& p : c["psks"]) {
      ids.push_back(external_psk_id(hex(p["psk_id"]), hex(p["psk_nonce"])));
      values.push_back(hex(p["psk"]));
    }
    std::vector<PskInput> inputs;
    for (size_t i = 0; i < ids.size(); ++i) inputs.push_back({ids[i], values[i]});
    auto secret = psk_secret(inputs);
    ASSERT_TRUE(secret) << secret.error().message;
    EXPECT_EQ(Bytes(secret->begin(), secret->end()), hex(c["psk_secret"]));
  }
}

TEST(PskSecret, NoPsksGiveZeroSecretAndOrderMatters) {
  auto none = psk_secret({});
  ASSERT_TRUE(none);
  EXPECT_EQ(Bytes(none->begin(), none->end()), Bytes(kHashSize, 0));

  const Bytes id_a = external_psk_id(Bytes{1}, Bytes(kHashSize, 1));
  const Bytes id_b = external_psk_id(Bytes{2}, Bytes(kHashSize, 2));
  const Bytes v_a(kHashSize, 0xaa), v_b(kHashSize, 0xbb);
  const PskInput ab[] = {{id_a, v_a}, {id_b, v_b}};
  const PskInput ba[] = {{id_b, v_b}, {id_a, v_a}};
  EXPECT_NE(*psk_secret(ab), *psk_secret(ba));
}

TEST(PskSecret, RefusesMoreThanUint16Count) {
  const Bytes id = external_psk_id(Bytes{1}, Bytes{2});
  const Bytes v{3};
  std::vector<PskInput> many(65536, PskInput{id, v});
  EXPECT_FALSE(psk_secret(many));
}

}  // namespace
}  // namespace zerv::mls
