// The retail SFC and WSC cartridges of the virtual device: where each bus address lands for
// each board (ROM offset, battery RAM or open bus, at the edges of every run and through the
// mirrors of sizes that are not a power of two), that the family's reads and writes go through
// that map, the flaky byte's read counts, and the options that load a save or refuse one.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "families/sfc.h"
#include "families/wsc.h"
#include "formats/wsc_footer.h"
#include "tests/slot_family_support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/retail.h"
#include "virtual_device/rom_images.h"
#include "virtual_device/sfc_rom_cart.h"
#include "virtual_device/wsc_rom_cart.h"

namespace {

using SfcPlace = vdev::SfcRomCartridge::Place;
using SfcKind = SfcPlace::Kind;
constexpr uint32_t k1M = 0x100000;

SfcPlace rom_at(uint32_t offset) { return {SfcKind::rom, offset}; }
SfcPlace ram_at(uint32_t offset) { return {SfcKind::ram, offset}; }
constexpr SfcPlace kOpen{};

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", v);
  return text;
}

TEST(SfcRomMap, BusAddressesLandWhereRetailBoardsPutThem) {
  struct Case {
    SfcMap map;
    uint32_t rom_size;
    uint32_t ram_size;
    uint32_t address;
    SfcPlace want;
  } cases[] = {
      // LoROM, 1 MiB: 32 KiB halves from $00:8000, repeating past the ROM and at $80-$FF.
      {SfcMap::lorom, k1M, 0x2000, 0x008000, rom_at(0)},
      {SfcMap::lorom, k1M, 0x2000, 0x00FFFF, rom_at(0x7FFF)},
      {SfcMap::lorom, k1M, 0x2000, 0x018000, rom_at(0x8000)},
      {SfcMap::lorom, k1M, 0x2000, 0x1FFFFF, rom_at(0xFFFFF)},
      {SfcMap::lorom, k1M, 0x2000, 0x208000, rom_at(0)},
      {SfcMap::lorom, k1M, 0x2000, 0x808000, rom_at(0)},
      {SfcMap::lorom, k1M, 0x2000, 0x9FFFC0, rom_at(0xFFFC0)},
      {SfcMap::lorom, k1M, 0x2000, 0x708000, rom_at(0x80000)},
      {SfcMap::lorom, k1M, 0x2000, 0xFE8000, rom_at(0xF0000)},
      {SfcMap::lorom, k1M, 0x2000, 0x007FFF, kOpen},
      {SfcMap::lorom, k1M, 0x2000, 0x7E8000, kOpen},
      {SfcMap::lorom, k1M, 0x2000, 0x6F0000, kOpen},
      // LoROM battery RAM: $70-$7D:0000-7FFF, 8 KiB repeating within the window.
      {SfcMap::lorom, k1M, 0x2000, 0x700000, ram_at(0)},
      {SfcMap::lorom, k1M, 0x2000, 0x701FFF, ram_at(0x1FFF)},
      {SfcMap::lorom, k1M, 0x2000, 0x702000, ram_at(0)},
      {SfcMap::lorom, k1M, 0x2000, 0x7D7FFF, ram_at(0x1FFF)},
      {SfcMap::lorom, k1M, 0x2000, 0xF00005, ram_at(5)},
      {SfcMap::lorom, k1M, 0x8000, 0x717FFF, ram_at(0x7FFF)},
      {SfcMap::lorom, k1M, 0, 0x700000, kOpen},
      // LoROM, 3 MiB: the last MiB shows twice to fill 4 MiB.
      {SfcMap::lorom, 3 * k1M, 0, 0x408000, rom_at(0x200000)},
      {SfcMap::lorom, 3 * k1M, 0, 0x5FFFFF, rom_at(0x2FFFFF)},
      {SfcMap::lorom, 3 * k1M, 0, 0x608000, rom_at(0x200000)},
      {SfcMap::lorom, 3 * k1M, 0, 0xFFFFFF, rom_at(0x2FFFFF)},
      // LoROM, 1.5 MiB: the last half MiB twice.
      {SfcMap::lorom, 0x180000, 0, 0x308000, rom_at(0x100000)},
      {SfcMap::lorom, 0x180000, 0, 0x3FFFFF, rom_at(0x17FFFF)},
      {SfcMap::lorom, 0x180000, 0, 0x408000, rom_at(0)},
      // HiROM, 4 MiB: $C0-$FF whole banks, $40-$7D the same, upper halves at $00-$3F/$80-$BF.
      {SfcMap::hirom, 4 * k1M, 0x2000, 0xC00000, rom_at(0)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0xFFFFFF, rom_at(0x3FFFFF)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x400000, rom_at(0)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x7DFFFF, rom_at(0x3DFFFF)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x7E0000, kOpen},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x008000, rom_at(0x8000)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x00FFC0, rom_at(0xFFC0)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x007FFF, kOpen},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x3FFFFF, rom_at(0x3FFFFF)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0xBF8000, rom_at(0x3F8000)},
      // HiROM battery RAM: 8 KiB at $6000-$7FFF of banks $20-$3F (and $A0-$BF).
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x206000, ram_at(0)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x207FFF, ram_at(0x1FFF)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x216000, ram_at(0)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0xA06001, ram_at(1)},
      {SfcMap::hirom, 4 * k1M, 0x8000, 0x237FFF, ram_at(0x7FFF)},
      {SfcMap::hirom, 4 * k1M, 0x8000, 0x246000, ram_at(0)},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x1F6000, kOpen},
      {SfcMap::hirom, 4 * k1M, 0x2000, 0x205FFF, kOpen},
      // HiROM, 3 MiB.
      {SfcMap::hirom, 3 * k1M, 0, 0xF00000, rom_at(0x200000)},
      {SfcMap::hirom, 3 * k1M, 0, 0xEFFFFF, rom_at(0x2FFFFF)},
      // ExHiROM, 6 MiB: the first 4 MiB at $C0-$FF, the rest at $40-$7D (and its halves at
      // $00-$3F, where the CPU finds its vectors).
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0xC00000, rom_at(0)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0xFFFFFF, rom_at(0x3FFFFF)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x400000, rom_at(0x400000)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x40FFC0, rom_at(0x40FFC0)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x00FFC0, rom_at(0x40FFC0)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x5FFFFF, rom_at(0x5FFFFF)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x600000, rom_at(0x400000)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x808000, rom_at(0x8000)},
      {SfcMap::exhirom, 6 * k1M, 0x2000, 0x206000, ram_at(0)},
  };
  vdev::DeviceConfig device;
  for (const auto& c : cases) {
    const char* names[] = {"LoROM", "HiROM", "ExHiROM"};
    SCOPED_TRACE(std::string(names[static_cast<int>(c.map)]) + " " +
                 std::to_string(c.rom_size >> 10) + "K at " + hex(c.address));
    vdev::SfcRomConfig config;
    config.map = c.map;
    config.rom.assign(c.rom_size, 0);
    config.ram.assign(c.ram_size, 0);
    const vdev::SfcRomCartridge cart(device, std::move(config));
    const SfcPlace got = cart.decode(c.address);
    EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(c.want.kind));
    EXPECT_EQ(got.offset, c.want.offset);
  }
}

