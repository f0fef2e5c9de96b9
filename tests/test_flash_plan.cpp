// The flash job's erase plan and the CFI sector map it is made from: exactly the sectors an
// image covers, for uniform and boot-sector chips, at and one byte past a sector's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cartridge/flash_plan.h"

namespace {

constexpr uint32_t K = 1024;

// A 512 KiB bottom-boot chip (16, 8, 8, 32 KiB, then 64 KiB sectors) and its top-boot twin.
const FlashGeometry kBottomBoot{
    512 * K, {{16 * K, 1}, {8 * K, 2}, {32 * K, 1}, {64 * K, 7}}};
const FlashGeometry kTopBoot{
    512 * K, {{64 * K, 7}, {32 * K, 1}, {8 * K, 2}, {16 * K, 1}}};
const FlashGeometry kUniform = flash_uniform_geometry(512 * K, 64 * K);

std::vector<uint32_t> offsets(const std::vector<FlashSpan>& spans) {
  std::vector<uint32_t> out;
  for (const auto& s : spans) out.push_back(s.offset);
  return out;
}

TEST(FlashPlan, ErasesExactlyTheSectorsTheImageCovers) {
  struct Case {
    const char* name;
    const FlashGeometry& geometry;
    uint64_t image;
    std::vector<uint32_t> sectors;
  } cases[] = {
      {"uniform, one byte", kUniform, 1, {0}},
      {"uniform, a sector exactly", kUniform, 64 * K, {0}},
      {"uniform, one byte past a sector", kUniform, 64 * K + 1, {0, 64 * K}},
      {"uniform, the whole chip", kUniform, 512 * K,
       {0, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K, 448 * K}},
      {"bottom boot, the first small sector exactly", kBottomBoot, 16 * K, {0}},
      {"bottom boot, one byte past it", kBottomBoot, 16 * K + 1, {0, 16 * K}},
      {"bottom boot, up to the first large sector", kBottomBoot, 64 * K,
       {0, 16 * K, 24 * K, 32 * K}},
      {"bottom boot, one byte into it", kBottomBoot, 64 * K + 1,
       {0, 16 * K, 24 * K, 32 * K, 64 * K}},
      {"top boot, a large sector exactly", kTopBoot, 64 * K, {0}},
      {"top boot, up to the small sectors", kTopBoot, 448 * K,
       {0, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K}},
      {"top boot, one byte into them", kTopBoot, 448 * K + 1,
       {0, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K, 448 * K}},
      {"top boot, up to the last sector", kTopBoot, 496 * K,
       {0, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K, 448 * K, 480 * K, 488 * K}},
      {"top boot, the whole chip", kTopBoot, 512 * K,
       {0, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K, 448 * K, 480 * K, 488 * K,
        496 * K}},
      {"one byte more than the chip", kUniform, 512 * K + 1, {}},
      {"nothing", kUniform, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FlashPlan plan = flash_make_plan(c.geometry, c.image, false);
    EXPECT_EQ(offsets(plan.sectors), c.sectors);
    ASSERT_EQ(plan.batches.size(), plan.sectors.size());
    // The batches are the image's bytes sector by sector: together exactly the image.
    uint64_t covered = 0;
    for (size_t i = 0; i < plan.batches.size(); ++i) {
      EXPECT_EQ(plan.batches[i].offset, plan.sectors[i].offset);
      EXPECT_LE(plan.batches[i].length, plan.sectors[i].length);
      EXPECT_EQ(plan.batches[i].offset, covered);
      covered += plan.batches[i].length;
    }
    EXPECT_EQ(covered, c.sectors.empty() ? 0 : c.image);
  }
}

// An image that ends at the chip's top (the WSC slot): the sectors from the one holding its
// first byte up to the last, its first batch starting inside that sector when it must.
TEST(FlashPlan, AnImageAtTheTopCoversTheTopSectors) {
  struct Case {
    const char* name;
    const FlashGeometry& geometry;
    uint64_t image;
    std::vector<uint32_t> sectors;
    uint32_t first_batch;  // chip offset of the image's first byte
  } cases[] = {
      {"uniform, a sector exactly", kUniform, 64 * K, {448 * K}, 448 * K},
      {"uniform, one byte past a sector", kUniform, 64 * K + 1, {384 * K, 448 * K},
       448 * K - 1},
      {"uniform, the whole chip", kUniform, 512 * K,
       {0, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K, 448 * K}, 0},
      {"top boot, the last small sector", kTopBoot, 16 * K, {496 * K}, 496 * K},
      {"top boot, one byte more", kTopBoot, 16 * K + 1, {488 * K, 496 * K}, 496 * K - 1},
      {"bottom boot, into the small sectors", kBottomBoot, 488 * K + 1,
       {16 * K, 24 * K, 32 * K, 64 * K, 128 * K, 192 * K, 256 * K, 320 * K, 384 * K, 448 * K},
       24 * K - 1},
      {"one byte more than the chip", kUniform, 512 * K + 1, {}, 0},
      {"nothing", kUniform, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FlashPlan plan = flash_make_plan(c.geometry, c.image, false, true);
    EXPECT_EQ(offsets(plan.sectors), c.sectors);
    ASSERT_EQ(plan.batches.size(), plan.sectors.size());
    if (c.sectors.empty()) continue;
    EXPECT_EQ(plan.image_at, c.first_batch);
    // Without a gap from the image's first byte to the chip's last, each inside its sector.
    uint64_t next = c.first_batch;
    for (size_t i = 0; i < plan.batches.size(); ++i) {
      EXPECT_EQ(plan.batches[i].offset, next);
      EXPECT_GE(plan.batches[i].offset, plan.sectors[i].offset);
      EXPECT_EQ(plan.batches[i].offset + plan.batches[i].length,
                std::min<uint64_t>(plan.sectors[i].offset + plan.sectors[i].length, 512 * K));
      next += plan.batches[i].length;
    }
    EXPECT_EQ(next, 512 * K);
  }
}

TEST(FlashPlan, ClipsToTheSlotsReachAndRefusesBrokenMaps) {
  // A 16 MiB chip on a bus that decodes 8 MiB: the sectors below 8 MiB.
  const FlashGeometry clipped =
      flash_clip_geometry(flash_uniform_geometry(16 * K * K, 128 * K), 8 * K * K);
  EXPECT_EQ(clipped.size, 8 * K * K);
  ASSERT_EQ(clipped.regions.size(), 1u);
  EXPECT_EQ(clipped.regions[0].count, 64u);
  // A top-boot chip cut inside its small sectors keeps only whole ones.
  const FlashGeometry cut = flash_clip_geometry(kTopBoot, 500 * K);
  EXPECT_EQ(cut.size, 496 * K);
  EXPECT_TRUE(flash_geometry_valid(cut));
  // Regions that do not add up to the chip make no plan.
  const FlashGeometry broken{512 * K, {{64 * K, 7}}};
  EXPECT_TRUE(flash_make_plan(broken, 1, false).sectors.empty());
}

// CFI answers as a chip gives them: word n at query offset n.
std::vector<uint16_t> cfi(uint32_t size_code, const std::vector<FlashRegion>& regions,
                          int boot_flag) {
  std::vector<uint16_t> w(kFlashCfiWords, 0);
  w[0x10] = 'Q';
  w[0x11] = 'R';
  w[0x12] = 'Y';
  w[0x15] = 0x40;
  w[0x27] = static_cast<uint16_t>(size_code);
  w[0x2C] = static_cast<uint16_t>(regions.size());
  for (size_t i = 0; i < regions.size(); ++i) {
    const uint32_t blocks = regions[i].count - 1, units = regions[i].sector_size / 256;
    w[0x2D + 4 * i] = blocks & 0xFF;
    w[0x2E + 4 * i] = static_cast<uint16_t>(blocks >> 8);
    w[0x2F + 4 * i] = units & 0xFF;
    w[0x30 + 4 * i] = static_cast<uint16_t>(units >> 8);
  }
  w[0x40] = 'P';
  w[0x41] = 'R';
  w[0x42] = 'I';
  w[0x4F] = static_cast<uint16_t>(boot_flag);
  return w;
}

TEST(FlashCfi, DecodesTheSectorMap) {
  const std::vector<FlashRegion> boot_order = kBottomBoot.regions;
  struct Case {
    const char* name;
    std::vector<uint16_t> words;
    bool ok;
    uint32_t size;
    std::vector<uint32_t> sectors_of_region;  // sector size per region, in address order
    const char* problem;
  } cases[] = {
      {"uniform 64 MiB of 128 KiB", cfi(26, {{128 * K, 512}}, 4), true, 64 * K * K, {128 * K},
       ""},
      {"bottom boot", cfi(19, boot_order, 2), true, 512 * K, {16 * K, 8 * K, 32 * K, 64 * K},
       ""},
      // Top-boot chips list their regions as the bottom-boot twin does: turned round.
      {"top boot", cfi(19, boot_order, 3), true, 512 * K, {64 * K, 32 * K, 8 * K, 16 * K}, ""},
      {"no answer", std::vector<uint16_t>(kFlashCfiWords, 0xFF), false, 0, {}, "did not answer"},
      {"size code out of range", cfi(40, {{64 * K, 8}}, 4), false, 0, {}, "size code 40"},
      {"no regions", cfi(19, {}, 4), false, 0, {}, "0 erase-block regions"},
      {"regions short of the size", cfi(20, {{64 * K, 8}}, 4), false, 0, {},
       "add up to 512 KiB, not its size of 1 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlashGeometry g;
    std::string problem;
    EXPECT_EQ(flash_decode_cfi(c.words.data(), c.words.size(), g, problem), c.ok);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_EQ(g.size, c.size);
    std::vector<uint32_t> sizes;
    for (const auto& r : g.regions) sizes.push_back(r.sector_size);
    EXPECT_EQ(sizes, c.sectors_of_region);
  }
  // Byte-mode chips answer in the low byte; a short answer is no answer.
  std::vector<uint16_t> words = cfi(19, boot_order, 2);
  for (auto& w : words) w |= 0xAB00;
  FlashGeometry g;
  std::string problem;
  EXPECT_TRUE(flash_decode_cfi(words.data(), words.size(), g, problem)) << problem;
  EXPECT_FALSE(flash_decode_cfi(words.data(), 0x2D, g, problem));
}

TEST(FlashPlan, DescribesRunsAtBusAddresses) {
  const FlashPlan plan = flash_make_plan(kBottomBoot, 130 * K + 3, false);
  const auto lines = flash_describe_plan(plan, 0x10000000, 500);
  const std::vector<std::string> expected = {
      "Erase: 6 sectors, those the image covers:",
      "  0x10000000-0x10003FFF  1 x 16 KiB",
      "  0x10004000-0x10007FFF  2 x 8 KiB",
      "  0x10008000-0x1000FFFF  1 x 32 KiB",
      "  0x10010000-0x1002FFFF  2 x 64 KiB",
      "Program: 6 batches, one command file each:",
      "  0x10000000-0x10003FFF  1 x 16 KiB, 33 packets of up to 500 bytes each",
      "  0x10004000-0x10007FFF  2 x 8 KiB, 17 packets of up to 500 bytes each",
      "  0x10008000-0x1000FFFF  1 x 32 KiB, 66 packets of up to 500 bytes each",
      "  0x10010000-0x1001FFFF  1 x 64 KiB, 132 packets of up to 500 bytes each",
      "  0x10020000-0x10020802  1 x 2051 bytes, 5 packets of up to 500 bytes each",
      "Verify: each of the 6 sectors read back once after its batch (192 KiB)",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(flash_describe_plan(flash_make_plan(kUniform, 10, true), 0, 496)[0],
            "Erase: the whole chip (--chip-erase)");
}

}  // namespace
