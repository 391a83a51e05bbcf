#include "mls/engine/message_protection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/vectors.h"
#include "crypto/crypto.h"
#include "mls/engine/codec.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

using zerv::testing::hex;

// The body as the vectors give it: application data bare, proposals and commits encoded.
Bytes body_bytes(const ContentBody& body) {
  if (const auto* data = std::get_if<Bytes>(&body)) return *data;
  TlsWriter w;
  encode_content_body(w, body);
  return w.take();
}

// The raw value of a vector field as the content body it encodes.
ContentBody parse_body(uint8_t type, const Bytes& raw) {
  if (type == content_type::kApplication) return raw;
  TlsReader r(raw);
  ContentBody body = decode_content_body(r, type);
  EXPECT_TRUE(r.finish()) << r.error();
  return body;
}

SignatureKeyLookup key_of_leaf(uint32_t leaf, Bytes key) {
  return [leaf, key](const FramedContent& c) -> std::optional<Bytes> {
    if (c.sender.leaf_index() == leaf) return key;
    return std::nullopt;
  };
}

TEST(MessageProtection, MatchesVectors) {
  ZERV_LOAD_MLS_VECTORS(all, "message-protection.json");
  const auto cases = zerv::testing::suite_cases(all, kCipherSuite);
  ASSERT_FALSE(cases.empty());
  for (const auto& [index, c] : cases) {
    SCOPED_TRACE("case " + std::to_string(index));
    const GroupContext ctx{kProtocolVersion,
                           kCipherSuite,
                           hex(c["group_id"]),
                           c["epoch"].get<uint64_t>(),
                           hex(c["tree_hash"]),
                           hex(c["confirmed_transcript_hash"]),
                           {}};
    const Bytes sig_priv = hex(c["signature_priv"]);
    const Bytes sig_pub = hex(c["signature_pub"]);
    const Bytes encryption_secret = hex(c["encryption_secret"]);
    const Bytes sender_data_secret = hex(c["sender_data_secret"]);
    const Bytes membership_key = hex(c["membership_key"]);
    const SignatureKeyLookup lookup = key_of_leaf(1, sig_pub);

    struct Kind {
      const char* name;
      uint8_t type;
    };
    for (Kind k : {Kind{"proposal", content_type::kProposal}, Kind{"commit", content_type::kCommit},
                   Kind{"application", content_type::kApplication}}) {
      SCOPED_TRACE(k.name);
      const std::string name = k.name;
      const Bytes raw = hex(c[name]);
      const ContentBody body = parse_body(k.type, raw);

      // Given public message (handshake only).
      if (c.contains(name + "_pub")) {
        auto msg = decode_all<MLSMessage>(hex(c[name + "_pub"]));
        ASSERT_TRUE(msg) << msg.error().message;
        auto content =
            unprotect_public(std::get<PublicMessage>(msg->content), ctx, membership_key, lookup);
        ASSERT_TRUE(content) << content.error().message;
        EXPECT_EQ(body_bytes(content->content.body), raw);
      }

      // Given private message.
      {
        auto msg = decode_all<MLSMessage>(hex(c[name + "_priv"]));
        ASSERT_TRUE(msg) << msg.error().message;
        SecretTree tree(encryption_secret, 2);
        auto content = unprotect_private(std::get<PrivateMessage>(msg->content), ctx, tree,
                                         sender_data_secret, lookup);
        ASSERT_TRUE(content) << content.error().message;
        EXPECT_EQ(body_bytes(content->content.body), raw);
        EXPECT_EQ(content->content.sender, Sender::member(1));
      }

      const FramedContent framed{ctx.group_id, ctx.epoch, Sender::member(1), {}, body};
      const Bytes tag(kHashSize, 0x5a);  // any MAC-sized tag: it is not checked here

      // Own public message round trip through the wire encoding.
      {
        auto signed_content = sign_content(wire_format::kPublicMessage, framed, ctx, sig_priv);
        ASSERT_TRUE(signed_content);
        if (k.type == content_type::kCommit) signed_content->auth.confirmation_tag = tag;
        auto msg = protect_public(*signed_content, ctx, membership_key);
        if (k.type == content_type::kApplication) {
          EXPECT_FALSE(msg) << "application data must not go out as a public message";
        } else {
          ASSERT_TRUE(msg) << msg.error().message;
          auto wire = decode_all<MLSMessage>(encode_one(MLSMessage{kProtocolVersion, *msg}));
          ASSERT_TRUE(wire);
          auto back =
              unprotect_public(std::get<PublicMessage>(wire->content), ctx, membership_key, lookup);
          ASSERT_TRUE(back) << back.error().message;
          EXPECT_EQ(*back, *signed_content);
        }
      }

      // Own private message round trip: sender and receiver hold separate trees.
      {
        auto signed_content = sign_content(wire_format::kPrivateMessage, framed, ctx, sig_priv);
        ASSERT_TRUE(signed_content);
        if (k.type == content_type::kCommit) signed_content->auth.confirmation_tag = tag;
        SecretTree sender_tree(encryption_secret, 2), receiver_tree(encryption_secret, 2);
        auto msg = protect_private(*signed_content, sender_tree, sender_data_secret);
        ASSERT_TRUE(msg) << msg.error().message;
        auto wire = decode_all<MLSMessage>(encode_one(MLSMessage{kProtocolVersion, *msg}));
        ASSERT_TRUE(wire);
        auto back = unprotect_private(std::get<PrivateMessage>(wire->content), ctx, receiver_tree,
                                      sender_data_secret, lookup);
        ASSERT_TRUE(back) << back.error().message;
        EXPECT_EQ(*back, *signed_content);
      }
    }
  }
}

