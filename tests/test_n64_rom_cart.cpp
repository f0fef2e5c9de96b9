// The retail N64 cartridge through the N64 family: the ROM window past the image's end, the
// SRAM's decoding, the flash save's command protocol, the EEPROM behind the probed memory, the
// flaky byte's read counts, and the refusals of cartlink-virtual's n64-rom row.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/n64_header.h"
#include "tests/n64_support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/n64_rom_cart.h"
#include "virtual_device/n64_rom_image.h"

namespace n64_test {
namespace {

constexpr uint32_t kSave = 0x08000000;
constexpr uint32_t kFlashCommand = 0x08010000;

class N64RomCartTest : public N64Test {
 protected:
  // Replaces the answering cartridge by a retail one and identifies as `identity`.
  vdev::N64RomCart& insert(vdev::N64RomCartConfig config,
                           const std::string& identity = "N64_HWRKB_FW400") {
    if (config.rom.empty()) config.rom = pattern_bytes(0x10000, 0x21);
    auto cart = std::make_unique<vdev::N64RomCart>(std::move(config));
    vdev::N64RomCart& ref = *cart;
    device.insert(std::move(cart));
    identify_as(identity);
    return ref;
  }

  static std::vector<uint8_t> read(uint32_t address, uint32_t length) {
    std::vector<uint8_t> out(length, 0xEE);
    EXPECT_EQ(n64_read_block(address, out.data(), length), length);
    return out;
  }

  // One 32-bit flash save command as two word writes, high word first.
  static void flash_command(uint32_t command) {
    n64_write_word(kFlashCommand, static_cast<uint16_t>(command >> 16));
    n64_write_word(kFlashCommand + 2, static_cast<uint16_t>(command));
  }

  // Status reads until the ready bit shows; returns the busy reads.
  // Status reads showing `busy_bit` before it clears.
  static uint32_t busy_reads(uint16_t busy_bit) {
    uint32_t busy = 0;
    while ((n64_read_word(kSave + 2) & busy_bit) != 0 && busy < 100) ++busy;
    return busy;
  }
  static uint8_t status_byte() { return static_cast<uint8_t>(n64_read_word(kSave + 2)); }
};

// The image's last word and the next one, through "DUMP.ROM" (firmware 400) and through bus
// packets (319), for an image whose end is not on a 64 KiB boundary.
TEST_F(N64RomCartTest, PastTheEndMirrorsOrShowsTheOpenBus) {
  constexpr uint32_t kSize = 0x12344;
  const auto rom = pattern_bytes(kSize, 0x5A);
  struct Case {
    const char* identity;
    bool open_bus;
    std::vector<uint8_t> next;
  };
  const std::vector<Case> cases = {
      {"N64_HWRKB_FW400", false, {rom[0], rom[1], rom[2], rom[3]}},
      {"N64_HWRKB_FW319", false, {rom[0], rom[1], rom[2], rom[3]}},
      {"N64_HWRKB_FW400", true, {0x23, 0x44, 0x23, 0x46}},
      {"N64_HWRKB_FW319", true, {0x23, 0x44, 0x23, 0x46}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.identity) + (c.open_bus ? " open bus" : " mirror"));
    reset_link();
    vdev::N64RomCartConfig config;
    config.rom = rom;
    config.open_bus_past_end = c.open_bus;
    insert(config, c.identity);
    const auto got = read(kN64RomBase + kSize - 2, 6);
    EXPECT_EQ(got[0], rom[kSize - 2]);
    EXPECT_EQ(got[1], rom[kSize - 1]);
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + 2, got.end()), c.next);
    // Far past the end: a mirror repeats the image, the open bus its address.
    const uint32_t far = 3 * kSize + 0x100;
    EXPECT_EQ(n64_read_word(kN64RomBase + far),
              c.open_bus ? (far & 0xFFFF) : (rom[0x100] << 8 | rom[0x101]));
  }
}

