// WonderSwan footer, iNES header and file names made from cartridge text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/file_name.h"
#include "formats/ines.h"
#include "formats/wsc_footer.h"

namespace {

TEST(WscFooterTest, ParseTakesEachByteAndTheChecksumLittleEndian) {
  uint8_t last16[kWscFooterSize];
  for (uint32_t i = 0; i < kWscFooterSize; ++i) last16[i] = static_cast<uint8_t>(0xE0 + i);
  const WscFooter f = wsc_parse_footer(last16);
  EXPECT_EQ(f.publisher, 0xE6);
  EXPECT_EQ(f.color, 0xE7);
  EXPECT_EQ(f.game_id, 0xE8);
  EXPECT_EQ(f.version, 0xE9);
  EXPECT_EQ(f.rom_size_code, 0xEA);
  EXPECT_EQ(f.save_type, 0xEB);
  EXPECT_EQ(f.flags, 0xEC);
  EXPECT_EQ(f.rtc, 0xED);
  EXPECT_EQ(f.checksum, 0xEFEE);
  EXPECT_STREQ(wsc_extension(f), ".wsc");
  last16[7] = 0xFE;
  EXPECT_STREQ(wsc_extension(wsc_parse_footer(last16)), ".ws");
}

// The sum stops before the last two bytes whatever they hold, wraps at 16 bits, and is empty
// for images of two bytes or fewer.
TEST(WscFooterTest, ChecksumLeavesOutExactlyTheLastTwoBytes) {
  struct Case {
    std::vector<uint8_t> rom;
    uint16_t sum;
  };
  std::vector<uint8_t> wraps(0x102, 0xFF);  // 0x100 bytes of 0xFF counted: 0xFF00
  const Case cases[] = {
      {{}, 0},
      {{0x12}, 0},
      {{0x12, 0x34}, 0},
      {{0x12, 0x34, 0x56}, 0x12},
      {{0x01, 0x02, 0xFF, 0xFF}, 0x03},
      {wraps, 0xFF00},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wsc_checksum(c.rom.data(), static_cast<uint32_t>(c.rom.size())), c.sum)
        << c.rom.size() << " bytes";
  }
  std::vector<uint8_t> big(0x10002 + 0x100, 0x01);  // 0x10100 bytes of 1: wraps to 0x0100
  EXPECT_EQ(wsc_checksum(big.data(), static_cast<uint32_t>(big.size())), 0x0100);
}

TEST(WscFooterTest, SizeAndSaveCodesAtTheirBounds) {
  EXPECT_EQ(wsc_rom_size(0x00), 0x20000U);
  EXPECT_EQ(wsc_rom_size(0x05), 0x300000U);  // 24 Mbit, not a power of two
  EXPECT_EQ(wsc_rom_size(0x09), 0x1000000U);
  EXPECT_EQ(wsc_rom_size(0x0A), 0U);
  EXPECT_EQ(wsc_rom_size(0xFF), 0U);
  struct Case {
    uint8_t type;
    WscSaveKind kind;
    uint32_t size;
  };
  const Case cases[] = {
      {0x00, WscSaveKind::none, 0},        {0x01, WscSaveKind::sram, 0x2000},
      {0x05, WscSaveKind::sram, 0x80000},  {0x06, WscSaveKind::none, 0},
      {0x10, WscSaveKind::eeprom, 128},    {0x20, WscSaveKind::eeprom, 2048},
      {0x50, WscSaveKind::eeprom, 1024},   {0x30, WscSaveKind::none, 0},
      {0xFF, WscSaveKind::none, 0},
  };
  for (const auto& c : cases) {
    const WscSave save = wsc_save(c.type);
    EXPECT_EQ(save.kind, c.kind) << std::hex << int(c.type);
    EXPECT_EQ(save.size, c.size) << std::hex << int(c.type);
  }
}

