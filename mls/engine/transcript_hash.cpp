#include "mls/engine/transcript_hash.h"

#include "mls/engine/codec.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

Bytes confirmed_transcript_hash(ByteView interim_before, ByteView confirmed_input) {
  TlsWriter w;
  w.raw(interim_before);
  w.raw(confirmed_input);
  return suite::hash(w.bytes());
}

Bytes interim_transcript_hash(ByteView confirmed, ByteView confirmation_tag) {
  TlsWriter w;
  w.raw(confirmed);
  w.opaque(confirmation_tag);
  return suite::hash(w.bytes());
}

TranscriptHashes update_transcript(ByteView interim_before, ByteView confirmed_input,
                                   ByteView confirmation_tag) {
  TranscriptHashes out;
  out.confirmed = confirmed_transcript_hash(interim_before, confirmed_input);
  out.interim = interim_transcript_hash(out.confirmed, confirmation_tag);
  return out;
}

}  // namespace zerv::mls
