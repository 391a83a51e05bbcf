/* Demo host: what a host application does with the library, through the C interface only. */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "zerv_stack.h"

static void print_hex(const char* label, const uint8_t* p, size_t n) {
  printf("%s (%zu bytes): ", label, n);
  for (size_t i = 0; i < n; ++i) printf("%02x", p[i]);
  printf("\n");
}

static void print_last_error(const char* what) {
  char* why = zerv_last_error();
  printf("%s failed: %s\n", what, why);
  zerv_string_free(why);
}

/* Reads one CBOR head (major type and argument); returns bytes used, 0 when malformed. */
static size_t cbor_head(const uint8_t* p, size_t n, int* major, uint64_t* arg) {
  if (n == 0) return 0;
  *major = p[0] >> 5;
  uint8_t info = p[0] & 0x1F;
  if (info < 24) {
    *arg = info;
    return 1;
  }
  if (info > 27) return 0;
  size_t extra = (size_t)1 << (info - 24);
  if (n < 1 + extra) return 0;
  *arg = 0;
  for (size_t i = 0; i < extra; ++i) *arg = *arg << 8 | p[1 + i];
  return 1 + extra;
}

/* Prints the envelope's entries: text keys with unsigned or byte-string values. */
static void print_envelope(const uint8_t* p, size_t n) {
  int major;
  uint64_t count;
  size_t pos = cbor_head(p, n, &major, &count);
  if (pos == 0 || major != 5) {
    printf("not a CBOR map\n");
    return;
  }
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t klen, value;
    size_t used = cbor_head(p + pos, n - pos, &major, &klen);
    if (used == 0 || major != 3 || klen > n - pos - used) return;
    printf("  %.*s: ", (int)klen, (const char*)(p + pos + used));
    pos += used + klen;
    used = cbor_head(p + pos, n - pos, &major, &value);
    if (used == 0) return;
    pos += used;
    if (major == 0) {
      printf("%" PRIu64 "\n", value);
    } else if (major == 2 && value <= n - pos) {
      print_hex("bytes", p + pos, (size_t)value);
      pos += value;
    } else {
      return;
    }
  }
}

int main(void) {
  char* version = zerv_version();
  printf("libzerv_stack: %s\n\n", version);
  zerv_string_free(version);

  /* The error catalogue: a code the host received, turned into its CBOR record. */
  ZervBuffer record = zerv_error_lookup(3);
  if (record.data == NULL) {
    print_last_error("zerv_error_lookup(3)");
    return 1;
  }
  print_hex("error record for code 3", record.data, record.len);
  zerv_buffer_free(record);
  record = zerv_error_lookup(10);
  if (record.data == NULL) print_last_error("zerv_error_lookup(10)");
  printf("\n");

  /* A frame envelope around an (unsealed) payload, and its entries read back. */
  uint8_t group_id[16];
  for (int i = 0; i < 16; ++i) group_id[i] = (uint8_t)(0xA0 + i);
  const char* payload = "hello";
  ZervBuffer frame = zerv_frame_encode_v(1, group_id, 2, 0, 1, 502, 1, 1, (const uint8_t*)payload,
                                         strlen(payload));
  if (frame.data == NULL) {
    print_last_error("zerv_frame_encode_v");
    return 1;
  }
  print_hex("frame", frame.data, frame.len);
  print_envelope(frame.data, frame.len);
  zerv_buffer_free(frame);
  return 0;
}