TEST(InesTest, BuildPlacesMapperNibblesAndFlagsAndParsesBack) {
  const InesHeader cases[] = {
      {0, kInesPrgUnit, 0, NesMirroring::horizontal, false},
      {1, 16 * kInesPrgUnit, 0, NesMirroring::vertical, true},
      {0xA5, 255 * kInesPrgUnit, 255 * kInesChrUnit, NesMirroring::vertical, false},
      {0xFF, 2 * kInesPrgUnit, kInesChrUnit, NesMirroring::horizontal, true},
  };
  for (const auto& c : cases) {
    uint8_t out[kInesHeaderSize];
    ASSERT_TRUE(ines_build_header(c, out)) << c.mapper;
    EXPECT_EQ(std::memcmp(out, "NES\x1A", 4), 0);
    EXPECT_EQ(out[4], c.prg_size / kInesPrgUnit);
    EXPECT_EQ(out[5], c.chr_size / kInesChrUnit);
    EXPECT_EQ(out[6] >> 4, c.mapper & 0x0F);
    EXPECT_EQ(out[7] & 0xF0, c.mapper & 0xF0);
    EXPECT_EQ((out[6] & 1) != 0, c.mirroring == NesMirroring::vertical);
    EXPECT_EQ((out[6] & 2) != 0, c.battery);
    EXPECT_EQ(out[7] & 0x0F, 0);  // a classic header, not NES 2.0
    EXPECT_EQ(ines_prg_offset(out), kInesHeaderSize);
    InesHeader back{};
    ASSERT_TRUE(ines_parse_header(out, kInesHeaderSize, back));
    EXPECT_EQ(back.mapper, c.mapper);
    EXPECT_EQ(back.prg_size, c.prg_size);
    EXPECT_EQ(back.chr_size, c.chr_size);
    EXPECT_EQ(back.mirroring, c.mirroring);
    EXPECT_EQ(back.battery, c.battery);
  }
}

TEST(InesTest, BuildRefusesFieldsTheClassicHeaderCannotHoldAndWritesNothing) {
  const InesHeader cases[] = {
      {256, kInesPrgUnit, 0, NesMirroring::horizontal, false},
      {0, 0, 0, NesMirroring::horizontal, false},
      {0, kInesPrgUnit + 1, 0, NesMirroring::horizontal, false},
      {0, 256 * kInesPrgUnit, 0, NesMirroring::horizontal, false},
      {0, kInesPrgUnit, kInesChrUnit / 2, NesMirroring::horizontal, false},
      {0, kInesPrgUnit, 256 * kInesChrUnit, NesMirroring::horizontal, false},
  };
  for (const auto& c : cases) {
    uint8_t out[kInesHeaderSize];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_FALSE(ines_build_header(c, out)) << c.mapper << " " << c.prg_size << " " << c.chr_size;
    for (const uint8_t b : out) ASSERT_EQ(b, 0xAA);
  }
}