// The built-in images read through their boards are what the tool's header and footer readers
// expect: each map's header found at its place on the bus with the sizes and a checksum that
// holds, the WSC footer at the top of the space.
TEST(RetailImages, HeadersReadBackThroughTheBoards) {
  struct Case {
    SfcMap map;
    uint32_t rom_size, ram_size;
  } cases[] = {{SfcMap::lorom, k1M, 0x2000},       {SfcMap::lorom, 3 * k1M, 0},
               {SfcMap::hirom, 0x10000, 0x800},    {SfcMap::hirom, 4 * k1M, 0x40000},
               {SfcMap::exhirom, 6 * k1M, 0x8000}, {SfcMap::exhirom, 8 * k1M, 0x2000}};
  vdev::DeviceConfig device;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.map)) + " " + std::to_string(c.rom_size));
    vdev::SfcRomConfig config;
    config.map = c.map;
    config.rom = vdev::make_sfc_image(c.map, c.rom_size, c.ram_size, "A TITLE");
    ASSERT_EQ(config.rom.size(), c.rom_size);
    const auto rom = config.rom;
    vdev::SfcRomCartridge cart(device, std::move(config));
    uint8_t blocks[kSfcMapCount][kSfcHeaderBlock];
    const uint8_t* places[kSfcMapCount];
    for (uint32_t m = 0; m < kSfcMapCount; ++m) {
      const uint32_t at = sfc_header_bus_address(static_cast<SfcMap>(m));
      for (uint32_t i = 0; i < kSfcHeaderBlock; ++i) blocks[m][i] = cart.peek(at + i);
      places[m] = blocks[m];
    }
    const SfcDetection found = sfc_detect(places);
    ASSERT_TRUE(found.found);
    EXPECT_EQ(found.map, c.map);
    EXPECT_STREQ(found.header.title, "A TITLE");
    EXPECT_EQ(sfc_ram_size(found.header), c.ram_size);
    EXPECT_GE(sfc_rom_size(found.header, c.map), c.rom_size);
    EXPECT_EQ(found.header.checksum, sfc_checksum(rom.data(), c.rom_size));
    EXPECT_EQ(found.header.checksum ^ found.header.complement, 0xFFFF);
  }
  for (const auto& save : vdev::wsc_save_types()) {
    SCOPED_TRACE(save.name);
    vdev::WscRomConfig config;
    config.rom = vdev::make_wsc_image(0x40000, save.code, true);
    ASSERT_EQ(config.rom.size(), 0x40000u);
    const auto rom = config.rom;
    const vdev::WscRomCartridge cart(device, std::move(config));
    uint8_t last16[kWscFooterSize];
    for (uint32_t i = 0; i < kWscFooterSize; ++i) last16[i] = cart.peek(0xFFFF0 + i);
    const WscFooter footer = wsc_parse_footer(last16);
    EXPECT_EQ(wsc_rom_size(footer.rom_size_code), 0x40000u);
    EXPECT_EQ(wsc_save(footer.save_type).size, save.size);
    EXPECT_EQ(wsc_save(footer.save_type).kind == WscSaveKind::eeprom, save.eeprom);
    EXPECT_EQ(footer.checksum, wsc_checksum(rom.data(), 0x40000));
  }
}

