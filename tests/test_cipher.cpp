#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"

namespace {

class CipherTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    cipher_reset_state();
    link_reset_state();
  }
};

struct Vector {
  std::vector<uint8_t> key;
  uint64_t plain;
  uint64_t cipher;
};

// Published vectors, halves read most significant byte first. Keys of 1, 3 and 7 bytes make
// the schedule carry its key position across words.
TEST_F(CipherTest, BlockRoutineMatchesPublishedVectorsBothWays) {
  const Vector vectors[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0}, 0x0000000000000000, 0x4EF997456198DD78},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
      {{0x30, 0, 0, 0, 0, 0, 0, 0}, 0x1000000000000001, 0x7D856F9A613063F2},
      {{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
      {{0xF0}, 0xFEDCBA9876543210, 0xF9AD597C49DB005E},
      {{0xF0, 0xE1, 0xD2}, 0xFEDCBA9876543210, 0xE9C2B70A1BC65CF3},
      {{0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96}, 0xFEDCBA9876543210, 0x8BB77032F960629D},
  };
  static CipherContext context;
  for (const auto& v : vectors) {
    blowfish_set_key(context, v.key.data(), static_cast<uint32_t>(v.key.size()));
    uint32_t left = static_cast<uint32_t>(v.plain >> 32);
    uint32_t right = static_cast<uint32_t>(v.plain);
    blowfish_encrypt_block(context, left, right);
    EXPECT_EQ((uint64_t{left} << 32) | right, v.cipher) << std::hex << v.plain;
    blowfish_decrypt_block(context, left, right);
    EXPECT_EQ((uint64_t{left} << 32) | right, v.plain);
  }
}

// The device key comes from the link state, and payload halves are little-endian: the same key
// and bytes give a different result than the common convention, equal to the block routine on
// byte-swapped halves. Each block is independent and a partial tail stays as it is.
TEST_F(CipherTest, PayloadTakesHalvesLittleEndianFromDeviceKey) {
  const uint8_t key[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  std::memcpy(g_link.key_data, key, 8);
  cipher_set_device_key();

  const uint8_t plain[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const uint8_t common[8] = {0x0A, 0xCE, 0xAB, 0x0F, 0xC6, 0xA0, 0xA2, 0x8D};
  uint8_t bytes[20];
  std::memcpy(bytes, plain, 8);
  std::memcpy(bytes + 8, plain, 8);
  std::memset(bytes + 16, 0x5A, 4);
  encrypt_payload(bytes, 20);
  EXPECT_NE(0, std::memcmp(bytes, common, 8));

  uint32_t left = 0x67452301;
  uint32_t right = 0xEFCDAB89;
  blowfish_encrypt_block(g_cipher, left, right);
  uint8_t expected[8];
  for (int i = 0; i < 4; ++i) {
    expected[i] = static_cast<uint8_t>(left >> (8 * i));
    expected[4 + i] = static_cast<uint8_t>(right >> (8 * i));
  }
  EXPECT_EQ(0, std::memcmp(bytes, expected, 8));
  EXPECT_EQ(0, std::memcmp(bytes + 8, expected, 8));
  for (int i = 16; i < 20; ++i) EXPECT_EQ(bytes[i], 0x5A);

  decrypt_payload(bytes, 20);
  EXPECT_EQ(0, std::memcmp(bytes, plain, 8));
  EXPECT_EQ(0, std::memcmp(bytes + 8, plain, 8));
}

TEST_F(CipherTest, UnkeyedContextExchangesHalves) {
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  encrypt_payload(bytes, 8);
  const uint8_t swapped[8] = {5, 6, 7, 8, 1, 2, 3, 4};
  EXPECT_EQ(0, std::memcmp(bytes, swapped, 8));

  // A reset after keying brings the same behaviour back.
  cipher_set_key(bytes, 8);
  cipher_reset_state();
  encrypt_payload(bytes, 8);
  const uint8_t restored[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(0, std::memcmp(bytes, restored, 8));
}

TEST_F(CipherTest, CopyKeyDataNeedsEightBytes) {
  for (uint8_t i = 0; i < 8; ++i) g_link.key_data[i] = static_cast<uint8_t>(0xA0 + i);
  uint8_t small[7];
  std::memset(small, 0xEE, sizeof(small));
  EXPECT_EQ(copy_key_data(small, 7), 0u);
  for (uint8_t b : small) EXPECT_EQ(b, 0xEE);

  uint8_t big[16];
  std::memset(big, 0xEE, sizeof(big));
  EXPECT_EQ(copy_key_data(big, 16), 8u);
  EXPECT_EQ(0, std::memcmp(big, g_link.key_data, 8));
  for (int i = 8; i < 16; ++i) EXPECT_EQ(big[i], 0xEE);
}

}  // namespace
