#include "mls/engine/transcript_hash.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/vectors.h"
#include "mls/engine/key_schedule.h"
#include "mls/engine/messages.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

TEST(TranscriptHash, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "transcript-hashes.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  ASSERT_FALSE(cases.empty());
  for (const auto& [index, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(index));
    const Bytes encoded = hex(c["authenticated_content"]);
    auto content = decode_all<AuthenticatedContent>(encoded);
    ASSERT_TRUE(content) << content.error().message;
    ASSERT_EQ(content->content.content_type(), content_type::kCommit);

    const Bytes input = confirmed_transcript_hash_input(*content);
    // The confirmed input is the AuthenticatedContent without its trailing confirmation_tag<V>.
    ASSERT_EQ(input.size() + 1 + content->auth.confirmation_tag.size(), encoded.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), encoded.begin()));

    TranscriptHashes h = update_transcript(hex(c["interim_transcript_hash_before"]), input,
                                           content->auth.confirmation_tag);
    EXPECT_EQ(h.confirmed, hex(c["confirmed_transcript_hash_after"]));
    EXPECT_EQ(h.interim, hex(c["interim_transcript_hash_after"]));
    EXPECT_EQ(h.confirmed,
              confirmed_transcript_hash(hex(c["interim_transcript_hash_before"]), input));
    EXPECT_EQ(h.interim, interim_transcript_hash(h.confirmed, content->auth.confirmation_tag));
    EXPECT_TRUE(key_schedule::verify_confirmation_tag(hex(c["confirmation_key"]), h.confirmed,
                                                      content->auth.confirmation_tag));
  }
}

TEST(TranscriptHash, FirstEpochStartsFromEmptyInterim) {
  const Bytes input{0, 1, 2, 3};
  const Bytes tag(kHashSize, 5);
  TranscriptHashes h = update_transcript({}, input, tag);
  EXPECT_EQ(h.confirmed, suite::hash(input));
  Bytes interim_in = h.confirmed;
  interim_in.push_back(static_cast<uint8_t>(kHashSize));  // confirmation_tag<V> length
  interim_in.insert(interim_in.end(), tag.begin(), tag.end());
  EXPECT_EQ(h.interim, suite::hash(interim_in));
}

}  // namespace
}  // namespace zerv::mls
