#include "mls/engine/group.h"
#include "mls/engine/message_protection.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zerv::mls {
namespace {

constexpr uint64_t kNow = 1'800'000'000;

Clock fixed_clock() {
  return [] { return kNow; };
}

// A client with its own storage, signature key and one key package.
struct Member {
  explicit Member(std::string name) : credential(Credential::basic(to_bytes(as_bytes(name)))) {
    signer.store(storage);
    kp = *build_key_package(storage, signer, credential, kNow);
  }

  Storage storage;
  Signer signer = Signer::generate();
  Credential credential;
  KeyPackage kp;
  std::optional<Group> group;
};

CommitOptions adding(const KeyPackage& kp, bool path = false) {
  CommitOptions o;
  o.add = {kp};
  o.force_path = path;
  return o;
}
CommitOptions removing(uint32_t leaf) {
  CommitOptions o;
  o.remove = {leaf};
  return o;
}
CommitOptions with_path() {
  CommitOptions o;
  o.force_path = true;
  return o;
}
CommitOptions external_psk(std::string_view id) {
  CommitOptions o;
  o.external_psks = {to_bytes(as_bytes(id))};
  return o;
}

class GroupTest : public ::testing::Test {
 protected:
  void create(Member& m, GroupConfig config = {}) {
    Result<Group> g = Group::create(m.storage, m.signer, m.credential, config, fixed_clock());
    ASSERT_TRUE(g.has_value()) << g.error().message;
    m.group = std::move(*g);
  }

  void join(Member& m, const MLSMessage& welcome, GroupConfig config = {}) {
    Result<Group> g =
        Group::join(m.storage, std::get<Welcome>(welcome.content), config, fixed_clock());
    ASSERT_TRUE(g.has_value()) << g.error().message;
    m.group = std::move(*g);
  }

  // Commits on `by`, has every other listed member process and merge it, then merges on `by`.
  CommitOutput commit(Member& by, const CommitOptions& options, std::vector<Member*> others) {
    Result<CommitOutput> out = by.group->commit(options);
    EXPECT_TRUE(out.has_value()) << out.error().message;
    if (!out) return {};
    for (Member* m : others) {
      Result<ProcessedMessage> p = m->group->process(out->commit);
      EXPECT_TRUE(p.has_value()) << p.error().message;
      if (!p) continue;
      EXPECT_EQ(p->kind, ProcessedMessage::Kind::kCommit);
      EXPECT_TRUE(m->group->merge_staged_commit(std::move(*p->commit)).has_value());
    }
    EXPECT_TRUE(by.group->merge_pending_commit().has_value());
    return std::move(*out);
  }

  void expect_same_epoch(std::vector<Member*> members) {
    Bytes first = to_bytes(*members[0]->group->export_secret("test", as_bytes("ctx"), 32));
    for (Member* m : members) {
      EXPECT_EQ(m->group->epoch(), members[0]->group->epoch());
      EXPECT_EQ(to_bytes(m->group->epoch_authenticator()),
                to_bytes(members[0]->group->epoch_authenticator()));
      EXPECT_EQ(to_bytes(*m->group->export_secret("test", as_bytes("ctx"), 32)), first);
    }
  }