TEST(InesTest, ParseRefusesShortOrForeignInputAndReadsOlderAndNewerForms) {
  uint8_t h[kInesHeaderSize] = {'N', 'E', 'S', 0x1A, 2, 1, 0x41, 0x20};
  InesHeader out{};
  EXPECT_FALSE(ines_parse_header(h, kInesHeaderSize - 1, out));
  EXPECT_FALSE(ines_parse_header(nullptr, kInesHeaderSize, out));
  h[3] = 0x1B;
  EXPECT_FALSE(ines_parse_header(h, kInesHeaderSize, out));
  h[3] = 0x1A;
  ASSERT_TRUE(ines_parse_header(h, kInesHeaderSize, out));
  EXPECT_EQ(out.mapper, 0x24);

  // Text left in bytes 7-15 by an old tool: byte 7 is not a mapper nibble.
  std::memcpy(h + 7, "DiskDude!", 9);
  ASSERT_TRUE(ines_parse_header(h, kInesHeaderSize, out));
  EXPECT_EQ(out.mapper, 4);

  // NES 2.0: mapper bits 8-11 in byte 8, size units' high nibbles in byte 9.
  std::memset(h + 7, 0, 9);
  h[7] = 0x18;
  h[8] = 0x02;
  h[9] = 0x21;
  ASSERT_TRUE(ines_parse_header(h, kInesHeaderSize, out));
  EXPECT_EQ(out.mapper, 0x214);
  EXPECT_EQ(out.prg_size, 0x102 * kInesPrgUnit);
  EXPECT_EQ(out.chr_size, 0x201 * kInesChrUnit);

  // NES 2.0 exponent form: 2^E * (2M + 1) bytes; refused past 32 bits.
  h[9] = 0x0F;
  h[4] = static_cast<uint8_t>((20 << 2) | 1);  // 3 MiB
  ASSERT_TRUE(ines_parse_header(h, kInesHeaderSize, out));
  EXPECT_EQ(out.prg_size, 3U << 20);
  h[4] = static_cast<uint8_t>((31 << 2) | 0);  // 2 GiB fits
  ASSERT_TRUE(ines_parse_header(h, kInesHeaderSize, out));
  EXPECT_EQ(out.prg_size, 1U << 31);
  h[4] = static_cast<uint8_t>((31 << 2) | 1);  // 6 GiB does not
  EXPECT_FALSE(ines_parse_header(h, kInesHeaderSize, out));
  h[4] = static_cast<uint8_t>((63 << 2) | 3);
  EXPECT_FALSE(ines_parse_header(h, kInesHeaderSize, out));

  h[6] |= 0x04;  // a trainer before PRG
  EXPECT_EQ(ines_prg_offset(h), kInesHeaderSize + 512);
}

TEST(FileNameTest, UnsafeTextIsReplacedAndNothingUsableFallsBack) {
  struct Case {
    std::string text;
    std::string name;
  };
  const Case cases[] = {
      {"  SUPER GAME  ", "SUPER GAME"},
      {"a<b>c:d\"e/f\\g|h?i*j", "a_b_c_d_e_f_g_h_i_j"},
      {std::string("tab\there\x7F", 9) + std::string(1, '\0') + "x", "tab_here__x"},
      {"GAME...", "GAME___"},
      {"GAME. .", "GAME. _"},
      {"con", "con_"},
      {"COM1.part", "COM1_.part"},
      {"Lpt9", "Lpt9_"},
      {"CONSOLE", "CONSOLE"},
      {"COM10", "COM10"},
      {"Pok\xC3\xA9mon", "Pok\xC3\xA9mon"},
      {"A\xC3", "A_"},
      {"A\xC0\xAF", "A__"},  // an overlong '/'
      {"A\xED\xA0\x80", "A___"},  // a surrogate
      {"", "cartridge"},
      {"   ", "cartridge"},
      {"???", "cartridge"},
      {"..", "cartridge"},
      {"\xFF\xFE", "cartridge"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(safe_file_name(c.text, "cartridge"), c.name) << c.text;
  }
}

TEST(FileNameTest, LongTextIsCutAtACharacterBoundary) {
  EXPECT_EQ(safe_file_name(std::string(300, 'a'), "x"), std::string(200, 'a'));
  EXPECT_EQ(safe_file_name(std::string(199, 'a') + "\xC3\xA9", "x"), std::string(199, 'a'));
  EXPECT_EQ(safe_file_name(std::string(198, 'a') + "\xC3\xA9", "x"),
            std::string(198, 'a') + "\xC3\xA9");
  // A cut that leaves a space or dot at the end is cleaned like any other end.
  EXPECT_EQ(safe_file_name(std::string(199, 'a') + " b", "x"), std::string(199, 'a'));
  // A device name's '_' still fits within the bound.
  EXPECT_EQ(safe_file_name("NUL." + std::string(300, 'a'), "x"),
            "NUL_." + std::string(195, 'a'));
}

}  // namespace
