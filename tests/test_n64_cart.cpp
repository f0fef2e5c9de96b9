// The N64 family against the virtual N64 cartridge: what lands in its flash, page memory and
// probed save memory, reads of the ROM window, and the erase sequences with device time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sleep.h"
#include "tests/n64_support.h"
#include "virtual_device/n64_cart.h"

namespace n64_test {
namespace {

constexpr uint32_t kChip = 0x100000;  // 1 MiB, mirrored through the window

uint32_t g_sleeps = 0;
uint32_t g_slept_ms = 0;
void count_sleep(uint32_t ms) {
  ++g_sleeps;
  g_slept_ms += ms;
}

class N64Cart : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    reset_link();
    g_sleeps = 0;
    g_slept_ms = 0;
    plat_install_sleep(count_sleep);
  }

  void reset_link() {
    reset_program_state();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
    std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
    plat_install_sleep(count_sleep);
  }

  // Inserts a cartridge (erased flash unless `rom` is given) and identifies as `identity`.
  vdev::N64Cart& insert(const std::string& identity, vdev::N64CartConfig config = {}) {
    config.chip.size = kChip;
    if (config.rom.empty()) config.rom.assign(kChip, 0xFF);
    auto cart = std::make_unique<vdev::N64Cart>(std::move(config));
    vdev::N64Cart& ref = *cart;
    device.insert(std::move(cart));
    device.config().identity = identity;
    n64_identify();
    device.clear_trace();
    return ref;
  }

  std::vector<uint8_t> rom(vdev::N64Cart& cart, uint32_t offset, uint32_t length) {
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i) out[i] = cart.rom_byte(offset + i);
    return out;
  }

  // Bus-read packets (sub-command 3) sent so far.
  size_t word_reads() const {
    size_t n = 0;
    for (const auto& f : command_files()) {
      for (size_t at = 0; at + kPacketSize <= f.data.size(); at += kPacketSize) {
        n += f.data[at + 2] == kN64SubRead;
      }
    }
    return n;
  }
};

TEST_F(N64Cart, ProgramWritesLandAsTheRightWords) {
  struct Case {
    const char* identity;
    uint8_t sub;
    uint32_t offset;
    uint32_t length;
  };
  const std::vector<Case> cases = {
      {"N64_HWRKB_FW320", 5, 0x1000, 1000}, {"N64_HWRKB_FW400", 5, 0x1000, 1000},
      {"N64_HWRKB_FW320", 7, 0x2000, 961},  {"N64_HWRKB_FW400", 7, 0x2000, 961},
      {"N64_HWRKB_FW319", 5, 0x0, 7},       {"N64_HWRKB_FW320", 5, 0x10, 1},
      {"N64_HWRKB_FW320", 5, 0x20, 9},      {"N64_HWRKB_FW320", 7, 0x400, 481},
      {"N64_Q3V6_FW400", 5, 0x800, 501},    {"N64_HWRKB_FW", 5, 0x900, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.identity) + " sub " + std::to_string(c.sub) + " length " +
                 std::to_string(c.length));
    reset_link();
    auto& cart = insert(c.identity);
    const auto data = pattern(c.length, static_cast<uint8_t>(c.length));
    const auto before = data;
    auto write = c.sub == 5 ? n64_write_block_sub5 : n64_write_block_sub7;
    EXPECT_TRUE(write(kN64RomBase + c.offset, data.data(), c.length));
    EXPECT_EQ(data, before);
    EXPECT_EQ(rom(cart, c.offset, c.length), data);
    // Nothing beyond the caller's bytes was programmed.
    EXPECT_EQ(cart.rom_byte(c.offset + c.length), 0xFF);
    EXPECT_EQ(cart.refused_packets(), 0u);
  }
}

TEST_F(N64Cart, PlainDataToCipheringFirmwareProgramsWrongWords) {
  auto& cart = insert("N64_HWRKB_FW400");
  device.config().identity = "N64_HWRKB_FW320";  // the device ciphers, the table does not
  const auto data = pattern(64, 1);
  n64_write_block_sub5(kN64RomBase, data.data(), 64);
  EXPECT_NE(rom(cart, 0, 8), std::vector<uint8_t>(data.begin(), data.begin() + 8));
}