  Member alice{"alice"}, bob{"bob"}, carol{"carol"};
};

TEST_F(GroupTest, MembersJoinCommitAndLeaveTogether) {
  create(alice);
  EXPECT_EQ(alice.group->epoch(), 0u);
  EXPECT_EQ(alice.group->group_id().size(), 16u);

  // Add without a path; the Welcome carries the tree.
  CommitOutput add_bob = commit(alice, adding(bob.kp), {});
  ASSERT_TRUE(add_bob.welcome.has_value());
  EXPECT_EQ(add_bob.commit.wire_format(), wire_format::kPrivateMessage);
  join(bob, *add_bob.welcome);
  EXPECT_EQ(bob.group->own_leaf(), LeafIndex(1));
  expect_same_epoch({&alice, &bob});

  // Add with a path, processed by the existing member.
  CommitOutput add_carol = commit(alice, adding(carol.kp, true), {&bob});
  join(carol, *add_carol.welcome);
  EXPECT_EQ(alice.group->member_count(), 3u);
  expect_same_epoch({&alice, &bob, &carol});

  // An empty commit from another member refreshes its path.
  commit(bob, {}, {&alice, &carol});
  expect_same_epoch({&alice, &bob, &carol});

  // Removal: the removed member sees it and is out afterwards.
  Result<CommitOutput> remove = alice.group->commit(removing(1));
  ASSERT_TRUE(remove.has_value()) << remove.error().message;
  for (Member* m : {&bob, &carol}) {
    Result<ProcessedMessage> p = m->group->process(remove->commit);
    ASSERT_TRUE(p.has_value()) << p.error().message;
    EXPECT_EQ(p->commit->removes_self, m == &bob);
    ASSERT_TRUE(m->group->merge_staged_commit(std::move(*p->commit)).has_value());
  }
  ASSERT_TRUE(alice.group->merge_pending_commit().has_value());
  EXPECT_FALSE(bob.group->active());
  EXPECT_FALSE(bob.group->export_secret("test", {}, 32).has_value());
  Result<Group> bob_reloaded = Group::load(bob.storage, bob.group->group_id(), fixed_clock());
  ASSERT_TRUE(bob_reloaded.has_value()) << bob_reloaded.error().message;
  EXPECT_FALSE(bob_reloaded->active());
  EXPECT_EQ(alice.group->member_count(), 2u);
  expect_same_epoch({&alice, &carol});

  // Application data from the remaining members.
  Result<MLSMessage> app = carol.group->protect_application(as_bytes("hello"));
  ASSERT_TRUE(app.has_value());
  Result<ProcessedMessage> got = alice.group->process(*app);
  ASSERT_TRUE(got.has_value()) << got.error().message;
  EXPECT_EQ(to_bytes(got->application_data), to_bytes(as_bytes("hello")));
}

TEST_F(GroupTest, ProposalsByReferenceAndPsks) {
  create(alice);
  join(bob, *commit(alice, adding(bob.kp), {}).welcome);
  join(carol, *commit(alice, adding(carol.kp), {&bob}).welcome);

  // Bob proposes an update; Alice commits it by reference; all follow.
  Result<MLSMessage> update = bob.group->propose_update();
  ASSERT_TRUE(update.has_value()) << update.error().message;
  for (Member* m : {&alice, &carol}) {
    Result<ProcessedMessage> p = m->group->process(*update);
    ASSERT_TRUE(p.has_value()) << p.error().message;
    EXPECT_EQ(p->kind, ProcessedMessage::Kind::kProposal);
  }
  // An external PSK known to all, and a resumption PSK of the current epoch.
  for (Member* m : {&alice, &bob, &carol}) store_external_psk(m->storage, as_bytes("id"), as_bytes("k"));
  uint64_t e = alice.group->epoch();
  CommitOptions psks = external_psk("id");
  psks.resumption_psks = {e};
  commit(alice, psks, {&bob, &carol});
  expect_same_epoch({&alice, &bob, &carol});
  // Bob's new leaf key is in force: he can still follow a path commit.
  commit(carol, with_path(), {&alice, &bob});
  expect_same_epoch({&alice, &bob, &carol});

  // New group extensions: a type every member supports goes through, an unknown one does not.
  CommitOptions gce;
  gce.group_context_extensions = {make_extension(ApplicationId{to_bytes(as_bytes("app"))})};
  commit(bob, gce, {&alice, &carol});
  EXPECT_EQ(carol.group->context().extensions, *gce.group_context_extensions);
  expect_same_epoch({&alice, &bob, &carol});
  gce.group_context_extensions = {Extension{0xFF00, {}}};
  EXPECT_FALSE(bob.group->commit(gce).has_value());

  // A PSK this member does not hold makes the commit fail, on either side.
  EXPECT_FALSE(alice.group->commit(external_psk("nope")).has_value());
  EXPECT_FALSE(alice.group->has_pending_commit());

  // Bob proposes an update while Carol proposes removing him: the commit keeps one of the two
  // clashing proposals instead of failing.
  Result<MLSMessage> update_again = bob.group->propose_update();
  Result<MLSMessage> remove_bob = carol.group->propose(Proposal{Remove{1}});
  ASSERT_TRUE(update_again && remove_bob);
  ASSERT_TRUE(alice.group->process(*update_again).has_value());
  ASSERT_TRUE(alice.group->process(*remove_bob).has_value());
  Result<CommitOutput> clash = alice.group->commit(CommitOptions{});
  ASSERT_TRUE(clash.has_value()) << clash.error().message;
  ASSERT_TRUE(carol.group->process(*update_again).has_value());
  Result<ProcessedMessage> seen = carol.group->process(clash->commit);
  ASSERT_TRUE(seen.has_value()) << seen.error().message;
  EXPECT_EQ(seen->commit->proposals.size(), 1u);
}

TEST_F(GroupTest, PendingCommitCanBeDiscarded) {
  create(alice);
  join(bob, *commit(alice, adding(bob.kp), {}).welcome);
  Result<CommitOutput> first = alice.group->commit(adding(carol.kp));
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(alice.group->has_pending_commit());
  EXPECT_FALSE(alice.group->commit({}).has_value());  // one pending commit at a time
  ASSERT_TRUE(alice.group->discard_pending_commit().has_value());
  EXPECT_FALSE(alice.group->has_pending_commit());
  EXPECT_EQ(alice.group->epoch(), 1u);
  EXPECT_EQ(alice.group->member_count(), 2u);
  // The group carries on; Bob never saw the discarded commit.
  commit(alice, with_path(), {&bob});
  expect_same_epoch({&alice, &bob});
  // A received commit supersedes an own pending one.
  ASSERT_TRUE(alice.group->commit(with_path()).has_value());
  Result<CommitOutput> bobs = bob.group->commit(with_path());
  ASSERT_TRUE(bobs.has_value());
  Result<ProcessedMessage> p = alice.group->process(bobs->commit);
  ASSERT_TRUE(p.has_value()) << p.error().message;
  ASSERT_TRUE(alice.group->merge_staged_commit(std::move(*p->commit)).has_value());
  ASSERT_TRUE(bob.group->merge_pending_commit().has_value());
  EXPECT_FALSE(alice.group->has_pending_commit());
  expect_same_epoch({&alice, &bob});
}

TEST_F(GroupTest, LoadsBackFromStorage) {
  create(alice);
  join(bob, *commit(alice, adding(bob.kp), {}).welcome);
  ASSERT_TRUE(alice.group->commit(with_path()).has_value());  // left pending

  // A fresh storage filled from the listing holds everything.
  Storage copy;
  copy.fill(alice.storage.list());
  Result<Group> loaded = Group::load(copy, alice.group->group_id(), fixed_clock());
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message;
  EXPECT_EQ(loaded->epoch(), alice.group->epoch());
  EXPECT_TRUE(loaded->has_pending_commit());
  ASSERT_TRUE(loaded->discard_pending_commit().has_value());

  // Bob's stored state follows a commit from the loaded Alice.
  Storage bob_copy;
  bob_copy.fill(bob.storage.list());
  Result<Group> bob_loaded = Group::load(bob_copy, bob.group->group_id(), fixed_clock());
  ASSERT_TRUE(bob_loaded.has_value()) << bob_loaded.error().message;
  Result<CommitOutput> c = loaded->commit(with_path());
  ASSERT_TRUE(c.has_value()) << c.error().message;
  Result<ProcessedMessage> p = bob_loaded->process(c->commit);
  ASSERT_TRUE(p.has_value()) << p.error().message;
  ASSERT_TRUE(bob_loaded->merge_staged_commit(std::move(*p->commit)).has_value());
  ASSERT_TRUE(loaded->merge_pending_commit().has_value());
  EXPECT_EQ(to_bytes(loaded->epoch_authenticator()), to_bytes(bob_loaded->epoch_authenticator()));

  EXPECT_FALSE(Group::load(copy, as_bytes("no such group"), fixed_clock()).has_value());

  // Damaged entries are refused, never trusted: every cut of each entry the group wrote.
  for (std::string_view kind : {storage_kind::kGroup, storage_kind::kGroupTree,
                                storage_kind::kPendingCommit}) {
    Bytes key = Storage::key(kind, alice.group->group_id());
    SecretBytes whole = *alice.storage.get(key);
    for (size_t cut = 0; cut < whole.size(); cut += 1 + whole.size() / 64) {
      SCOPED_TRACE(std::string(kind) + " cut at " + std::to_string(cut));
      Storage damaged;
      damaged.fill(alice.storage.list());
      damaged.put(key, ByteView(whole).first(cut));
      EXPECT_FALSE(Group::load(damaged, alice.group->group_id(), fixed_clock()).has_value());
    }
  }
}

TEST_F(GroupTest, RefusesBadInput) {
  GroupConfig open;  // PublicMessage handshakes, so tampering reaches the checks
  open.outgoing_private = false;
  open.accept_public = true;
  create(alice, open);
  join(bob, *commit(alice, adding(bob.kp), {}).welcome, open);
  join(carol, *commit(alice, adding(carol.kp), {&bob}).welcome);  // PrivateMessage only
  Result<CommitOutput> c = alice.group->commit(with_path());
  ASSERT_TRUE(c.has_value());
  Result<ProcessedMessage> refused = carol.group->process(c->commit);
  ASSERT_FALSE(refused.has_value());
  EXPECT_NE(refused.error().message.find("PrivateMessage"), std::string::npos);

  struct Case {
    const char* name;
    std::function<void(MLSMessage&)> mutate;
  };
  const Case cases[] = {
      {"bad signature",
       [](MLSMessage& m) { std::get<PublicMessage>(m.content).auth.signature[5] ^= 1; }},
      {"bad membership tag",
       [](MLSMessage& m) { std::get<PublicMessage>(m.content).membership_tag[0] ^= 1; }},
      {"bad confirmation tag",
       [](MLSMessage& m) { std::get<PublicMessage>(m.content).auth.confirmation_tag[0] ^= 1; }},
      {"wrong epoch", [](MLSMessage& m) { std::get<PublicMessage>(m.content).content.epoch = 7; }},
      {"other group",
       [](MLSMessage& m) { std::get<PublicMessage>(m.content).content.group_id[0] ^= 1; }},
      {"unknown sender",
       [](MLSMessage& m) { std::get<PublicMessage>(m.content).content.sender = Sender::member(9); }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    MLSMessage m = c->commit;
    tc.mutate(m);
    EXPECT_FALSE(bob.group->process(m).has_value());
  }
  // An unknown proposal type does not even decode.
  Result<MLSMessage> proposal = bob.group->propose(Proposal{Remove{0}});
  ASSERT_TRUE(proposal.has_value());
  Bytes raw = encode_one(*proposal);
  // The proposal type sits right after the content type byte (2) that follows the empty aad.
  Bytes pattern = {0x00, 0x02, 0x00, proposal_type::kRemove};
  auto at = std::search(raw.begin(), raw.end(), pattern.begin(), pattern.end());
  ASSERT_NE(at, raw.end());
  at[3] = 0x7F;
  Result<MLSMessage> unknown = decode_all<MLSMessage>(raw);
  ASSERT_FALSE(unknown.has_value());
  EXPECT_NE(unknown.error().message.find("proposal type"), std::string::npos);

  // The genuine commit still works after all the refusals, and a replay of it does not.
  Result<ProcessedMessage> p = bob.group->process(c->commit);
  ASSERT_TRUE(p.has_value()) << p.error().message;
  ASSERT_TRUE(bob.group->merge_staged_commit(std::move(*p->commit)).has_value());
  EXPECT_FALSE(bob.group->process(c->commit).has_value());

  // Invalid commits are refused when built.
  EXPECT_FALSE(bob.group->commit(removing(1)).has_value());      // the committer itself
  EXPECT_FALSE(bob.group->commit(removing(5)).has_value());      // no such leaf
  EXPECT_FALSE(bob.group->commit(adding(bob.kp)).has_value());    // already a member
}

TEST_F(GroupTest, LateApplicationDataFromKeptEpochs) {
  GroupConfig keep_one;
  keep_one.past_epochs = 1;
  create(alice, keep_one);
  join(bob, *commit(alice, adding(bob.kp), {}).welcome, keep_one);
  Result<MLSMessage> late = bob.group->protect_application(as_bytes("late"));
  Result<MLSMessage> later = bob.group->protect_application(as_bytes("later"));
  ASSERT_TRUE(late && later);
  commit(alice, with_path(), {&bob});
  Result<ProcessedMessage> got = alice.group->process(*late);
  ASSERT_TRUE(got.has_value()) << got.error().message;
  EXPECT_EQ(to_bytes(got->application_data), to_bytes(as_bytes("late")));
  EXPECT_FALSE(alice.group->process(*late).has_value());  // each key opens one message
  // Two epochs back is beyond what is kept.
  commit(alice, with_path(), {&bob});
  EXPECT_FALSE(alice.group->process(*later).has_value());
}

TEST_F(GroupTest, ExternalJoinProposalIsCommitted) {
  GroupConfig open;
  open.outgoing_private = false;
  open.accept_public = true;
  create(alice, open);
  // Carol asks to be added: a PublicMessage signed with the key of the leaf she proposes.
  FramedContent fc{alice.group->group_id(), alice.group->epoch(), Sender{NewMemberProposalSender{}},
                   {}, Proposal{Add{carol.kp}}};
  Result<AuthenticatedContent> ac = sign_content(wire_format::kPublicMessage, fc,
                                                 alice.group->context(), carol.signer.private_key);
  ASSERT_TRUE(ac.has_value());
  Result<PublicMessage> pub = protect_public(*ac, alice.group->context(), {});
  ASSERT_TRUE(pub.has_value()) << pub.error().message;
  Result<ProcessedMessage> p = alice.group->process(MLSMessage{kProtocolVersion, *pub});
  ASSERT_TRUE(p.has_value()) << p.error().message;
  EXPECT_EQ(p->kind, ProcessedMessage::Kind::kExternalJoinProposal);
  CommitOutput out = commit(alice, CommitOptions{}, {});
  ASSERT_TRUE(out.welcome.has_value());
  join(carol, *out.welcome, open);
  expect_same_epoch({&alice, &carol});

  // Anything but an Add from a new member is refused.
  fc.epoch = alice.group->epoch();
  fc.body = Proposal{Remove{0}};
  ac = sign_content(wire_format::kPublicMessage, fc, alice.group->context(),
                    bob.signer.private_key);
  pub = protect_public(*ac, alice.group->context(), {});
  ASSERT_TRUE(pub.has_value());
  EXPECT_FALSE(alice.group->process(MLSMessage{kProtocolVersion, *pub}).has_value());
}

TEST_F(GroupTest, WelcomeForAnotherKeyPackageIsRefused) {
  create(alice);
  CommitOutput out = commit(alice, adding(bob.kp), {});
  Result<Group> g = Group::join(carol.storage, std::get<Welcome>(out.welcome->content), {},
                                fixed_clock());
  ASSERT_FALSE(g.has_value());
  EXPECT_NE(g.error().message.find("key package"), std::string::npos);
}

}  // namespace
}  // namespace zerv::mls
