// CRC-32 and SHA-1 of images: published check values, and the same results however the bytes
// arrive in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "formats/dat.h"
#include "platform/hash.h"
#include "tests/hash_dat_cases.h"

namespace {

const uint8_t* bytes_of(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

TEST(ImageHash, PublishedValuesWhateverThePieces) {
  for (const HashVector& vector : hash_vectors()) {
    SCOPED_TRACE(vector.what);
    const std::string& input = vector.input;
    EXPECT_EQ(plat_crc32(0, bytes_of(input), input.size()), vector.crc32);
    for (size_t piece : kHashPieces) {
      SCOPED_TRACE("pieces of " + std::to_string(piece));
      ImageHash hash;
      ASSERT_TRUE(plat_hash_begin(hash));
      for (size_t at = 0; at < input.size(); at += piece) {
        plat_hash_update(hash, bytes_of(input) + at, std::min(piece, input.size() - at));
      }
      uint32_t crc = 1;
      uint8_t sha1[kSha1Size];
      plat_hash_end(hash, crc, sha1);
      EXPECT_EQ(crc, vector.crc32);
      EXPECT_EQ(dat_hex(sha1, kSha1Size), vector.sha1);
    }
  }
}

// The dump hashes on two threads, one half each: the halves give what the whole update gives.
TEST(ImageHash, CrcAndShaHalvesInTurnGiveThePublishedValues) {
  for (const HashVector& vector : hash_vectors()) {
    SCOPED_TRACE(vector.what);
    const std::string& input = vector.input;
    ImageHash hash;
    ASSERT_TRUE(plat_hash_begin(hash));
    const size_t half = input.size() / 2;
    plat_hash_update_sha1(hash, bytes_of(input), half);
    plat_hash_update_crc32(hash, bytes_of(input), input.size());
    plat_hash_update_sha1(hash, bytes_of(input) + half, input.size() - half);
    uint32_t crc = 1;
    uint8_t sha1[kSha1Size];
    plat_hash_end(hash, crc, sha1);
    EXPECT_EQ(crc, vector.crc32);
    EXPECT_EQ(dat_hex(sha1, kSha1Size), vector.sha1);
  }
}

TEST(ImageHash, EveryTwoPieceSplitOfAShortInput) {
  const std::string input = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  for (size_t split = 0; split <= input.size(); ++split) {
    SCOPED_TRACE(split);
    uint32_t crc = plat_crc32(plat_crc32(0, bytes_of(input), split), bytes_of(input) + split,
                              input.size() - split);
    EXPECT_EQ(crc, 0x171A3F5Fu);
    ImageHash hash;
    ASSERT_TRUE(plat_hash_begin(hash));
    plat_hash_update(hash, bytes_of(input), split);
    plat_hash_update(hash, bytes_of(input) + split, input.size() - split);
    uint8_t sha1[kSha1Size];
    plat_hash_end(hash, crc, sha1);
    EXPECT_EQ(crc, 0x171A3F5Fu);
    EXPECT_EQ(dat_hex(sha1, kSha1Size), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  }
}

TEST(ImageHash, BegunAgainAfterItsEndStartsFresh) {
  ImageHash hash;
  uint32_t crc = 0;
  uint8_t sha1[kSha1Size];
  ASSERT_TRUE(plat_hash_begin(hash));
  plat_hash_update(hash, bytes_of("xyz"), 3);
  plat_hash_end(hash, crc, sha1);
  ASSERT_TRUE(plat_hash_begin(hash));
  plat_hash_update(hash, bytes_of("abc"), 3);
  plat_hash_end(hash, crc, sha1);
  EXPECT_EQ(crc, 0x352441C2u);
  EXPECT_EQ(dat_hex(sha1, kSha1Size), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
