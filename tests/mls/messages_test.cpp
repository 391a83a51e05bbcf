// Every structure of the messages vectors must decode and re-encode to the same bytes.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "common/vectors.h"
#include "mls/engine/codec.h"
#include "mls/engine/commit.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/proposals.h"

namespace zerv::mls {
namespace {

std::filesystem::path vectors() {
  return zerv::testing::vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls");
}

// Decodes the whole input as T and encodes it again.
template <class T>
Result<Bytes> round_trip(ByteView in) {
  Result<T> value = decode_all<T>(in);
  if (!value) return fail(value.error().message);
  return encode_one(*value);
}

Result<Bytes> ratchet_tree_round_trip(ByteView in) {
  auto nodes = decode_ratchet_tree(in);
  if (!nodes) return fail(nodes.error().message);
  return encode_ratchet_tree(*nodes);
}

using RoundTrip = std::function<Result<Bytes>(ByteView)>;

const std::map<std::string, RoundTrip>& round_trips() {
  static const std::map<std::string, RoundTrip> table = {
      {"ratchet_tree", ratchet_tree_round_trip},
      {"add_proposal", round_trip<Add>},
      {"update_proposal", round_trip<Update>},
      {"remove_proposal", round_trip<Remove>},
      {"pre_shared_key_proposal", round_trip<PreSharedKey>},
      {"re_init_proposal", round_trip<ReInit>},
      {"external_init_proposal", round_trip<ExternalInit>},
      {"group_context_extensions_proposal", round_trip<GroupContextExtensions>},
      {"commit", round_trip<Commit>},
  };
  return table;
}

TEST(Messages, EveryStructureRoundTrips) {
  auto file = vectors() / "messages.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no MLS vectors at " << file;
  auto cases = zerv::testing::load_json(file);
  ASSERT_EQ(cases.size(), 300u);
  size_t checked = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    for (const auto& [field, encoded] : cases[i].items()) {
      auto it = round_trips().find(field);
      if (it == round_trips().end()) continue;
      SCOPED_TRACE("case " + std::to_string(i) + " " + field);
      Bytes in = zerv::testing::hex(encoded);
      Result<Bytes> out = it->second(in);
      ASSERT_TRUE(out.has_value()) << out.error().message;
      EXPECT_EQ(to_hex(*out), to_hex(in));
      ++checked;
    }
  }
  EXPECT_EQ(checked, cases.size() * round_trips().size());
}

}  // namespace
}  // namespace zerv::mls