TEST_F(N64RomCartTest, SramDecodesItsBanksAndNothingAbove) {
  struct Case {
    vdev::N64SaveType type;
    uint32_t address;
    int offset;  // where the word lands, -1: nowhere
    uint32_t mirror;  // another address that reads the same cells
  };
  const std::vector<Case> cases = {
      {vdev::N64SaveType::sram, 0x08000010, 0x10, 0x08008010},
      {vdev::N64SaveType::sram, 0x08017FFE, 0x7FFE, 0x08007FFE},
      {vdev::N64SaveType::sram96k, 0x08040010, 0x8010, 0x08048010},
      {vdev::N64SaveType::sram96k, 0x08080010, 0x10010, 0x08180010},
      {vdev::N64SaveType::sram96k, 0x08000010, 0x10, 0x08038010},
      {vdev::N64SaveType::sram96k, 0x080C0010, -1, 0x080C0010},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    reset_link();
    vdev::N64RomCartConfig config;
    config.save_type = c.type;
    auto& cart = insert(config);
    n64_write_word(c.address, 0xA55A);
    const auto& save = cart.save();
    size_t changed = 0;
    for (const uint8_t b : save) changed += b != 0;
    if (c.offset < 0) {
      EXPECT_EQ(changed, 0u);
      EXPECT_EQ(n64_read_word(c.mirror), c.mirror & 0xFFFF);  // open bus: no chip there
      continue;
    }
    EXPECT_EQ(changed, 2u);
    EXPECT_EQ(save[static_cast<size_t>(c.offset)], 0xA5);
    EXPECT_EQ(save[static_cast<size_t>(c.offset) + 1], 0x5A);
    EXPECT_EQ(n64_read_word(c.mirror), 0xA55A);
  }
}

TEST_F(N64RomCartTest, SramTakesBlockWritesAndPacketReads) {
  vdev::N64RomCartConfig config;
  config.save_type = vdev::N64SaveType::sram96k;
  auto& cart = insert(config);
  const auto data = pattern_bytes(1001, 9);
  EXPECT_TRUE(n64_write_block(0x08047F00, data.data(), 1001));
  // The write runs over the bank's end and wraps to its start (A15 is not decoded).
  EXPECT_EQ(std::vector<uint8_t>(cart.save().begin() + 0xFF00, cart.save().begin() + 0x10000),
            std::vector<uint8_t>(data.begin(), data.begin() + 0x100));
  EXPECT_EQ(cart.save()[0x8000 + 1000 - 0x100], data[1000]);
  EXPECT_EQ(read(0x08047F00, 1001), data);
}

