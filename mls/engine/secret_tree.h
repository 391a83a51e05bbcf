#pragma once
// The secret tree of an epoch: per-member hash ratchets for handshake and application messages,
// derived lazily from encryption_secret, with forward secrecy by deleting what was used.

#include <cstdint>
#include <map>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/codec.h"
#include "mls/engine/tree_math.h"

namespace zerv::mls {

// Proposals and commits use the handshake ratchet, application data the application ratchet.
enum class RatchetKind { kHandshake, kApplication };

// The ratchet for an MLS content_type (application 1, proposal 2, commit 3).
RatchetKind ratchet_kind_for(uint8_t content_type);

struct RatchetKey {
  uint32_t generation = 0;
  SecretBytes key;    // Nk bytes
  SecretBytes nonce;  // Nn bytes, before the reuse guard is applied
};

class SecretTree {
 public:
  // How many skipped keys a ratchet keeps for late messages, and how far ahead of the next
  // expected generation a message may be.
  static constexpr uint32_t kDefaultTolerance = 5;
  static constexpr uint32_t kDefaultMaxForward = 1000;

  SecretTree() = default;
  // A tree over n_leaves leaves (the width of the group's ratchet tree).
  SecretTree(ByteView encryption_secret, uint32_t n_leaves, uint32_t tolerance = kDefaultTolerance,
             uint32_t max_forward = kDefaultMaxForward);

  uint32_t n_leaves() const { return n_leaves_; }

  // The whole ratchet state, so a stored group never hands out a used key again.
  void encode(TlsWriter& w) const;
  static SecretTree decode(TlsReader& r);

  // Key for the next message this member sends on its own ratchet. Used up at once: it is never
  // handed out again.
  Result<RatchetKey> next_key(LeafIndex sender, RatchetKind kind);

  // Key for a received message. The ratchet moves forward to generation; the keys skipped on the
  // way (the last `tolerance` of them) and this one stay available until consumed, so a forged
  // message cannot destroy the key of a genuine one. Fails for a generation already consumed or
  // dropped, or more than max_forward ahead.
  Result<RatchetKey> key_for(LeafIndex sender, RatchetKind kind, uint32_t generation);

  // Deletes the key of a generation after it decrypted a message successfully.
  void consume(LeafIndex sender, RatchetKind kind, uint32_t generation);

 private:
  struct Ratchet {
    SecretBytes secret;                   // ratchet secret of generation `next`
    uint64_t next = 0;                    // 2^32 once the last generation was derived
    std::map<uint32_t, RatchetKey> kept;  // derived, not yet consumed
  };
  struct Leaf {
    Ratchet handshake;
    Ratchet application;
  };

  Result<Ratchet*> ratchet(LeafIndex sender, RatchetKind kind);
  Result<Leaf*> leaf(LeafIndex sender);
  void keep(Ratchet& r, RatchetKey key) const;

  uint32_t n_leaves_ = 0;
  uint32_t tolerance_ = kDefaultTolerance;
  uint32_t max_forward_ = kDefaultMaxForward;
  // Node secrets not yet used to derive their children (or, for leaves, their ratchets).
  std::map<uint32_t, SecretBytes> nodes_;
  std::map<uint32_t, Leaf> leaves_;
};

// Key and nonce for SenderData, derived from sender_data_secret and the first Nh bytes of the
// content ciphertext.
struct SenderDataKey {
  SecretBytes key;
  SecretBytes nonce;
};
SenderDataKey sender_data_key(ByteView sender_data_secret, ByteView ciphertext);

}  // namespace zerv::mls
