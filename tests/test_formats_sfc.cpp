// SFC header detection, sizes, memory maps and the internal checksum.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/sfc_header.h"

namespace {

using Block = std::array<uint8_t, kSfcHeaderBlock>;

std::vector<uint8_t> noise(uint32_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed;
  for (auto& b : out) {
    x = x * 1103515245U + 12345U;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

// A header block as a retail ROM carries it; `pair_fits` sets checksum and complement to sum
// to 0xFFFF.
Block header(uint8_t mode, uint8_t size_code, bool pair_fits, uint16_t reset = 0x8000) {
  Block b{};
  std::memcpy(b.data(), "CARTLINK TEST        ", 21);
  b[0x15] = mode;
  b[0x16] = 0x02;
  b[0x17] = size_code;
  b[0x18] = 0x03;
  b[0x19] = 0x01;
  b[0x1A] = 0x33;
  const uint16_t checksum = 0x5A17;
  const uint16_t complement = pair_fits ? static_cast<uint16_t>(~checksum) : 0x1234;
  b[0x1C] = static_cast<uint8_t>(complement);
  b[0x1D] = static_cast<uint8_t>(complement >> 8);
  b[0x1E] = static_cast<uint8_t>(checksum);
  b[0x1F] = static_cast<uint8_t>(checksum >> 8);
  b[0x3C] = static_cast<uint8_t>(reset);
  b[0x3D] = static_cast<uint8_t>(reset >> 8);
  return b;
}

Block block_of(const std::vector<uint8_t>& bytes) {
  Block b{};
  std::memcpy(b.data(), bytes.data(), b.size());
  return b;
}

struct DetectCase {
  const char* name;
  Block at_lorom, at_hirom, at_exhirom;
  bool found;
  SfcMap map;
};

// Each place holds what a retail board shows there: a HiROM board answers at $00:FFC0 and
// $40:FFC0 with its own header, an ExHiROM board at $00:FFC0 with its $40:FFC0, a LoROM board
// at $40:FFC0 with its mirrored first banks.
TEST(SfcHeaderTest, DetectionPicksThePlaceTheMapModeAgreesWith) {
  const Block lo = header(0x20, 0x0A, true);
  const Block hi = header(0x31, 0x0C, true);
  const Block ex = header(0x35, 0x0D, true);
  const Block junk = block_of(noise(64, 7));
  Block blank{};
  blank.fill(0xFF);
  const DetectCase cases[] = {
      {"lorom", lo, junk, lo, true, SfcMap::lorom},
      {"hirom through its mirrors", hi, hi, hi, true, SfcMap::hirom},
      {"exhirom through its mirror", ex, junk, ex, true, SfcMap::exhirom},
      {"lorom fastrom, nothing elsewhere", header(0x30, 0x0B, true), blank, blank, true,
       SfcMap::lorom},
      // A fitting pair under the wrong place's mode loses to the right place with a bad pair.
      {"pair fits at the wrong place", header(0x21, 0x0A, true), header(0x21, 0x0A, false),
       junk, true, SfcMap::hirom},
      // A homebrew header with no checksum pair is still found by mode, size and vector.
      {"no pair, all else agrees", header(0x20, 0x08, false), junk, blank, true, SfcMap::lorom},
      {"damaged everywhere", header(0x00, 0x00, false, 0x0000), junk, blank, false,
       SfcMap::lorom},
      {"blank bus", blank, blank, blank, false, SfcMap::lorom},
      {"zero bus", Block{}, Block{}, Block{}, false, SfcMap::lorom},
  };
  for (const auto& c : cases) {
    const uint8_t* blocks[kSfcMapCount] = {c.at_lorom.data(), c.at_hirom.data(),
                                           c.at_exhirom.data()};
    const SfcDetection d = sfc_detect(blocks);
    EXPECT_EQ(d.found, c.found) << c.name << " score " << d.score;
    if (c.found) {
      EXPECT_EQ(d.map, c.map) << c.name;
      EXPECT_GE(d.score, kSfcHeaderMinScore) << c.name;
    } else {
      EXPECT_LT(d.score, kSfcHeaderMinScore) << c.name;
    }
  }
}

TEST(SfcHeaderTest, ParseReadsFieldsLittleEndianAndCleansTitle) {
  Block b = header(0x21, 0x0C, true, 0x8123);
  std::memcpy(b.data(), "MY\x01GAME\xB1        \0\0\0\0", 21);
  b[0x1B] = 0x02;
  const SfcHeader h = sfc_parse_header(b.data());
  EXPECT_STREQ(h.title, "MY?GAME?");
  EXPECT_EQ(h.map_mode, 0x21);
  EXPECT_EQ(h.rom_size_code, 0x0C);
  EXPECT_EQ(h.ram_size_code, 0x03);
  EXPECT_EQ(h.version, 0x02);
  EXPECT_EQ(h.checksum, 0x5A17);
  EXPECT_EQ(h.complement, 0xA5E8);
  EXPECT_EQ(h.reset_vector, 0x8123);
}

TEST(SfcHeaderTest, SizesRefuseCodesPastTheMapOrShortOfTheHeader) {
  struct Case {
    SfcMap map;
    uint8_t code;
    uint32_t size;
  };
  const Case cases[] = {
      {SfcMap::lorom, 4, 0},          {SfcMap::lorom, 5, 0x8000},
      {SfcMap::lorom, 12, 0x400000},  {SfcMap::lorom, 13, 0},
      {SfcMap::hirom, 5, 0},          {SfcMap::hirom, 6, 0x10000},
      {SfcMap::hirom, 12, 0x400000},  {SfcMap::hirom, 13, 0},
      {SfcMap::exhirom, 12, 0},       {SfcMap::exhirom, 13, 0x800000},
      {SfcMap::exhirom, 14, 0},       {SfcMap::lorom, 0xFF, 0},
  };
  for (const auto& c : cases) {
    SfcHeader h{};
    h.rom_size_code = c.code;
    EXPECT_EQ(sfc_rom_size(h, c.map), c.size) << sfc_map_name(c.map) << " code " << int(c.code);
    EXPECT_LE(sfc_rom_size(h, c.map), sfc_map_rom_limit(c.map));
  }
  const std::pair<uint8_t, uint32_t> ram[] = {{0, 0}, {1, 0x800}, {3, 0x2000}, {8, 0x40000},
                                              {9, 0}, {0xFF, 0}};
  for (const auto& [code, size] : ram) {
    SfcHeader h{};
    h.ram_size_code = code;
    EXPECT_EQ(sfc_ram_size(h), size) << "ram code " << int(code);
  }
}

TEST(SfcHeaderTest, BusAddressesAtRunEdges) {
  struct Case {
    SfcMap map;
    uint32_t offset;
    uint32_t bus;
  };
  const Case rom[] = {
      {SfcMap::lorom, 0x000000, 0x008000},   {SfcMap::lorom, 0x007FFF, 0x00FFFF},
      {SfcMap::lorom, 0x008000, 0x018000},   {SfcMap::lorom, 0x3EFFFF, 0x7DFFFF},
      {SfcMap::lorom, 0x3F0000, 0xFE8000},   {SfcMap::lorom, 0x3FFFFF, 0xFFFFFF},
      {SfcMap::hirom, 0x000000, 0xC00000},   {SfcMap::hirom, 0x00FFFF, 0xC0FFFF},
      {SfcMap::hirom, 0x010000, 0xC10000},   {SfcMap::hirom, 0x3FFFFF, 0xFFFFFF},
      {SfcMap::exhirom, 0x3FFFFF, 0xFFFFFF}, {SfcMap::exhirom, 0x400000, 0x400000},
      {SfcMap::exhirom, 0x5FFFFF, 0x5FFFFF},
  };
  for (const auto& c : rom) {
    EXPECT_EQ(sfc_rom_bus_address(c.map, c.offset), c.bus)
        << sfc_map_name(c.map) << " rom " << std::hex << c.offset;
  }
  const Case ram[] = {
      {SfcMap::lorom, 0x0000, 0x700000},   {SfcMap::lorom, 0x7FFF, 0x707FFF},
      {SfcMap::lorom, 0x8000, 0x710000},   {SfcMap::hirom, 0x0000, 0x206000},
      {SfcMap::hirom, 0x1FFF, 0x207FFF},   {SfcMap::hirom, 0x2000, 0x216000},
      {SfcMap::exhirom, 0x3FFFF, 0x3F7FFF},
  };
  for (const auto& c : ram) {
    EXPECT_EQ(sfc_ram_bus_address(c.map, c.offset), c.bus)
        << sfc_map_name(c.map) << " ram " << std::hex << c.offset;
  }
}

// Every run lies contiguous on the bus, runs never overlap, and the header's ROM offset lands
// on the header's bus address.
TEST(SfcHeaderTest, RunsCoverTheMapWithoutOverlapAndHoldTheHeader) {
  for (uint32_t m = 0; m < kSfcMapCount; ++m) {
    const auto map = static_cast<SfcMap>(m);
    const uint32_t run = sfc_rom_run(map);
    std::vector<uint32_t> starts;
    for (uint32_t o = 0; o < sfc_map_rom_limit(map); o += run) {
      const uint32_t start = sfc_rom_bus_address(map, o);
      EXPECT_EQ(sfc_rom_bus_address(map, o + run - 1), start + run - 1)
          << sfc_map_name(map) << " run at " << std::hex << o;
      EXPECT_LT(start + run - 1, 0x1000000U);
      starts.push_back(start);
    }
    std::sort(starts.begin(), starts.end());
    for (size_t i = 1; i < starts.size(); ++i) {
      EXPECT_GE(starts[i], starts[i - 1] + run) << sfc_map_name(map);
    }
    EXPECT_EQ(sfc_rom_bus_address(map, sfc_header_rom_offset(map)), sfc_header_bus_address(map))
        << sfc_map_name(map);
  }
}

uint32_t plain_sum(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 0;
  for (const uint8_t b : bytes) sum += b;
  return sum;
}

std::vector<uint8_t> part(const std::vector<uint8_t>& rom, uint32_t from, uint32_t to) {
  return {rom.begin() + from, rom.begin() + to};
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The expectation is the mirrored image a board shows, built out explicitly and summed.
TEST(SfcHeaderTest, ChecksumRepeatsThePartPastThePowerOfTwo) {
  constexpr uint32_t kMiB = 0x100000;
  const std::vector<uint8_t> rom = noise(6 * kMiB, 99);
  struct Case {
    const char* name;
    uint32_t size;
    std::vector<uint8_t> mirrored;
  };
  const Case cases[] = {
      {"2 MiB", 2 * kMiB, part(rom, 0, 2 * kMiB)},
      {"3 MiB", 3 * kMiB,
       join({part(rom, 0, 2 * kMiB), part(rom, 2 * kMiB, 3 * kMiB), part(rom, 2 * kMiB, 3 * kMiB)})},
      {"1.5 MiB", 3 * kMiB / 2,
       join({part(rom, 0, kMiB), part(rom, kMiB, 3 * kMiB / 2), part(rom, kMiB, 3 * kMiB / 2)})},
      {"2.5 MiB", 5 * kMiB / 2,
       join({part(rom, 0, 2 * kMiB), part(rom, 2 * kMiB, 5 * kMiB / 2),
             part(rom, 2 * kMiB, 5 * kMiB / 2), part(rom, 2 * kMiB, 5 * kMiB / 2),
             part(rom, 2 * kMiB, 5 * kMiB / 2)})},
      // The rest is itself 1.5 MiB: mirrored to 2 MiB, which fills the 2 MiB step once.
      {"3.5 MiB", 7 * kMiB / 2,
       join({part(rom, 0, 2 * kMiB), part(rom, 2 * kMiB, 3 * kMiB),
             part(rom, 3 * kMiB, 7 * kMiB / 2), part(rom, 3 * kMiB, 7 * kMiB / 2)})},
      {"6 MiB", 6 * kMiB,
       join({part(rom, 0, 4 * kMiB), part(rom, 4 * kMiB, 6 * kMiB), part(rom, 4 * kMiB, 6 * kMiB)})},
      {"one byte", 1, part(rom, 0, 1)},
      {"empty", 0, {}},
  };
  for (const auto& c : cases) {
    const uint16_t expected = static_cast<uint16_t>(plain_sum(c.mirrored));
    EXPECT_EQ(sfc_checksum(rom.data(), c.size), expected) << c.name;
    if (c.mirrored.size() != c.size) {
      // The case tells the rule apart from a plain sum.
      EXPECT_NE(static_cast<uint16_t>(plain_sum(part(rom, 0, c.size))), expected) << c.name;
    }
  }
}

}  // namespace