TEST_F(N64RomCartTest, FlashSaveIdentifiesErasesAndProgramsThroughItsCommands) {
  vdev::N64RomCartConfig config;
  config.save_type = vdev::N64SaveType::flash;
  config.save = pattern_bytes(0x20000, 0x3C);
  config.flash_busy_polls = 3;
  const auto before = config.save;
  auto& cart = insert(config);
  auto& cells = cart.save();

  // Read-array mode at start; identification mode shows the identifier and maker/type words.
  EXPECT_EQ(read(kSave + 0x10000, 16), std::vector<uint8_t>(before.begin() + 0x10000,
                                                            before.begin() + 0x10010));
  flash_command(0xE1000000);
  EXPECT_EQ(read(kSave, 8), (std::vector<uint8_t>{0x11, 0x11, 0x80, 0x01, 0x00, 0xC2, 0x00, 0x1E}));

  // Status mode does not start what was set up: only 0x78 starts an erase.
  flash_command(0x4B000000 | 130);
  flash_command(0xD2000000);
  EXPECT_FALSE(cart.flash_save()->busy());
  EXPECT_EQ(cells, before);

  // Sector erase of the sector holding page 130 (16 KiB at 0x4000): erase-busy for its polls,
  // then erase-done until a write to the array in status mode clears it.
  flash_command(0x4B000000 | 130);
  flash_command(0x78000000);
  EXPECT_EQ(busy_reads(0x02), 3u);
  EXPECT_EQ(status_byte(), 0x08);
  flash_command(0xF0000000);
  EXPECT_EQ(read(kSave + 0x4000, 0x4000), std::vector<uint8_t>(0x4000, 0xFF));
  EXPECT_EQ(cells[0x3FFF], before[0x3FFF]);
  EXPECT_EQ(cells[0x8000], before[0x8000]);

  // Programming page 5 from the buffer only clears bits; the page number starts it.
  const auto data = pattern_bytes(128, 0xC3);
  flash_command(0xB4000000);
  EXPECT_TRUE(n64_write_block(kSave, data.data(), 128));
  flash_command(0xA5000000 | 5);
  EXPECT_EQ(busy_reads(0x01), 3u);
  EXPECT_EQ(status_byte(), 0x04);
  const uint8_t zero[4] = {};
  EXPECT_TRUE(n64_write_block(kSave, zero, 4));
  EXPECT_EQ(status_byte(), 0x00);
  flash_command(0xF0000000);
  std::vector<uint8_t> expected(128);
  for (uint32_t i = 0; i < 128; ++i) expected[i] = before[5 * 128 + i] & data[i];
  EXPECT_EQ(read(kSave + 5 * 128, 128), expected);
  EXPECT_EQ(cells[6 * 128], before[6 * 128]);

  // Unknown commands, half a command, a program outside page-buffer mode and commands while
  // busy change nothing.
  const auto kept = cells;
  flash_command(0x12345678);
  n64_write_word(kFlashCommand + 2, 0);
  flash_command(0xA5000000 | 7);
  flash_command(0x3C000000);
  flash_command(0x78000000);
  flash_command(0x4B000000);  // ignored: the chip erase runs
  EXPECT_EQ(cart.flash_save()->ignored_commands(), 4u);
  EXPECT_EQ(cells, kept);  // nothing before the erase is done
  EXPECT_EQ(busy_reads(0x02), 3u);
  flash_command(0xF0000000);
  EXPECT_EQ(read(kSave + 0x1FFF0, 16), std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(cells, std::vector<uint8_t>(0x20000, 0xFF));
}

TEST_F(N64RomCartTest, EepromBehindTheProbedMemory) {
  struct Case {
    vdev::N64SaveType type;
    uint8_t selector;
    std::vector<uint8_t> id;
    uint32_t size;
  };
  const std::vector<Case> cases = {
      {vdev::N64SaveType::eeprom4k, 1, {0x00, 0x80, 0x00, 0, 0, 0, 0, 0}, 512},
      {vdev::N64SaveType::eeprom16k, 1, {0x00, 0xC0, 0x00, 0, 0, 0, 0, 0}, 2048},
      {vdev::N64SaveType::sram, 0, std::vector<uint8_t>(8, 0xFF), 0},
      {vdev::N64SaveType::none, 0, std::vector<uint8_t>(8, 0xFF), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    reset_link();
    vdev::N64RomCartConfig config;
    config.save_type = c.type;
    auto& cart = insert(config);
    std::vector<uint8_t> id(8);
    EXPECT_EQ(n64_probe_memory(id.data()), c.selector);
    EXPECT_EQ(id, c.id);
    EXPECT_EQ(n64_memory_status(), c.size ? 1 : 0);
    const auto data = pattern_bytes(2048, 0x4D);
    n64_write_memory(0, data.data(), c.size ? c.size : 2048);
    std::vector<uint8_t> back(2048);
    EXPECT_EQ(n64_read_memory(0, back.data(), 2048), 2048u);
    if (c.size == 0) {
      EXPECT_EQ(back, std::vector<uint8_t>(2048, 0xFF));
      continue;
    }
    const std::vector<uint8_t> stored(data.begin(), data.begin() + c.size);
    EXPECT_EQ(cart.save(), stored);
    // A 4 Kbit chip repeats through the 16 Kbit range.
    for (uint32_t i = 0; i < 2048; ++i) ASSERT_EQ(back[i], stored[i % c.size]) << i;
  }
}

TEST_F(N64RomCartTest, FlakyByteCountsItsReads) {
  constexpr uint32_t kSize = 0x10000;
  constexpr uint32_t kAt = 0x1235;
  const auto rom = pattern_bytes(kSize, 0x11);
  struct Case {
    vdev::N64Flaky flaky;
    std::vector<uint8_t> flips;  // what each read xors in
  };
  const std::vector<Case> cases = {
      {{kAt, 1, false}, {0x01, 0, 0}},
      {{kAt, 3, false}, {0x01, 0x02, 0x04, 0, 0}},
      {{kAt, 1, true}, {0x01, 0x02, 0x03, 0x04, 0x05}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flips.size());
    reset_link();
    vdev::N64RomCartConfig config;
    config.rom = rom;
    config.flaky = c.flaky;
    auto& cart = insert(config);
    for (size_t k = 0; k < c.flips.size(); ++k) {
      SCOPED_TRACE(k);
      // Window reads, bus packets and reads of a mirror all count.
      uint8_t got = 0;
      if (k % 3 == 0) {
        got = read(kN64RomBase + kAt - 0x35, 0x40)[0x35];
      } else if (k % 3 == 1) {
        got = static_cast<uint8_t>(n64_read_word(kN64RomBase + 2 * kSize + (kAt & ~1u)));
      } else {
        got = read(kN64RomBase + kSize + kAt, 1)[0];
      }
      EXPECT_EQ(got, rom[kAt] ^ c.flips[k]);
    }
    EXPECT_EQ(cart.flaky_reads(), c.flips.size());
    EXPECT_EQ(read(kN64RomBase + kAt + 1, 4), std::vector<uint8_t>(rom.begin() + kAt + 1,
                                                                   rom.begin() + kAt + 5));
  }
}

// cartlink-virtual's n64-rom row refuses what it cannot use, and loads what it can.
TEST(N64RomCartOptions, RefusesUnusableValuesAndLoadsFiles) {
  TempDir folder;
  write_whole_file(folder.path("20k.sav"), std::vector<uint8_t>(20 * 1024, 0));
  write_whole_file(folder.path("512.sav"), std::vector<uint8_t>(512, 0));
  write_whole_file(folder.path("odd.v64"), {0x37, 0x80, 0x40, 0x12, 0, 0});
  const vdev::CartridgeKind* kind = vdev::find_cartridge_kind("n64-rom");
  ASSERT_NE(kind, nullptr);
  struct Case {
    vdev::CartridgeOptions options;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{{"save-type", "sram"}, {"save", folder.path("20k.sav")}}, "must be 32768 bytes"},
      {{{"save-type", "eeprom16k"}, {"save", folder.path("512.sav")}}, "must be 2048 bytes"},
      {{{"save", folder.path("512.sav")}}, "needs a --save-type"},
      {{{"save-type", "eeprom"}}, "--save-type"},
      {{{"rom", folder.path("odd.v64")}}, "whole number of 32-bit words"},
      {{{"rom", folder.path("512.sav")}, {"title", "X"}}, "not go with --rom"},
      {{{"rom-size", "0x1002"}}, "multiple of 4"},
      {{{"rom-size", "65M"}}, "--rom-size"},
      {{{"title", "A TITLE OF TWENTY ONE"}}, "up to 20"},
      {{{"game-code", "NCL"}}, "4 printable"},
      {{{"boot-chip", "6104"}}, "6106"},
      {{{"past-end", "zero"}}, "mirror or open-bus"},
      {{{"rom-size", "64K"}, {"flaky", "0x10000"}}, "inside the ROM"},
      {{{"flaky", "16:0"}}, "--flaky"},
      {{{"flaky", "16:sometimes"}}, "--flaky"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    vdev::Device device;
    std::string error;
    EXPECT_FALSE(kind->build(device, c.options, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(device.cartridge(), nullptr);
  }

  // A .v64 image shows in .z64 order; the save loads and is what unmount saves.
  auto z64 = pattern_bytes(0x1000, 0x61);
  z64[0] = 0x80, z64[1] = 0x37, z64[2] = 0x12, z64[3] = 0x40;
  auto v64 = z64;
  for (size_t i = 0; i < v64.size(); i += 2) std::swap(v64[i], v64[i + 1]);
  write_whole_file(folder.path("game.v64"), v64);
  const auto save = pattern_bytes(512, 0x19);
  write_whole_file(folder.path("game.eep"), save);
  vdev::Device device;
  std::string error;
  ASSERT_TRUE(kind->build(device,
                          {{"rom", folder.path("game.v64")},
                           {"save-type", "eeprom4k"},
                           {"save", folder.path("game.eep")}},
                          error))
      << error;
  std::vector<uint8_t> window(0x1000);
  device.cartridge()->dump(0, window.data(), 0x1000);
  EXPECT_EQ(window, z64);
  const auto memories = device.cartridge()->memories();
  ASSERT_EQ(memories.size(), 1u);
  EXPECT_EQ(memories[0].name, "save");
  EXPECT_EQ(*memories[0].bytes, save);
}

}  // namespace
}  // namespace n64_test

namespace n64_test {
namespace {

// The built-in image carries the header the options give and the CRC pair of the boot chip
// they name, as the header reader and the CRC check of the cartridge formats find them.
TEST(N64RomImage, HeaderAndCrcPairAsTheFormatsReadThem) {
  struct Case {
    const char* chip_name;
    N64BootChip chip;
  };
  for (const Case c : {Case{"6102", N64BootChip::cic6102}, Case{"6105", N64BootChip::cic6105}}) {
    SCOPED_TRACE(c.chip_name);
    vdev::Device device;
    std::string error;
    ASSERT_TRUE(vdev::find_cartridge_kind("n64-rom")->build(
        device,
        {{"rom-size", "0x101000"}, {"title", "ROUND TRIP"}, {"game-code", "NRTP"},
         {"version", "2"}, {"boot-chip", c.chip_name}},
        error))
        << error;
    std::vector<uint8_t> image(kN64CrcEnd);
    device.cartridge()->dump(0, image.data(), kN64CrcEnd);
    const N64Header header = n64_parse_header(image.data());
    EXPECT_TRUE(n64_header_plausible(header));
    EXPECT_STREQ(header.title, "ROUND TRIP");
    EXPECT_STREQ(header.game_code, "NRTP");
    EXPECT_EQ(header.version, 2);
    uint32_t crc1 = 0;
    uint32_t crc2 = 0;
    ASSERT_TRUE(n64_compute_crc(image.data(), kN64CrcEnd, c.chip, crc1, crc2));
    EXPECT_EQ(header.crc1, crc1);
    EXPECT_EQ(header.crc2, crc2);
    EXPECT_TRUE(n64_check_crc(image.data(), kN64CrcEnd, header).matched);
    // One changed byte in the covered span no longer matches.
    image[kN64CrcEnd - 1] ^= 1;
    EXPECT_FALSE(n64_check_crc(image.data(), kN64CrcEnd, header).matched);
  }
}

}  // namespace
}  // namespace n64_test
