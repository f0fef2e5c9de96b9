// The flash chip model every flash board carries: if it behaved unlike a real chip, every flash
// job test built on it would prove nothing.
#include <gtest/gtest.h>

#include "virtual_device/flash_chip.h"

namespace {

using vdev::FlashChip;
using vdev::FlashChipConfig;

// Byte-mode command cycles at the low 12 address bits, from any bank.
void cycles(FlashChip& chip, std::initializer_list<std::pair<uint32_t, uint8_t>> writes) {
  for (auto [offset, value] : writes) chip.write(offset, value);
}

void sector_erase(FlashChip& chip, uint32_t sector_offset) {
  cycles(chip, {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x80}, {0xAAA, 0xAA}, {0x555, 0x55},
                {sector_offset, 0x30}});
}

void program(FlashChip& chip, uint32_t offset, uint8_t value) {
  cycles(chip, {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0xA0}, {offset, value}});
}

TEST(FlashChip, ProgramsOnlyClearBitsAndDecodesUnlockOnLowTwelveBits) {
  FlashChip chip({.size = 0x20000});
  // Unlock cycles through a bank: offset 0x12AAA still decodes as 0xAAA.
  cycles(chip, {{0x12AAA, 0xAA}, {0x13555, 0x55}, {0x10AAA, 0xA0}, {0x100, 0xF0}});
  program(chip, 0x100, 0x3C);
  EXPECT_EQ(chip.read(0x100), 0x30);  // 0xF0 & 0x3C
  // A wrong second unlock address breaks the sequence: nothing is programmed.
  cycles(chip, {{0xAAA, 0xAA}, {0xAAA, 0x55}, {0xAAA, 0xA0}, {0x200, 0x00}});
  EXPECT_EQ(chip.read(0x200), 0xFF);
}

TEST(FlashChip, EraseReadsBusyForItsPollsThenErasesOnlyItsSector) {
  FlashChip chip({.size = 0x40000, .erase_polls = 3});
  program(chip, 0x10010, 0x00);
  program(chip, 0x20010, 0x00);
  sector_erase(chip, 0x10AAA);
  for (int poll = 0; poll < 3; ++poll) {
    EXPECT_NE(chip.read(0x10000), 0xFF) << poll;
    chip.tick();
  }
  EXPECT_EQ(chip.read(0x10010), 0xFF);
  EXPECT_EQ(chip.read(0x20010), 0x00);  // the next sector kept its byte
}

TEST(FlashChip, SectorGeometryComesFromItsTable) {
  struct Case {
    FlashChipConfig config;
    uint32_t offset, first, size;
  } cases[] = {
      {{.size = 0x80000}, 0x12345, 0x10000, 0x10000},
      {{.size = 0x1000000}, 0x12345, 0x00000, 0x20000},  // above 8 MiB: 128 KiB sectors
      {{.size = 0x40000, .sectors = {0x4000, 0x2000, 0x2000, 0x8000, 0x10000}}, 0x5000, 0x4000,
       0x2000},
      {{.size = 0x40000, .sectors = {0x4000, 0x2000, 0x2000, 0x8000, 0x10000}}, 0x31000, 0x30000,
       0x10000},
  };
  for (const auto& c : cases) {
    FlashChip chip(c.config);
    EXPECT_EQ(chip.sector_at(c.offset), std::make_pair(c.first, c.size)) << std::hex << c.offset;
  }
}