class RetailCart : public SlotFamilyTest {
 protected:
  // Builds a kind from the registry into the device; false with the message in `error`.
  bool build(const char* kind, const vdev::CartridgeOptions& options) {
    const auto* row = vdev::find_cartridge_kind(kind);
    if (!row) {
      error = std::string("no kind ") + kind;
      return false;
    }
    error.clear();
    return row->build(device, options, error);
  }
  vdev::SfcRomCartridge& sfc() { return *static_cast<vdev::SfcRomCartridge*>(device.cartridge()); }
  vdev::WscRomCartridge& wsc() { return *static_cast<vdev::WscRomCartridge*>(device.cartridge()); }

  void identify_sfc(const std::string& identity) {
    device.config().identity = identity;
    sfc_identify();
  }

  std::string error;
};

// The one SFC slot model carries the retail board's map: window reads in both firmware forms,
// reply reads, writes that reach battery RAM and never the ROM.
TEST_F(RetailCart, SfcFamilyGoesThroughTheBoardsMap) {
  ASSERT_TRUE(build("sfc-hirom", {{"rom-size", "1M"}, {"ram-size", "8K"}})) << error;
  const auto rom = sfc().rom();
  for (const char* identity : {"SFC_HWRKA_FW308", "GEN_HWRKA_FW320"}) {
    SCOPED_TRACE(identity);
    identify_sfc(identity);
    std::vector<uint8_t> got(0x10000);
    sfc_read_block(0xC10000, got.data(), 0x10000);  // window, upper half of the bus
    EXPECT_EQ(got, std::vector<uint8_t>(rom.begin() + 0x10000, rom.begin() + 0x20000));
    sfc_read_block(0x018000, got.data(), 0x8000);  // window, lower half
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 0x8000, rom.begin() + 0x18000));
    std::vector<uint8_t> chunk(3000);
    sfc_long_read_block(0x40FFF0, chunk.data(), 3000);  // reply reads
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), rom.begin() + 0xFFF0));
  }
  const auto data = byte_pattern(0x2000, 9);
  sfc_write_block_480(0x206000, data.data(), 0x2000);
  EXPECT_EQ(sfc().ram(), data);
  sfc_write_byte(0xC00000, static_cast<uint8_t>(~rom[0]));
  sfc_long_write_block(0x408000, data.data(), 600);
  sfc_write_block_496(0xC00100, data.data(), 496);
  EXPECT_EQ(sfc().rom(), rom);
  EXPECT_EQ(sfc_read_byte(0x007FFF), vdev::SfcRomCartridge::kOpenBus);
  expect_all_accepted();
}

