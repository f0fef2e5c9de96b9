// Payload cipher: the published Blowfish block cipher, with each 32-bit half of a payload
// block taken little-endian, as the device expects.
#pragma once
#include <cstdint>

struct CipherContext {
  uint32_t p[18];
  uint32_t s[4][256];
};

// Primitives on an explicit context (the virtual device keeps its own).
void blowfish_set_key(CipherContext& context, const uint8_t* key, uint32_t length);
void blowfish_encrypt_block(const CipherContext& context, uint32_t& left, uint32_t& right);
void blowfish_decrypt_block(const CipherContext& context, uint32_t& left, uint32_t& right);
// In place, block by block; `length` is a multiple of 8 (a partial tail is left alone).
void payload_encrypt(const CipherContext& context, uint8_t* bytes, uint32_t length);
void payload_decrypt(const CipherContext& context, uint8_t* bytes, uint32_t length);

// The tool's process-wide context: all zero until a key is set.
extern CipherContext g_cipher;

void cipher_set_key(const uint8_t* key, uint32_t length);
// Keys the process-wide context from the 8 key_data bytes of the link state.
void cipher_set_device_key();
// Copies the 8 key_data bytes when `size` is at least 8 and returns 8; otherwise returns 0.
uint32_t copy_key_data(uint8_t* buffer, uint32_t size);
void encrypt_payload(uint8_t* bytes, uint32_t length);
// Whether a ciphered write may go out: false when the key data never came from the device
// (g_link.key_missing), which also sets g_link.io_failed. The write then sends nothing.
bool cipher_key_usable();
void decrypt_payload(uint8_t* bytes, uint32_t length);
// Back to the all-zero context of program start.
void cipher_reset_state();
