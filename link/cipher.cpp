#include "link/cipher.h"

#include <cstring>

#include "link/link_state.h"

namespace {

#include "link/blowfish_tables.inc"

constexpr int kRounds = 16;

uint32_t feistel(const CipherContext& context, uint32_t x) {
  const uint32_t a = (x >> 24) & 0xFF;
  const uint32_t b = (x >> 16) & 0xFF;
  const uint32_t c = (x >> 8) & 0xFF;
  const uint32_t d = x & 0xFF;
  return ((context.s[0][a] + context.s[1][b]) ^ context.s[2][c]) + context.s[3][d];
}

uint32_t load_le32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void store_le32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

CipherContext g_cipher{};

void blowfish_set_key(CipherContext& context, const uint8_t* key, uint32_t length) {
  std::memcpy(context.s, kInitialS, sizeof(context.s));
  // An empty key would leave nothing to cycle through; treat it as a single zero byte.
  const uint8_t zero_key = 0;
  if (key == nullptr || length == 0) {
    key = &zero_key;
    length = 1;
  }
  uint32_t position = 0;
  for (int i = 0; i < 18; ++i) {
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = (word << 8) | key[position];
      position = (position + 1 == length) ? 0 : position + 1;
    }
    context.p[i] = kInitialP[i] ^ word;
  }
  uint32_t left = 0;
  uint32_t right = 0;
  for (int i = 0; i < 18; i += 2) {
    blowfish_encrypt_block(context, left, right);
    context.p[i] = left;
    context.p[i + 1] = right;
  }
  for (auto& box : context.s) {
    for (int i = 0; i < 256; i += 2) {
      blowfish_encrypt_block(context, left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
}

void blowfish_encrypt_block(const CipherContext& context, uint32_t& left, uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  for (int i = 0; i < kRounds; i += 2) {
    l ^= context.p[i];
    r ^= feistel(context, l);
    r ^= context.p[i + 1];
    l ^= feistel(context, r);
  }
  // The final exchange is undone, so the halves end where the last round left them, swapped.
  left = r ^ context.p[17];
  right = l ^ context.p[16];
}

void blowfish_decrypt_block(const CipherContext& context, uint32_t& left, uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  for (int i = kRounds + 1; i > 1; i -= 2) {
    l ^= context.p[i];
    r ^= feistel(context, l);
    r ^= context.p[i - 1];
    l ^= feistel(context, r);
  }
  left = r ^ context.p[0];
  right = l ^ context.p[1];
}

namespace {
// The device takes each half least significant byte first, unlike the usual convention.
void payload_blocks(const CipherContext& context, uint8_t* bytes, uint32_t length,
                    void (*block)(const CipherContext&, uint32_t&, uint32_t&)) {
  for (uint32_t k = 0; length - k >= 8; k += 8) {
    uint32_t left = load_le32(bytes + k);
    uint32_t right = load_le32(bytes + k + 4);
    block(context, left, right);
    store_le32(bytes + k, left);
    store_le32(bytes + k + 4, right);
  }
}
}  // namespace

void payload_encrypt(const CipherContext& context, uint8_t* bytes, uint32_t length) {
  payload_blocks(context, bytes, length, blowfish_encrypt_block);
}

void payload_decrypt(const CipherContext& context, uint8_t* bytes, uint32_t length) {
  payload_blocks(context, bytes, length, blowfish_decrypt_block);
}

void cipher_set_key(const uint8_t* key, uint32_t length) {
  blowfish_set_key(g_cipher, key, length);
}

void cipher_set_device_key() { cipher_set_key(g_link.key_data, sizeof(g_link.key_data)); }

uint32_t copy_key_data(uint8_t* buffer, uint32_t size) {
  if (buffer == nullptr || size < sizeof(g_link.key_data)) return 0;
  std::memcpy(buffer, g_link.key_data, sizeof(g_link.key_data));
  return sizeof(g_link.key_data);
}

void encrypt_payload(uint8_t* bytes, uint32_t length) { payload_encrypt(g_cipher, bytes, length); }

bool cipher_key_usable() {
  if (!g_link.key_missing) return true;
  g_link.io_failed = true;
  return false;
}

void decrypt_payload(uint8_t* bytes, uint32_t length) { payload_decrypt(g_cipher, bytes, length); }

void cipher_reset_state() { g_cipher = CipherContext{}; }