TEST_F(N64Cart, RomReadsMatchTheWindowEitherWay) {
  for (const char* identity : {"N64_HWRKB_FW319", "N64_HWRKB_FW320"}) {
    SCOPED_TRACE(identity);
    reset_link();
    vdev::N64CartConfig config;
    config.rom = pattern(kChip, 0x5C);
    auto& cart = insert(identity, config);
    std::vector<uint8_t> out(20000);
    EXPECT_EQ(n64_read_block(kN64RomBase + 0x301, out.data(), 20000), 20000u);
    EXPECT_EQ(out, rom(cart, 0x301, 20000));
    // The last byte of the window (the chip repeats through it) and the word order.
    uint8_t last = 0;
    EXPECT_EQ(n64_read_block(0x13FFFFFF, &last, 1), 1u);
    EXPECT_EQ(last, config.rom[kChip - 1]);
    EXPECT_EQ(n64_read_word(kN64RomBase + 2), config.rom[2] << 8 | config.rom[3]);
  }
}

TEST_F(N64Cart, AddressPacketReachesTheCartridgeBelow320) {
  auto& cart = insert("N64_HWRKB_FW319");
  n64_set_address(0x10ABCDEF);
  EXPECT_EQ(cart.address_register(), 0x10ABCDEFu);
}

TEST_F(N64Cart, SectorEraseFinishingWithinTheLimit) {
  vdev::N64CartConfig config;
  config.rom = pattern(kChip, 3);
  config.chip.erase_polls = 5;
  auto& cart = insert("N64_HWRKB_FW400", config);
  EXPECT_TRUE(n64_erase_sector(kN64RomBase + 0x20000));
  EXPECT_EQ(rom(cart, 0x20000, 4), std::vector<uint8_t>(4, 0xFF));
  EXPECT_EQ(rom(cart, 0x2FFFF, 1), std::vector<uint8_t>(1, 0xFF));  // 64 KiB sectors
  EXPECT_EQ(cart.rom_byte(0x1FFFF), config.rom[0x1FFFF]);           // the sector below stays
  EXPECT_EQ(cart.rom_byte(0x30000), config.rom[0x30000]);           // and the one above
  EXPECT_EQ(cart.flash().erases_started(), 1u);
  EXPECT_LT(g_sleeps, 51u);
  EXPECT_EQ(word_reads(), g_sleeps + 1);
}

TEST_F(N64Cart, SectorEraseThatNeverFinishesGivesUpAfterThe52ndRead) {
  vdev::N64CartConfig config;
  config.chip.erase_never_finishes = true;
  auto& cart = insert("N64_HWRKB_FW320", config);
  EXPECT_FALSE(n64_erase_sector(kN64RomBase));
  EXPECT_EQ(word_reads(), 52u);
  EXPECT_EQ(g_sleeps, 51u);
  EXPECT_EQ(g_slept_ms, 5100u);
  EXPECT_TRUE(cart.flash().busy());
}

TEST_F(N64Cart, ChipEraseErasesTheWholeChip) {
  vdev::N64CartConfig config;
  config.rom = pattern(kChip, 8);
  config.chip.erase_polls = 1;
  auto& cart = insert("N64_HWRKB_FW400", config);
  n64_erase_chip();
  EXPECT_EQ(cart.flash().erases_started(), 1u);
  n64_read_word(kN64RomBase);  // device time passes
  EXPECT_FALSE(cart.flash().busy());
  EXPECT_EQ(rom(cart, 0, 16), std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(rom(cart, kChip - 16, 16), std::vector<uint8_t>(16, 0xFF));
}

TEST_F(N64Cart, PageFormatsFollowTheFirmware) {
  struct Case {
    const char* identity;
    uint32_t address;
    uint32_t length;  // written and read back
  };
  for (const Case c : {Case{"N64_HWRKB_FW320", 0x700, 256}, Case{"N64_HWRKB_FW320", 0x000, 256},
                       Case{"N64_HWRKB_FW400", 0x123, 448}, Case{"N64_Q3XX_FW1", 0x40, 64}}) {
    SCOPED_TRACE(c.identity);
    reset_link();
    auto& cart = insert(c.identity);
    const auto data = pattern(c.length, 0x77);
    EXPECT_TRUE(n64_write_page(c.address, data.data(), c.length));
    const auto& pages = cart.page_memory();
    EXPECT_EQ(std::vector<uint8_t>(pages.begin() + c.address, pages.begin() + c.address + c.length),
              data);
    std::vector<uint8_t> back(c.length);
    const uint32_t got = n64_read_page(c.address, back.data(), c.length);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + got),
              std::vector<uint8_t>(data.begin(), data.begin() + got));
    EXPECT_GE(got, 64u);
  }
}

