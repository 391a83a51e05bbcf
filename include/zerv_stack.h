/* libzerv_stack: end-to-end encrypted group sessions behind a flat C interface.
 *
 * Every object is named by a uint32_t handle (0 means failure for create functions).
 * Byte results come back as a ZervBuffer released with zerv_buffer_free; text results
 * are NUL-terminated strings released with zerv_string_free. After a failed call,
 * zerv_last_error() on the same thread describes why. */
#ifndef ZERV_STACK_H
#define ZERV_STACK_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ZERV_API __attribute__((visibility("default")))
#else
#define ZERV_API
#endif

#ifdef __cplusplus
#define ZERV_NOEXCEPT noexcept
extern "C" {
#else
#define ZERV_NOEXCEPT
#endif

/* By-value byte buffer. A null data pointer signals failure. cap == 0 owns nothing. */
typedef struct ZervBuffer {
  uint8_t* data;
  size_t len;
  size_t cap;
} ZervBuffer;

/* Interface frame. */
ZERV_API char* zerv_last_error(void) ZERV_NOEXCEPT;
ZERV_API void zerv_buffer_free(ZervBuffer buf) ZERV_NOEXCEPT;
ZERV_API void zerv_string_free(char* s) ZERV_NOEXCEPT;
ZERV_API char* zerv_version(void) ZERV_NOEXCEPT;

/* Error catalogue. */
ZERV_API ZervBuffer zerv_error_lookup(uint16_t code) ZERV_NOEXCEPT;

/* Frame envelope. */
ZERV_API ZervBuffer zerv_frame_encode_v(uint8_t version, const uint8_t* group_id, uint64_t epoch,
                                        uint32_t transition_id, uint8_t stream_type,
                                        uint32_t stream_id, uint16_t flags, uint32_t seq,
                                        const uint8_t* payload, size_t payload_len) ZERV_NOEXCEPT;

/* Node. */
ZERV_API uint32_t zerv_node_create(uint32_t member_id, const uint8_t* group_id) ZERV_NOEXCEPT;
ZERV_API void zerv_node_destroy(uint32_t node) ZERV_NOEXCEPT;
ZERV_API int32_t zerv_node_state(uint32_t node) ZERV_NOEXCEPT;
ZERV_API uint64_t zerv_node_epoch(uint32_t node) ZERV_NOEXCEPT;
ZERV_API uint32_t zerv_node_last_transition_id(uint32_t node) ZERV_NOEXCEPT;
ZERV_API bool zerv_node_set_epoch(uint32_t node, uint64_t epoch) ZERV_NOEXCEPT;
ZERV_API bool zerv_node_bootstrap_creator(uint32_t node, uint64_t epoch) ZERV_NOEXCEPT;
ZERV_API bool zerv_node_bootstrap_joiner(uint32_t node, uint64_t epoch,
                                         uint32_t pending_transition_id) ZERV_NOEXCEPT;
ZERV_API bool zerv_node_apply_transition(uint32_t node, uint32_t transition_id) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_node_send_control(uint32_t node, uint32_t mls, uint32_t caller_tag,
                                           uint16_t opcode, uint32_t transition_id,
                                           uint32_t request_id, const uint8_t* args,
                                           size_t args_len) ZERV_NOEXCEPT;
ZERV_API char* zerv_node_on_wire(uint32_t node, uint32_t mls, const uint8_t* data,
                                 size_t len) ZERV_NOEXCEPT;
ZERV_API char* zerv_node_drain_events(uint32_t node) ZERV_NOEXCEPT;

/* MLS participant. */
ZERV_API uint32_t zerv_mls_create(const uint8_t* identity, size_t identity_len) ZERV_NOEXCEPT;
ZERV_API void zerv_mls_destroy(uint32_t mls) ZERV_NOEXCEPT;
ZERV_API uint64_t zerv_mls_epoch(uint32_t mls) ZERV_NOEXCEPT;
ZERV_API bool zerv_mls_group_id(uint32_t mls, uint8_t out[16]) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_mls_export_key_package(uint32_t mls) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_mls_invite(uint32_t mls, const uint8_t* key_package,
                                    size_t key_package_len) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_mls_invite_full(uint32_t mls, const uint8_t* key_package,
                                         size_t key_package_len) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_mls_remove(uint32_t mls, uint32_t leaf_index) ZERV_NOEXCEPT;
ZERV_API bool zerv_mls_finalize_commit(uint32_t mls) ZERV_NOEXCEPT;
ZERV_API bool zerv_mls_clear_pending_commit(uint32_t mls) ZERV_NOEXCEPT;
ZERV_API int32_t zerv_mls_process_message(uint32_t mls, const uint8_t* message,
                                          size_t message_len) ZERV_NOEXCEPT;
ZERV_API bool zerv_mls_accept_welcome(uint32_t mls, const uint8_t* welcome,
                                      size_t welcome_len) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_mls_export_state(uint32_t mls) ZERV_NOEXCEPT;
ZERV_API uint32_t zerv_mls_restore_state(const uint8_t* state, size_t state_len) ZERV_NOEXCEPT;

/* SFrame. */
ZERV_API uint32_t zerv_sframe_session_create(uint32_t mls, uint8_t suite, const uint8_t* label,
                                             size_t label_len) ZERV_NOEXCEPT;
ZERV_API void zerv_sframe_session_free(uint32_t session) ZERV_NOEXCEPT;
ZERV_API uint32_t zerv_sframe_encryptor_create(uint32_t mls, uint32_t session, uint32_t sender_id,
                                               uint8_t suite, const uint8_t* label,
                                               size_t label_len) ZERV_NOEXCEPT;
ZERV_API void zerv_sframe_encryptor_free(uint32_t encryptor) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_sframe_encrypt(uint32_t encryptor, const uint8_t* frame, size_t frame_len,
                                        const uint8_t* metadata,
                                        size_t metadata_len) ZERV_NOEXCEPT;
ZERV_API ZervBuffer zerv_sframe_decrypt(uint32_t session, const uint8_t* frame, size_t frame_len,
                                        const uint8_t* metadata, size_t metadata_len,
                                        uint32_t* sender_out) ZERV_NOEXCEPT;

/* Audio client. */
ZERV_API uint32_t vokt_client_create(void) ZERV_NOEXCEPT;
ZERV_API void vokt_client_destroy(uint32_t client) ZERV_NOEXCEPT;
ZERV_API void vokt_client_reset(uint32_t client) ZERV_NOEXCEPT;
ZERV_API ZervBuffer vokt_client_send(uint32_t client, uint32_t node, uint32_t mls,
                                     uint32_t caller_tag, uint32_t media_source_id,
                                     uint64_t rtp_timestamp, const uint8_t* opus, size_t opus_len,
                                     uint8_t format) ZERV_NOEXCEPT;
ZERV_API char* vokt_client_accept(uint32_t client, uint64_t epoch, const uint8_t* data, size_t len,
                                  uint8_t format) ZERV_NOEXCEPT;

/* Signalling client. */
ZERV_API uint32_t myrk_client_create(void) ZERV_NOEXCEPT;
ZERV_API void myrk_client_destroy(uint32_t client) ZERV_NOEXCEPT;
ZERV_API void myrk_client_reset(uint32_t client) ZERV_NOEXCEPT;
ZERV_API ZervBuffer myrk_client_send(uint32_t client, uint32_t node, uint32_t mls,
                                     uint32_t caller_tag, uint32_t signal_type,
                                     uint32_t role_claim, uint32_t request_id,
                                     uint8_t format) ZERV_NOEXCEPT;
ZERV_API ZervBuffer myrk_client_send_with_args(uint32_t client, uint32_t node, uint32_t mls,
                                               uint32_t caller_tag, uint32_t signal_type,
                                               uint32_t role_claim, uint32_t request_id,
                                               const uint8_t* args, size_t args_len,
                                               uint8_t format) ZERV_NOEXCEPT;
ZERV_API char* myrk_client_accept(uint32_t client, uint64_t epoch, const uint8_t* data, size_t len,
                                  uint8_t format) ZERV_NOEXCEPT;

/* Text client. */
ZERV_API uint32_t druv_client_create(void) ZERV_NOEXCEPT;
ZERV_API void druv_client_destroy(uint32_t client) ZERV_NOEXCEPT;
ZERV_API void druv_client_reset(uint32_t client) ZERV_NOEXCEPT;
ZERV_API ZervBuffer druv_client_send(uint32_t client, uint32_t node, uint32_t mls,
                                     uint32_t caller_tag, uint64_t message_id, const uint8_t* text,
                                     size_t text_len, uint8_t format) ZERV_NOEXCEPT;
ZERV_API char* druv_client_accept(uint32_t client, uint64_t epoch, const uint8_t* data, size_t len,
                                  uint8_t format) ZERV_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZERV_STACK_H */