// A flaky byte reads wrong on its first READS reads, each wrong read differing from the others,
// whichever mirror and whichever read form reaches it; "always" never repeats a value.
TEST_F(RetailCart, FlakyByteReadsWrongAsOftenAsAsked) {
  struct Case {
    const char* flaky;
    uint32_t wrong_reads;  // UINT32_MAX: always
  } cases[] = {{"0x1234", 1}, {"0x1234:3", 3}, {"4660:8", 8}, {"0x1234:always", UINT32_MAX}};
  constexpr uint32_t kReads = 12;
  // The byte at ROM 0x1234 of a LoROM board: $00:9234, and $80:9234 through the mirror.
  const uint32_t addresses[] = {0x009234, 0x809234};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flaky);
    ASSERT_TRUE(build("sfc-lorom", {{"flaky", c.flaky}})) << error;
    identify_sfc("SFC_HWRKA_FW320");
    const uint8_t truth = sfc().rom()[0x1234];
    std::set<uint8_t> wrong_values;
    for (uint32_t k = 0; k < kReads; ++k) {
      const uint32_t address = addresses[k % 2];
      uint8_t got = 0;
      if (k % 3 == 2) {
        got = sfc_long_read_byte(address);
      } else {
        std::vector<uint8_t> block(0x400);
        sfc_read_block(address & ~0x3FFu, block.data(), 0x400);
        got = block[address & 0x3FF];
      }
      if (k < c.wrong_reads) {
        EXPECT_NE(got, truth) << "read " << k;
        EXPECT_TRUE(wrong_values.insert(got).second) << "read " << k << " repeated a value";
      } else {
        EXPECT_EQ(got, truth) << "read " << k;
      }
    }
    EXPECT_EQ(sfc().flaky()->reads(), kReads);
    EXPECT_EQ(sfc().peek(0x009234), truth);
  }
}

TEST(WscRomMap, TopMappedRomAndTheSramWindow) {
  struct Case {
    uint32_t rom_size;
    uint32_t sram_size;
    uint32_t address;
    bool sram;
    uint32_t offset;
  } cases[] = {
      {0x80000, 0x2000, 0xFFFFF, false, 0x7FFFF},
      {0x80000, 0x2000, 0x80000, false, 0},
      {0x80000, 0x2000, 0x7FFFF, false, 0x7FFFF},
      {0x80000, 0x2000, 0x00000, false, 0},
      {0x80000, 0x2000, 0x0FFFF, false, 0xFFFF},
      {0x80000, 0x2000, 0x20000, false, 0x20000},
      {0x80000, 0x2000, 0x10000, true, 0},
      {0x80000, 0x2000, 0x11FFF, true, 0x1FFF},
      {0x80000, 0x2000, 0x12000, true, 0},
      {0x80000, 0x2000, 0x1FFFF, true, 0x1FFF},
      {k1M, 0x20000, 0x1FFFF, true, 0xFFFF},  // 128 KiB SRAM: its first 64 KiB show
      {k1M, 0, 0x10000, false, 0x10000},      // no SRAM (or an EEPROM save): the ROM shows
      {0xC0000, 0, 0xFFFFF, false, 0xBFFFF},  // 768 KiB: ends at the top, repeats below
      {0xC0000, 0, 0x40000, false, 0},
      {0xC0000, 0, 0x3FFFF, false, 0xBFFFF},
  };
  vdev::DeviceConfig device;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rom_size >> 10) + "K at " + hex(c.address));
    vdev::WscRomConfig config;
    config.rom.assign(c.rom_size, 0);
    config.sram.assign(c.sram_size, 0);
    const vdev::WscRomCartridge cart(device, std::move(config));
    EXPECT_EQ(cart.decode(c.address), (vdev::WscRomCartridge::Place{c.sram, c.offset}));
  }
}

TEST_F(RetailCart, WscFamilyReadsTheRomAndWritesOnlySram) {
  ASSERT_TRUE(build("wsc-rom", {{"rom-size", "512K"}, {"save-type", "sram32k"}})) << error;
  copy_device_key();
  wsc_identify();
  const auto rom = wsc().rom();
  std::vector<uint8_t> top(0x10000);
  wsc_read_rom(0xF0000, top.data(), 0x10000);
  EXPECT_TRUE(std::equal(top.begin(), top.end(), rom.end() - 0x10000));
  const auto data = byte_pattern(1200, 4);
  wsc_write_block(0x10100, data.data(), 1200);
  wsc_write_block_sub12(0x19000, data.data(), 1000);  // enciphered; through the mirror
  wsc_write_word(0x10002, 0xBEEF);
  wsc_write_byte(0xFFFF0, static_cast<uint8_t>(~rom.back()));
  wsc_write_word(0xFFFFE, 0x0000);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), wsc().sram().begin() + 0x100));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 1000, wsc().sram().begin() + 0x1000));
  EXPECT_EQ(wsc().sram()[2], 0xEF);
  EXPECT_EQ(wsc().sram()[3], 0xBE);
  EXPECT_EQ(wsc().rom(), rom);
  std::vector<uint8_t> back(1200);
  wsc_read_block(0x10100, back.data(), 1200);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), wsc().sram().begin() + 0x100));
  expect_all_accepted();
}

