// Malformed encodings must fail with an error, never crash or read past the end.

#include "mls/engine/codec.h"

#include <gtest/gtest.h>

#include <string>

#include "common/vectors.h"
#include "mls/engine/commit.h"
#include "mls/engine/extension.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/messages.h"
#include "mls/engine/proposals.h"

namespace zerv::mls {
namespace {

using zerv::testing::unhex;

template <class T>
std::string decode_error(std::string_view hex_input) {
  Result<T> r = decode_all<T>(unhex(hex_input));
  return r ? std::string("<decoded>") : r.error().message;
}

std::string tree_error(std::string_view hex_input) {
  auto r = decode_ratchet_tree(unhex(hex_input));
  return r ? std::string("<decoded>") : r.error().message;
}

struct Malformed {
  const char* name;
  std::string (*decode)(std::string_view);
  const char* input;
  const char* error;
};

// A PublicMessage application from member 1 of group "g" at epoch 2 (version, wire format,
// group_id, epoch, sender, authenticated_data, content type, data, signature, membership tag):
// the well-formed base of the message cases below.
constexpr const char* kPubApp = "0001 0001 0167 0000000000000002 0100000001 00 01 026869 0173 0174";

const Malformed kMalformed[] = {
    {"empty input", decode_error<MLSMessage>, "", "unexpected end of data"},
    {"truncated integer", decode_error<MLSMessage>, "0001 0001 0167 00000000",
     "unexpected end of data"},
    {"truncated vector", decode_error<MLSMessage>,
     "0001 0001 0167 0000000000000002 0100000001 00 01 0268",
     "vector length exceeds available data"},
    {"trailing byte", decode_error<MLSMessage>,
     "0001 0001 0167 0000000000000002 0100000001 00 01 026869 0173 0174 00",
     "trailing bytes after structure"},
    {"overlong varint", decode_error<Extension>, "0001 4001 00",
     "variable-length integer not minimally encoded"},
    {"varint prefix 3", decode_error<Extension>, "0001 c0000001 00",
     "invalid variable-length integer prefix"},
    {"huge announced length", decode_error<Extension>, "0001 bfffffff 00",
     "vector length exceeds available data"},
    {"vector overruns item", decode_error<Capabilities>, "03000100 00 00 00 00",
     "unexpected end of data"},
    {"bad optional flag", decode_error<Commit>, "00 02", "invalid optional presence flag"},
    {"bad optional flag in tree", tree_error, "01 02", "invalid optional presence flag"},
    {"bad node type", tree_error, "02 01 03", "invalid node type 3"},
    {"bad wire format", decode_error<MLSMessage>, "0001 0006 00", "unsupported wire format 6"},
    {"bad sender type", decode_error<MLSMessage>, "0001 0001 0167 0000000000000002 05",
     "invalid sender type 5"},
    {"bad content type", decode_error<MLSMessage>,
     "0001 0001 0167 0000000000000002 0100000001 00 04", "invalid content type 4"},
    {"private message bad content type", decode_error<MLSMessage>,
     "0001 0002 0167 0000000000000002 00 00 00 00", "invalid content type 0"},
    {"unknown proposal type", decode_error<Proposal>, "0a0a 00", "unsupported proposal type 2570"},
    {"bad proposal-or-ref type", decode_error<Commit>, "01 03 00",
     "invalid proposal-or-reference type 3"},
    {"bad psk type", decode_error<PreSharedKeyID>, "03 00 00", "invalid PSK type 3"},
    {"bad resumption usage", decode_error<PreSharedKeyID>, "02 04 00 0000000000000000 00",
     "invalid resumption PSK usage 4"},
    {"unknown credential type", decode_error<Credential>, "0003 00",
     "unsupported credential type 3"},
    {"truncated sender data", decode_error<SenderData>, "00000001 00000002 aabbcc",
     "unexpected end of data"},
};

TEST(Codec, MalformedInputsFailCleanly) {
  for (const auto& c : kMalformed) {
    EXPECT_EQ(c.decode(c.input), c.error) << c.name;
  }
  // Every strict prefix of a well-formed message fails too.
  Bytes whole = unhex(kPubApp);
  for (size_t n = 0; n < whole.size(); ++n) {
    EXPECT_FALSE(decode_all<MLSMessage>(ByteView(whole).first(n)).has_value()) << n;
  }
}

TEST(Codec, BaseMessageOfMalformedTableDecodes) {
  auto m = decode_all<MLSMessage>(unhex(kPubApp));
  ASSERT_TRUE(m.has_value()) << m.error().message;
  const auto& pub = std::get<PublicMessage>(m->content);
  EXPECT_EQ(pub.content.sender.leaf_index(), 1u);
  EXPECT_EQ(std::get<Bytes>(pub.content.body), unhex("6869"));
  EXPECT_EQ(pub.membership_tag, unhex("74"));
}

// Unknown extension types keep their data so a caller can refuse or ignore them knowingly.
TEST(Codec, UnknownExtensionKeepsData) {
  auto ext =
      decode_all<Extension>(unhex("0a0a"
                                  "03"
                                  "010203"));
  ASSERT_TRUE(ext.has_value());
  EXPECT_EQ(ext->extension_type, 0x0a0a);
  EXPECT_EQ(ext->extension_data, unhex("010203"));
  EXPECT_EQ(encode_one(*ext), unhex("0a0a03010203"));

  std::vector<Extension> list{*ext, make_extension(ExternalPub{unhex("aa")})};
  auto pub = get_extension<ExternalPub>(list);
  ASSERT_TRUE(pub.has_value());
  ASSERT_TRUE(pub->has_value());
  EXPECT_EQ((*pub)->external_pub, unhex("aa"));
  EXPECT_FALSE(has_duplicate_extensions(list));
  list.push_back(list[0]);
  EXPECT_TRUE(has_duplicate_extensions(list));

  // A known type whose data does not decode is an error, not an absent extension.
  std::vector<Extension> bad{{extension_type::kExternalPub, unhex("05aa")}};
  EXPECT_FALSE(get_extension<ExternalPub>(bad).has_value());
}

TEST(Codec, PrivateMessageContentPadding) {
  PrivateMessageContent content{Bytes{1, 2, 3}, {Bytes{9}, {}}};
  Bytes padded = content.encode(5);
  EXPECT_EQ(padded, unhex("03010203"
                          "0109"
                          "0000000000"));
  auto back = PrivateMessageContent::decode(padded, content_type::kApplication);
  ASSERT_TRUE(back.has_value()) << back.error().message;
  EXPECT_EQ(*back, content);

  padded.back() = 1;
  auto bad = PrivateMessageContent::decode(padded, content_type::kApplication);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().message, "non-zero padding in private message content");
}

// The leaf signature input carries the group binding only for update and commit leaves.
TEST(Codec, LeafNodeToBeSigned) {
  LeafNode leaf;
  leaf.credential = Credential::basic(unhex("61"));
  leaf.signature = unhex("ff");
  Bytes kp = leaf.to_be_signed(unhex("67"), 7);
  Bytes encoded = encode_one(leaf);
  EXPECT_EQ(kp, Bytes(encoded.begin(), encoded.end() - 2));  // minus signature<V>

  leaf.source = UpdateSource{};
  Bytes update = leaf.to_be_signed(unhex("67"), 7);
  Bytes body = encode_one(leaf);
  body.resize(body.size() - 2);
  body.insert(body.end(), {0x01, 0x67, 0, 0, 0, 7});
  EXPECT_EQ(update, body);
}

}  // namespace
}  // namespace zerv::mls
