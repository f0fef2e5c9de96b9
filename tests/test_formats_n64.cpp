// N64 header fields, byte orders and the boot chips' CRC pair.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/n64_header.h"

namespace {

// The image the pinned CRC values were computed over: bytes of a 32-bit LCG (x = x * 1103515245
// + 12345 from x = 1, each byte the top eight bits of the next x), kN64CrcEnd long.
std::vector<uint8_t> lcg_image(uint32_t size) {
  std::vector<uint8_t> out(size);
  uint32_t x = 1;
  for (auto& b : out) {
    x = x * 1103515245U + 12345U;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

TEST(N64HeaderTest, ParseReadsWordsBigEndianAndCleansText) {
  std::vector<uint8_t> h(kN64HeaderSize, 0);
  put_be32(&h[0x00], 0x80371240);
  put_be32(&h[0x08], 0x80000400);
  put_be32(&h[0x10], 0x01020304);
  put_be32(&h[0x14], 0xA0B0C0D0);
  std::memcpy(&h[0x20], "SUPER\x90GAME          ", 20);
  std::memcpy(&h[0x3B], "NSMJ", 4);
  h[0x3F] = 0x01;
  const N64Header header = n64_parse_header(h.data());
  EXPECT_EQ(header.pi_config, 0x80371240U);
  EXPECT_EQ(header.boot_address, 0x80000400U);
  EXPECT_EQ(header.crc1, 0x01020304U);
  EXPECT_EQ(header.crc2, 0xA0B0C0D0U);
  EXPECT_STREQ(header.title, "SUPER?GAME");
  EXPECT_STREQ(header.game_code, "NSMJ");
  EXPECT_EQ(header.version, 0x01);
  EXPECT_TRUE(n64_header_plausible(header));
  put_be32(&h[0x00], 0x40123780);  // the same word in n64 order
  EXPECT_FALSE(n64_header_plausible(n64_parse_header(h.data())));
}

// The swapped forms are built here byte by byte: v64 swaps each byte pair, n64 reverses each
// word.
TEST(N64HeaderTest, ByteOrdersAreToldAndPutBackIntoZ64) {
  std::vector<uint8_t> z64 = lcg_image(64);
  put_be32(z64.data(), 0x80371240);
  std::vector<uint8_t> v64(z64.size());
  std::vector<uint8_t> n64(z64.size());
  for (size_t i = 0; i < z64.size(); ++i) {
    v64[i] = z64[i ^ 1];
    n64[i] = z64[(i & ~size_t{3}) + 3 - (i & 3)];
  }
  struct Case {
    std::vector<uint8_t> bytes;
    N64ByteOrder order;
  };
  const Case cases[] = {{z64, N64ByteOrder::z64}, {v64, N64ByteOrder::v64},
                        {n64, N64ByteOrder::n64}};
  for (const auto& c : cases) {
    EXPECT_EQ(n64_byte_order(c.bytes.data()), c.order);
    std::vector<uint8_t> image = c.bytes;
    n64_to_z64(image.data(), static_cast<uint32_t>(image.size()), c.order);
    EXPECT_EQ(image, z64) << static_cast<int>(c.order);
  }
  const uint8_t other[4] = {0x12, 0x40, 0x80, 0x37};
  EXPECT_EQ(n64_byte_order(other), N64ByteOrder::unknown);
  // A tail shorter than a word is left as it is.
  std::vector<uint8_t> odd = {1, 2, 3, 4, 5, 6};
  n64_to_z64(odd.data(), 6, N64ByteOrder::n64);
  EXPECT_EQ(odd, (std::vector<uint8_t>{4, 3, 2, 1, 5, 6}));
}

// Expected pairs were computed once by a separate Python script written for this test from the
// published description of the boot chips' checksum (words read big-endian from 0x1000 up to
// 0x101000; the seeds 0xF8CA4DDC, 0xA3886759, 0xDF26F436, 0x1FEA617A; 6105's second sum
// reading the boot code at 0x0750 + (i & 0xFF)) over lcg_image; it is not kept.
TEST(N64HeaderTest, CrcPairOverConstructedImagePerBootChip) {
  const std::vector<uint8_t> image = lcg_image(kN64CrcEnd);
  struct Case {
    N64BootChip chip;
    uint32_t crc1, crc2;
  };
  const Case cases[] = {
      {N64BootChip::cic6101, 0xD281E972, 0x3DDD1241},
      {N64BootChip::cic6102, 0xD281E972, 0x3DDD1241},
      {N64BootChip::cic6103, 0xCA63E4F0, 0x268D0C84},
      {N64BootChip::cic6105, 0x38F547CB, 0xA87C7109},
      {N64BootChip::cic6106, 0x5566B944, 0x051A6BCD},
  };
  for (const auto& c : cases) {
    uint32_t crc1 = 0;
    uint32_t crc2 = 0;
    ASSERT_TRUE(n64_compute_crc(image.data(), kN64CrcEnd, c.chip, crc1, crc2));
    EXPECT_EQ(crc1, c.crc1) << n64_boot_chip_name(c.chip);
    EXPECT_EQ(crc2, c.crc2) << n64_boot_chip_name(c.chip);
  }
}

// Over zero bytes every step but the second sum keeps the seed; that sum adds the seed once
// per word (0x40000 words), so the pair is (seed, seed * 0x40001) for 6102. 6105 adds the
// (zero) boot code instead and keeps the seed in both.
TEST(N64HeaderTest, CrcOverZeroBytesFollowsFromSeedAndSpan) {
  const std::vector<uint8_t> zero(kN64CrcEnd, 0);
  uint32_t crc1 = 0;
  uint32_t crc2 = 0;
  ASSERT_TRUE(n64_compute_crc(zero.data(), kN64CrcEnd, N64BootChip::cic6102, crc1, crc2));
  EXPECT_EQ(crc1, 0xF8CA4DDCU);
  EXPECT_EQ(crc2, static_cast<uint32_t>(0xF8CA4DDCULL * 0x40001ULL));
  ASSERT_TRUE(n64_compute_crc(zero.data(), kN64CrcEnd, N64BootChip::cic6105, crc1, crc2));
  EXPECT_EQ(crc1, 0xDF26F436U);
  EXPECT_EQ(crc2, 0xDF26F436U);
}

// Bytes just outside the span change nothing; the first and last inside it change the pair;
// 6105 alone sees its boot code.
TEST(N64HeaderTest, CrcSpanEdges) {
  const std::vector<uint8_t> base = lcg_image(kN64CrcEnd + 4);
  struct Case {
    uint32_t offset;
    N64BootChip chip;
    bool changes;
  };
  const Case cases[] = {
      {kN64BootCodeEnd - 1, N64BootChip::cic6102, false},
      {kN64BootCodeEnd, N64BootChip::cic6102, true},
      {kN64CrcEnd - 1, N64BootChip::cic6102, true},
      {kN64CrcEnd, N64BootChip::cic6102, false},
      {0x0750, N64BootChip::cic6102, false},
      {0x0750, N64BootChip::cic6105, true},
      {0x0750 + 0x100, N64BootChip::cic6105, false},
  };
  for (const auto& c : cases) {
    uint32_t a1 = 0;
    uint32_t a2 = 0;
    uint32_t b1 = 0;
    uint32_t b2 = 0;
    std::vector<uint8_t> changed = base;
    changed[c.offset] ^= 0x5A;
    const auto size = static_cast<uint32_t>(base.size());
    ASSERT_TRUE(n64_compute_crc(base.data(), size, c.chip, a1, a2));
    ASSERT_TRUE(n64_compute_crc(changed.data(), size, c.chip, b1, b2));
    EXPECT_EQ(a1 != b1 || a2 != b2, c.changes)
        << n64_boot_chip_name(c.chip) << " byte " << std::hex << c.offset;
  }
}

TEST(N64HeaderTest, CheckNamesTheMatchingChipOrNone) {
  std::vector<uint8_t> image = lcg_image(kN64CrcEnd);
  struct Case {
    uint32_t crc1, crc2;
    bool matched;
    N64BootChip chip;
  };
  const Case cases[] = {
      {0xD281E972, 0x3DDD1241, true, N64BootChip::cic6102},
      {0x38F547CB, 0xA87C7109, true, N64BootChip::cic6105},
      {0x5566B944, 0x051A6BCD, true, N64BootChip::cic6106},
      {0xD281E972, 0xA87C7109, false, N64BootChip::cic6101},  // halves of two chips
      {0, 0, false, N64BootChip::cic6101},
  };
  for (const auto& c : cases) {
    N64Header header{};
    header.crc1 = c.crc1;
    header.crc2 = c.crc2;
    const N64CrcCheck check = n64_check_crc(image.data(), kN64CrcEnd, header);
    EXPECT_EQ(check.matched, c.matched) << std::hex << c.crc1;
    if (c.matched) {
      EXPECT_EQ(check.chip, c.chip) << std::hex << c.crc1;
    }
  }
  // One byte short of the span: nothing is computed, nothing matches.
  uint32_t crc1 = 0;
  uint32_t crc2 = 0;
  EXPECT_FALSE(n64_compute_crc(image.data(), kN64CrcEnd - 1, N64BootChip::cic6102, crc1, crc2));
  N64Header header{};
  header.crc1 = 0xD281E972;
  header.crc2 = 0x3DDD1241;
  EXPECT_FALSE(n64_check_crc(image.data(), kN64CrcEnd - 1, header).matched);
}

}  // namespace