// A two-member group in which leaf 1 sends to leaf 0.
class PrivateMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = GroupContext{kProtocolVersion,
                        kCipherSuite,
                        Bytes{'g', 'r', 'p'},
                        7,
                        Bytes(kHashSize, 1),
                        Bytes(kHashSize, 2),
                        {}};
    auto keys = crypto::ed25519_generate();
    sig_priv_ = keys.private_key;
    sig_pub_ = keys.public_key;
  }

  AuthenticatedContent signed_app(const Bytes& data, uint64_t epoch = 7) {
    FramedContent framed{ctx_.group_id, epoch, Sender::member(1), Bytes{'a', 'd'}, data};
    return *sign_content(wire_format::kPrivateMessage, framed, ctx_, sig_priv_);
  }

  Result<PrivateMessage> send(const AuthenticatedContent& c, size_t padding = 0) {
    return protect_private(c, sender_tree_, sender_data_secret_, padding);
  }

  Result<AuthenticatedContent> receive(const PrivateMessage& m) {
    return unprotect_private(m, ctx_, receiver_tree_, sender_data_secret_,
                             key_of_leaf(1, sig_pub_));
  }

  GroupContext ctx_;
  SecretBytes sig_priv_;
  Bytes sig_pub_;
  const Bytes encryption_secret_ = Bytes(kHashSize, 3);
  const Bytes sender_data_secret_ = Bytes(kHashSize, 4);
  SecretTree sender_tree_{encryption_secret_, 2};
  SecretTree receiver_tree_{encryption_secret_, 2};
};

TEST_F(PrivateMessages, PaddingReachesBlockMultipleAndRoundTrips) {
  for (size_t block : {size_t{0}, size_t{1}, size_t{16}, size_t{64}, size_t{1000}}) {
    SCOPED_TRACE(block);
    auto content = signed_app(Bytes(100, 0x61));
    auto msg = send(content, block);
    ASSERT_TRUE(msg);
    const size_t plaintext = msg->ciphertext.size() - kTagSize;
    if (block > 1) {
      EXPECT_EQ(plaintext % block, 0u);
    }
    const size_t unpadded =
        PrivateMessageContent{content.content.body, content.auth}.encode(0).size();
    if (block == 0) {
      EXPECT_EQ(plaintext, unpadded);
    }
    auto back = receive(*msg);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, content);
  }
}

TEST_F(PrivateMessages, ReplayAndOutOfOrder) {
  auto m0 = send(signed_app(Bytes{0}));
  auto m1 = send(signed_app(Bytes{1}));
  ASSERT_TRUE(m0 && m1);
  ASSERT_TRUE(receive(*m1));
  ASSERT_TRUE(receive(*m0));
  EXPECT_FALSE(receive(*m0));
  EXPECT_FALSE(receive(*m1));
}