TEST(FlashChip, ProtectedChipIgnoresEraseUntilClearingSequence) {
  FlashChip chip({.size = 0x20000, .id = {0x01, 0x7E}, .protect = true, .erase_polls = 0});
  chip.bytes()[0] = 0x00;  // programmed before the chip was protected
  cycles(chip, {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x90}});
  EXPECT_EQ(chip.read(0), 0x01);
  EXPECT_EQ(chip.read(2), 0x7E);
  EXPECT_EQ(chip.read(4), 0x01);  // protection state
  chip.write(0, 0xF0);
  sector_erase(chip, 0);
  EXPECT_EQ(chip.read(0), 0x00);
  cycles(chip, {{0x555, 0xF0}, {0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0xC0}, {0, 0x80}, {0, 0x30},
                {0, 0x90}, {0, 0x00}, {0x555, 0xF0}});
  EXPECT_FALSE(chip.is_protected());
  sector_erase(chip, 0);
  EXPECT_EQ(chip.read(0), 0xFF);
}

// A protected chip takes no program cycles either: a job that forgot to clear the protection
// must not find its data on the chip. Once cleared, the same cycles program.
TEST(FlashChip, ProtectedChipIgnoresProgramUntilCleared) {
  struct Case {
    const char* name;
    bool word_mode;
    bool clear_first;
    uint16_t expected;  // the word (or byte) at offset 0x10 afterwards
  } cases[] = {
      {"byte mode, protected", false, false, 0xFF},
      {"byte mode, cleared", false, true, 0x5A},
      {"word mode, protected", true, false, 0xFFFF},
      {"word mode, cleared", true, true, 0x1234},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlashChip chip({.size = 0x10000, .word_mode = c.word_mode, .protect = true});
    if (c.word_mode) {
      const std::pair<uint32_t, uint16_t> clear[] = {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xC0},
                                                     {0, 0x80},     {0, 0x30},     {0, 0x90},
                                                     {0, 0x00},     {0, 0xF0}};
      if (c.clear_first) {
        for (auto [word, value] : clear) chip.write_word(word, value);
      }
      for (auto [word, value] : {std::pair<uint32_t, uint16_t>{0x555, 0xAA},
                                 {0x2AA, 0x55},
                                 {0x555, 0xA0},
                                 {0x10, 0x1234}}) {
        chip.write_word(word, value);
      }
      EXPECT_EQ(chip.read_word(0x10), c.expected);
    } else {
      if (c.clear_first) {
        cycles(chip, {{0xAAA, 0xAA},
                      {0x555, 0x55},
                      {0xAAA, 0xC0},
                      {0, 0x80},
                      {0, 0x30},
                      {0, 0x90},
                      {0, 0x00},
                      {0, 0xF0}});
      }
      program(chip, 0x10, 0x5A);
      EXPECT_EQ(chip.read(0x10), c.expected);
    }
    EXPECT_EQ(chip.is_protected(), !c.clear_first);
  }
}

TEST(FlashChip, CfiAndWordModeAndFaults) {
  FlashChip chip({.size = 0x200000});
  chip.write(0xAA, 0x98);
  EXPECT_EQ(chip.read(0x20), 'Q');
  EXPECT_EQ(chip.read(0x4E), 21);  // 2 MiB
  chip.write(0xAA, 0xF0);

  FlashChip word({.size = 0x10000, .word_mode = true});
  for (uint16_t data : {uint16_t{0x00AA}, uint16_t{0xAAAA}}) {  // low-half and doubled words
    word.write_word(0x555, data);
    word.write_word(0x2AA, static_cast<uint16_t>(data == 0xAA ? 0x55 : 0x5555));
    word.write_word(0x555, static_cast<uint16_t>(data == 0xAA ? 0xA0 : 0xA0A0));
    word.write_word(0x10, 0x1234);
    EXPECT_EQ(word.read_word(0x10), 0x1234);
  }

  FlashChip stuck({.size = 0x10000, .stuck = vdev::StuckBit{0x40, 0x01, 0x00}});
  EXPECT_EQ(stuck.read(0x40), 0xFE);
  FlashChip worn({.size = 0x10000, .erase_polls = 0, .erase_never_finishes = true});
  sector_erase(worn, 0);
  for (int i = 0; i < 100; ++i) worn.tick();
  EXPECT_TRUE(worn.busy());
}

}  // namespace
