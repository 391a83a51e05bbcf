#pragma once
// The running transcript hashes over the Commits of a group.

#include "base/bytes.h"

namespace zerv::mls {

struct TranscriptHashes {
  Bytes confirmed;  // confirmed_transcript_hash, part of the GroupContext
  Bytes interim;    // interim_transcript_hash, input of the next Commit's confirmed hash
};

// Hash(interim_before || ConfirmedTranscriptHashInput); the input is already encoded
// (wire_format || FramedContent || signature<V>).
Bytes confirmed_transcript_hash(ByteView interim_before, ByteView confirmed_input);

// Hash(confirmed || InterimTranscriptHashInput), the input being confirmation_tag<V>.
Bytes interim_transcript_hash(ByteView confirmed, ByteView confirmation_tag);

// Both hashes after one Commit.
TranscriptHashes update_transcript(ByteView interim_before, ByteView confirmed_input,
                                   ByteView confirmation_tag);

}  // namespace zerv::mls