TEST_F(PrivateMessages, RejectsTamperedMessages) {
  struct Case {
    const char* name;
    std::function<void(PrivateMessage&)> tamper;
  };
  const std::vector<Case> cases = {
      {"ciphertext bit", [](PrivateMessage& m) { m.ciphertext[3] ^= 1; }},
      {"sender data bit", [](PrivateMessage& m) { m.encrypted_sender_data[0] ^= 1; }},
      {"authenticated data", [](PrivateMessage& m) { m.authenticated_data.push_back(0); }},
      {"content type", [](PrivateMessage& m) { m.content_type = content_type::kProposal; }},
      {"invalid content type", [](PrivateMessage& m) { m.content_type = 9; }},
      {"epoch", [](PrivateMessage& m) { m.epoch = 8; }},
      {"group", [](PrivateMessage& m) { m.group_id.push_back('x'); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto msg = send(signed_app(Bytes{1, 2, 3}));
    ASSERT_TRUE(msg);
    PrivateMessage bad = *msg;
    c.tamper(bad);
    EXPECT_FALSE(receive(bad));
    // The genuine message still decrypts: a forgery does not use up its key.
    EXPECT_TRUE(receive(*msg));
  }
}

TEST_F(PrivateMessages, BadSignatureDoesNotConsumeTheKey) {
  auto msg = send(signed_app(Bytes{9}));
  ASSERT_TRUE(msg);
  const Bytes other = crypto::ed25519_generate().public_key;
  EXPECT_FALSE(
      unprotect_private(*msg, ctx_, receiver_tree_, sender_data_secret_, key_of_leaf(1, other)));
  EXPECT_FALSE(
      unprotect_private(*msg, ctx_, receiver_tree_, sender_data_secret_, key_of_leaf(0, sig_pub_)))
      << "a blank or unknown sender leaf is refused";
  EXPECT_TRUE(receive(*msg));
}

TEST_F(PrivateMessages, RejectsNonZeroPadding) {
  // Build by hand what protect_private would, but with a padding byte that is not zero.
  auto content = signed_app(Bytes{1, 2});
  auto key = sender_tree_.next_key(LeafIndex(1), RatchetKind::kApplication);
  ASSERT_TRUE(key);
  for (uint8_t last : {uint8_t{0}, uint8_t{1}}) {
    SCOPED_TRACE(int{last});
    SecretTree receiver(encryption_secret_, 2);
    Bytes plaintext = PrivateMessageContent{content.content.body, content.auth}.encode(8);
    plaintext.back() = last;
    PrivateMessage m{ctx_.group_id,
                     ctx_.epoch,
                     content_type::kApplication,
                     content.content.authenticated_data,
                     {},
                     {}};
    m.ciphertext = *suite::aead_seal(
        key->key, key->nonce,
        private_content_aad(m.group_id, m.epoch, m.content_type, m.authenticated_data), plaintext);
    const SenderData sd{1, key->generation, {}};
    const SenderDataKey sdk = sender_data_key(sender_data_secret_, m.ciphertext);
    m.encrypted_sender_data = *suite::aead_seal(
        sdk.key, sdk.nonce, sender_data_aad(m.group_id, m.epoch, m.content_type), encode_one(sd));
    auto back = unprotect_private(m, ctx_, receiver, sender_data_secret_, key_of_leaf(1, sig_pub_));
    EXPECT_EQ(back.has_value(), last == 0);
  }
}

TEST_F(PrivateMessages, RefusesWhatCannotBeSentPrivately) {
  auto content = signed_app(Bytes{1});
  AuthenticatedContent external = content;
  external.content.sender = Sender{ExternalSenderIndex{0}};
  EXPECT_FALSE(send(external));
  AuthenticatedContent public_signed = content;
  public_signed.wire_format = wire_format::kPublicMessage;
  EXPECT_FALSE(send(public_signed));
}

TEST(PublicMessages, RejectsTamperingAndWrongKeys) {
  const GroupContext ctx{kProtocolVersion,    kCipherSuite,        Bytes{'g'}, 3,
                         Bytes(kHashSize, 1), Bytes(kHashSize, 2), {}};
  auto keys = crypto::ed25519_generate();
  const Bytes membership_key(kHashSize, 6);
  Proposal remove{Remove{0}};
  FramedContent framed{ctx.group_id, ctx.epoch, Sender::member(1), {}, remove};
  auto content = sign_content(wire_format::kPublicMessage, framed, ctx, keys.private_key);
  ASSERT_TRUE(content);
  auto msg = protect_public(*content, ctx, membership_key);
  ASSERT_TRUE(msg);
  const SignatureKeyLookup lookup = key_of_leaf(1, keys.public_key);
  ASSERT_TRUE(unprotect_public(*msg, ctx, membership_key, lookup));

  struct Case {
    const char* name;
    std::function<void(PublicMessage&, GroupContext&, Bytes&, SignatureKeyLookup&)> change;
  };
  const std::vector<Case> cases = {
      {"membership key",
       [](PublicMessage&, GroupContext&, Bytes& k, SignatureKeyLookup&) { k[0] ^= 1; }},
      {"membership tag", [](PublicMessage& m, GroupContext&, Bytes&,
                            SignatureKeyLookup&) { m.membership_tag[0] ^= 1; }},
      {"authenticated data", [](PublicMessage& m, GroupContext&, Bytes&,
                                SignatureKeyLookup&) { m.content.authenticated_data = {1}; }},
      {"signature", [](PublicMessage& m, GroupContext&, Bytes&,
                       SignatureKeyLookup&) { m.auth.signature[0] ^= 1; }},
      {"group context",
       [](PublicMessage&, GroupContext& c, Bytes&, SignatureKeyLookup&) { c.tree_hash[0] ^= 1; }},
      {"epoch", [](PublicMessage&, GroupContext& c, Bytes&, SignatureKeyLookup&) { ++c.epoch; }},
      {"unknown sender",
       [](PublicMessage&, GroupContext&, Bytes&, SignatureKeyLookup& l) {
         l = [](const FramedContent&) { return std::optional<Bytes>(); };
       }},
      {"other signer",
       [](PublicMessage&, GroupContext&, Bytes&, SignatureKeyLookup& l) {
         l = key_of_leaf(1, crypto::ed25519_generate().public_key);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PublicMessage m = *msg;
    GroupContext g = ctx;
    Bytes k = membership_key;
    SignatureKeyLookup l = lookup;
    c.change(m, g, k, l);
    EXPECT_FALSE(unprotect_public(m, g, k, l));
  }
}

}  // namespace
}  // namespace zerv::mls