// --save loads the save memory of exactly its size; every unusable option is refused with a
// message and nothing inserted.
TEST_F(RetailCart, OptionsLoadTheSaveAndRefuseWhatDoesNotFit) {
  TempDir dir;
  const auto save8k = byte_pattern(0x2000, 1);
  write_whole_file(dir.path("8k.sav"), save8k);
  write_whole_file(dir.path("2k.sav"), byte_pattern(0x800, 2));
  write_whole_file(dir.path("copier.sfc"), byte_pattern(0x40200, 3));
  write_whole_file(dir.path("big.ws"), byte_pattern(2 * k1M, 4));
  write_whole_file(dir.path("hirom.sfc"), vdev::make_sfc_image(SfcMap::hirom, k1M, 0x8000, "T"));
  struct Case {
    const char* kind;
    vdev::CartridgeOptions options;
    const char* refusal;  // a part of the message; nullptr: built
  } cases[] = {
      {"sfc-hirom", {{"save", dir.path("8k.sav")}}, nullptr},
      {"sfc-hirom", {{"save", dir.path("2k.sav")}}, "8192"},
      {"sfc-lorom", {{"ram-size", "0"}, {"save", dir.path("8k.sav")}}, "no save memory"},
      {"sfc-lorom", {{"ram-size", "3K"}}, "power of two"},
      {"sfc-lorom", {{"rom", dir.path("copier.sfc")}}, "copier header"},
      {"sfc-hirom", {{"rom", dir.path("hirom.sfc")}, {"title", "X"}}, "built-in"},
      {"sfc-exhirom", {{"rom-size", "4M"}}, "--rom-size"},
      {"sfc-lorom", {{"flaky", "0x100000"}}, "--flaky"},
      {"sfc-lorom", {{"flaky", "5:0"}}, "--flaky"},
      {"wsc-rom", {{"save-type", "sram8k"}, {"save", dir.path("8k.sav")}}, nullptr},
      {"wsc-rom", {{"save-type", "eeprom2k"}, {"save", dir.path("2k.sav")}}, nullptr},
      {"wsc-rom", {{"save-type", "eeprom1k"}, {"save", dir.path("2k.sav")}}, "1024"},
      {"wsc-rom", {{"save-type", "none"}, {"save", dir.path("2k.sav")}}, "no save memory"},
      {"wsc-rom", {{"save-type", "flash"}}, "--save-type"},
      {"wsc-rom", {{"rom", dir.path("big.ws")}}, "1 MiB"},
      {"wsc-rom", {{"rom-size", "768K"}}, "--rom-size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + (c.refusal ? std::string(" refusing ") + c.refusal : ""));
    device.insert(nullptr);
    const bool built = build(c.kind, c.options);
    EXPECT_EQ(built, c.refusal == nullptr) << error;
    EXPECT_EQ(device.cartridge() != nullptr, built);
    if (c.refusal) {
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
  }
  ASSERT_TRUE(build("sfc-hirom", {{"save", dir.path("8k.sav")}})) << error;
  EXPECT_EQ(sfc().peek(0x206001), save8k[1]);
  EXPECT_EQ(sfc().peek(0x3F7FFF), save8k[0x1FFF]);
  // A ROM file's header gives the battery RAM's size.
  ASSERT_TRUE(build("sfc-hirom", {{"rom", dir.path("hirom.sfc")}})) << error;
  EXPECT_EQ(sfc().ram().size(), 0x8000u);
  ASSERT_TRUE(build("wsc-rom", {{"save-type", "eeprom2k"}, {"save", dir.path("2k.sav")}}));
  EXPECT_EQ(wsc().eeprom(), byte_pattern(0x800, 2));
  EXPECT_TRUE(wsc().sram().empty());
}

}  // namespace