TEST_F(N64Cart, SaveMemoryRoundTrip) {
  vdev::N64CartConfig config;
  config.selector = 5;
  config.save_id = {1, 2, 3, 4, 5, 6, 7, 8};
  auto& cart = insert("N64_HWRKB_FW400", config);
  uint8_t id[8] = {};
  EXPECT_EQ(n64_probe_memory(id), 5);
  EXPECT_EQ(std::vector<uint8_t>(id, id + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(n64_memory_status(), 1);

  const auto data = pattern(0x8000, 0x33);
  EXPECT_EQ(n64_write_memory(0, data.data(), 0x4000), 0x4000u);
  EXPECT_EQ(n64_write_memory(0x4000, data.data() + 0x4000, 0x4000), 0x4000u);
  EXPECT_EQ(cart.write_starts(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(cart.save_memory().begin(), cart.save_memory().begin() + 0x8000),
            data);
  std::vector<uint8_t> back(0x8000);
  EXPECT_EQ(n64_read_memory(0, back.data(), 0x8000), 0x8000u);
  EXPECT_EQ(back, data);
  EXPECT_EQ(cart.read_starts(), 1u);

  // Below 128 bytes nothing is written.
  const std::vector<uint8_t> small(100, 0);
  EXPECT_EQ(n64_write_memory(0x100, small.data(), 100), 0u);
  EXPECT_EQ(cart.save_memory()[0x100], data[0x100]);
  EXPECT_EQ(cart.refused_packets(), 0u);
}

TEST_F(N64Cart, SaveMemoryRefusesAnotherSelector) {
  auto& cart = insert("N64_HWRKB_FW400");
  g_n64_memory_selector = 4;  // no probe: not the cartridge's selector 3
  std::vector<uint8_t> out(16, 0);
  n64_read_memory(0x10, out.data(), 16);
  EXPECT_EQ(out, std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(n64_memory_status(), 0);
  const auto data = pattern(128, 1);
  n64_write_memory(0x80, data.data(), 128);
  EXPECT_EQ(cart.save_memory()[0x80], 0xFF);
  EXPECT_EQ(cart.refused_packets(), 2u);
}

}  // namespace
}  // namespace n64_test

namespace n64_test {
namespace {

// cartlink-virtual's n64 row: unusable option values are refused with a message, and nothing
// is inserted.
TEST(N64CartOptions, RefusesUnusableValues) {
  TempDir folder;
  write_whole_file(folder.path("big.bin"), std::vector<uint8_t>(0x2001, 0));
  const vdev::CartridgeKind* kind = vdev::find_cartridge_kind("n64");
  ASSERT_NE(kind, nullptr);
  struct Case {
    vdev::CartridgeOptions options;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{{"chip-size", "128M"}}, "at most 64M"},
      {{{"chip-size", "0x1000"}, {"rom", folder.path("big.bin")}}, "too long"},
      {{{"selector", "256"}}, "--selector"},
      {{{"save-id", "0011223344556677AA"}}, "16 hex digits"},
      {{{"save-id", "00112233445566ZZ"}}, "16 hex digits"},
      {{{"save-size", "0"}}, "at least 1 byte"},
      {{{"save-size", "4K"}, {"save", folder.path("big.bin")}}, "too long"},
      {{{"pages", folder.path("missing.bin")}}, "cannot read"},
      {{{"save-ready", "maybe"}}, "yes or no"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    vdev::Device device;
    std::string error;
    EXPECT_FALSE(kind->build(device, c.options, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(device.cartridge(), nullptr);
  }
  // Usable values load the ROM (shown in the window in file order) and the save memory.
  const auto rom = pattern(0x2000, 0x42);
  write_whole_file(folder.path("rom.z64"), rom);
  write_whole_file(folder.path("save.bin"), {9, 8, 7});
  vdev::Device device;
  std::string error;
  ASSERT_TRUE(kind->build(
      device,
      {{"chip-size", "8K"}, {"rom", folder.path("rom.z64")}, {"save", folder.path("save.bin")}},
      error))
      << error;
  std::vector<uint8_t> window(16);
  device.cartridge()->dump(0x2000 - 8, window.data(), 16);  // the chip repeats in the window
  EXPECT_EQ(std::vector<uint8_t>(window.begin(), window.begin() + 8),
            std::vector<uint8_t>(rom.end() - 8, rom.end()));
  EXPECT_EQ(std::vector<uint8_t>(window.begin() + 8, window.end()),
            std::vector<uint8_t>(rom.begin(), rom.begin() + 8));
  auto memories = device.cartridge()->memories();
  ASSERT_EQ(memories.size(), 3u);
  EXPECT_EQ(*memories[0].bytes, rom);
  EXPECT_EQ(std::vector<uint8_t>(memories[2].bytes->begin(), memories[2].bytes->begin() + 4),
            (std::vector<uint8_t>{9, 8, 7, 0xFF}));
}

}  // namespace
}  // namespace n64_test
