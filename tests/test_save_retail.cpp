// backup-save and restore-save for the retail SFC, WSC and NES cartridges: each board's save
// found at its place and size, a restore round trip with the previous save kept, the saves
// the slots cannot reach refused, and read-back failures that keep the backup.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/sfc_header.h"
#include "tests/support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/rom_images.h"
#include "virtual_device/sfc_rom_cart.h"

namespace {

class SaveRetail : public VirtualDeviceTest {
 protected:
  // Builds a cartridge kind of cartlink-virtual with `options` (and --save from `save`).
  void build(const char* kind, vdev::CartridgeOptions options, const std::string& identity,
             const std::vector<uint8_t>& save) {
    reset_program_state();
    device.clear_trace();
    device.insert(nullptr);  // one cartridge at a time: the slots share the window
    device.insert_nes(nullptr);
    if (!save.empty()) {
      write_whole_file(folder.path("loaded.sav"), save);
      options["save"] = folder.path("loaded.sav");
    }
    device.config().name = identity;
    device.config().identity = identity;
    std::string error;
    const auto* row = vdev::find_cartridge_kind(kind);
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(row->build(device, options, error)) << error;
  }

  std::vector<uint8_t>& memory(const std::string& name) {
    for (auto& m : device.memories()) {
      if (m.name == name) return *m.bytes;
    }
    static std::vector<uint8_t> none;
    return none;
  }

  int run(const std::vector<std::string>& args) {
    out.clear();
    err.clear();
    return run_cli(args, &out, &err);
  }

  TempDir folder;
  std::string out, err;
};

struct BoardCase {
  const char* name;
  const char* kind;
  vdev::CartridgeOptions options;
  const char* identity;
  std::vector<std::string> words;  // slot and options
  const char* memory;
  uint32_t size;
  const char* place;  // part of the "Save:" line
};

const std::vector<BoardCase> kBoards = {
    {"LoROM 8 KiB", "sfc-lorom", {{"ram-size", "8K"}}, "SFC_HWRKA_FW320", {"sfc"}, "sram", 0x2000,
     "$70:0000"},
    {"LoROM 64 KiB, two banks, level 308", "sfc-lorom", {{"ram-size", "64K"}}, "SFC_HWRKA_FW308",
     {"sfc"}, "sram", 0x10000, "$70:0000"},
    {"HiROM 32 KiB", "sfc-hirom", {{"ram-size", "32K"}}, "SFC_HWRKA_FW320", {"sfc"}, "sram",
     0x8000, "$20:6000"},
    {"ExHiROM 8 KiB", "sfc-exhirom", {{"ram-size", "8K"}}, "SFC_HWRKA_FW320", {"sfc"}, "sram",
     0x2000, "$20:6000"},
    {"WSC 8 KiB", "wsc-rom", {{"save-type", "sram8k"}}, "WSC_HWRKA_FW400", {"wsc"}, "sram",
     0x2000, "0x10000"},
    {"WSC 32 KiB", "wsc-rom", {{"save-type", "sram32k"}}, "WSC_HWRKA_FW400", {"wsc"}, "sram",
     0x8000, "0x10000"},
    {"MMC1", "nes-mmc1", {}, "NES_HWRKA_FW403", {"nes", "--mapper", "1"}, "wram", 0x2000,
     "$6000"},
    // Its CHR registers' bit 4, set at power-on, disables the work RAM too.
    {"MMC1 SNROM", "nes-mmc1", {{"chr-size", "0"}}, "NES_HWRKA_FW403", {"nes", "--mapper", "1"},
     "wram", 0x2000, "$6000"},
    {"MMC3, old firmware", "nes-mmc3", {}, "NES_HWRKA_FW300", {"nes", "--mapper", "4"}, "wram",
     0x2000, "$6000"},
};

std::vector<std::string> job(const char* name, const BoardCase& b, const std::string& file) {
  std::vector<std::string> words = {name, b.words[0], file};
  words.insert(words.end(), b.words.begin() + 1, b.words.end());
  return words;
}

TEST_F(SaveRetail, EachBoardsSaveBackedUpAndRestored) {
  for (const auto& b : kBoards) {
    SCOPED_TRACE(b.name);
    const auto old = pattern_bytes(b.size, 0x11);
    build(b.kind, b.options, b.identity, old);
    const std::string backup = folder.path(std::string(b.name) + ".bak");
    ASSERT_EQ(run(job("backup-save", b, backup)), 0) << err;
    EXPECT_EQ(read_whole_file(backup), old);
    EXPECT_NE(out.find(b.place), std::string::npos) << out;
    EXPECT_EQ(memory(b.memory), old);
    EXPECT_EQ(err.find("warning"), std::string::npos) << err;

    const auto edited = pattern_bytes(b.size, 0x22);
    const std::string infile = folder.path(std::string(b.name) + ".sav");
    write_whole_file(infile, edited);
    ASSERT_EQ(run(job("restore-save", b, infile)), 0) << err;
    EXPECT_EQ(memory(b.memory), edited);
    const auto kept = folder.files_with(std::string(b.name) + ".before-restore-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(read_whole_file(kept[0]), old);
  }
}

TEST_F(SaveRetail, SavesOutOfReachOrAbsentAreRefused) {
  struct Case {
    const char* name;
    const char* kind;
    vdev::CartridgeOptions options;
    const char* identity;
    std::vector<std::string> words;
    int exit;
    bool sends;
    const char* message;
  };
  // SA-1 boards keep their battery RAM behind the chip: told by the map mode or the type.
  const auto sa1 = [&](const char* name, uint8_t map_mode, uint8_t type) {
    auto rom = vdev::make_sfc_image(SfcMap::lorom, 0x80000, 0x2000, "SA1 GAME");
    uint8_t* h = rom.data() + 0x7FC0;
    h[0x15] = map_mode;
    h[0x16] = type;
    h[0x1C] = h[0x1D] = 0xFF;
    h[0x1E] = h[0x1F] = 0x00;
    const uint16_t sum = sfc_checksum(rom.data(), static_cast<uint32_t>(rom.size()));
    h[0x1C] = static_cast<uint8_t>(~sum);
    h[0x1D] = static_cast<uint8_t>(~sum >> 8);
    h[0x1E] = static_cast<uint8_t>(sum);
    h[0x1F] = static_cast<uint8_t>(sum >> 8);
    write_whole_file(folder.path(name), rom);
    return vdev::CartridgeOptions{{"rom", folder.path(name)}, {"ram-size", "8K"}};
  };
  const std::vector<Case> cases = {
      {"SFC SA-1 by map mode", "sfc-lorom", sa1("sa1a.sfc", 0x23, 0x02), "SFC_HWRKA_FW320",
       {"sfc"}, 1, true, "SA-1 cartridge (map mode 0x23"},
      {"SFC SA-1 by type", "sfc-lorom", sa1("sa1b.sfc", 0x20, 0x35), "SFC_HWRKA_FW320", {"sfc"},
       1, true, "cartridge type 0x35"},
      {"SFC without battery RAM", "sfc-lorom", {{"ram-size", "0"}}, "SFC_HWRKA_FW320", {"sfc"}, 1,
       true, "names no battery RAM"},
      {"WSC EEPROM", "wsc-rom", {{"save-type", "eeprom2k"}}, "WSC_HWRKA_FW400", {"wsc"}, 1, true,
       "cannot drive"},
      {"WSC 128 KiB SRAM", "wsc-rom", {{"save-type", "sram128k"}}, "WSC_HWRKA_FW400", {"wsc"}, 1,
       true, "port 0xC1"},
      {"NES board without known enable", "nes-uxrom", {}, "NES_HWRKA_FW403",
       {"nes", "--mapper", "2"}, 2, false, "--mapper"},
      {"NES board not named", "nes-mmc1", {}, "NES_HWRKA_FW403", {"nes"}, 2, false, "--mapper"},
      {"--save-type for sfc", "sfc-lorom", {}, "SFC_HWRKA_FW320", {"sfc", "--save-type", "sram"},
       2, false, "--save-type"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    build(c.kind, c.options, c.identity, {});
    const std::string file = folder.path(std::string(c.name) + ".sav");
    std::vector<std::string> words = {"backup-save", c.words[0], file};
    words.insert(words.end(), c.words.begin() + 1, c.words.end());
    EXPECT_EQ(run(words), c.exit) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(!command_files().empty(), c.sends);
    EXPECT_TRUE(read_whole_file(file).empty());
  }
}

// A save read every byte alike is kept, with a warning that names the likely cause.
TEST_F(SaveRetail, ASaveReadAllAlikeIsKeptWithAWarning) {
  struct Case {
    const char* name;
    const char* kind;
    vdev::CartridgeOptions options;
    const char* identity;
    std::vector<std::string> words;
    std::vector<uint8_t> save;  // what the cartridge holds
    std::vector<uint8_t> read;  // what the backup holds
    const char* warning;        // "" for none
  };
  auto one_differs = std::vector<uint8_t>(0x2000, 0xFF);
  one_differs[0x1FFF] = 0xFE;
  const std::vector<Case> cases = {
      {"MMC3 named MMC1", "nes-mmc3", {}, "NES_HWRKA_FW403", {"nes", "--mapper", "1"},
       pattern_bytes(0x2000, 4), std::vector<uint8_t>(0x2000, 0xFF), "0xFF: the save may be "
       "blank, or the RAM did not answer (the wrong --mapper"},
      {"blank SFC RAM", "sfc-lorom", {{"ram-size", "8K"}}, "SFC_HWRKA_FW320", {"sfc"},
       std::vector<uint8_t>(0x2000, 0x00), std::vector<uint8_t>(0x2000, 0x00), "read 0x00"},
      {"last byte differs", "nes-mmc3", {}, "NES_HWRKA_FW403", {"nes", "--mapper", "4"},
       one_differs, one_differs, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    build(c.kind, c.options, c.identity, c.save);
    const std::string file = folder.path(std::string(c.name) + ".sav");
    std::vector<std::string> words = {"backup-save", c.words[0], file};
    words.insert(words.end(), c.words.begin() + 1, c.words.end());
    ASSERT_EQ(run(words), 0) << err;
    EXPECT_EQ(read_whole_file(file), c.read);
    if (*c.warning) {
      EXPECT_NE(err.find(c.warning), std::string::npos) << err;
      EXPECT_NE(err.find("may be blank"), std::string::npos) << err;
    } else {
      EXPECT_EQ(err.find("warning"), std::string::npos) << err;
    }
  }
}

// A battery RAM cell that holds its value whatever is written (a stuck cell).
class StuckSfc : public vdev::SfcRomCartridge {
 public:
  using SfcRomCartridge::SfcRomCartridge;
  void write(uint32_t address, uint8_t value) override {
    if (address != 0x701234) SfcRomCartridge::write(address, value);
  }
};

TEST_F(SaveRetail, ReadBackFailuresNameTheAddressAndKeepTheBackup) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"stuck SFC cell", {"sfc"}, "at $70:1234 where"},
      // MMC1's enable on an MMC3 board: the work RAM stays off, reads open bus, takes nothing.
      {"MMC3 named MMC1", {"nes", "--mapper", "1"}, "at $6000 where"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> old;
    if (c.words[0] == "sfc") {
      reset_program_state();
      vdev::SfcRomConfig config;
      config.map = SfcMap::lorom;
      config.rom = vdev::make_sfc_image(SfcMap::lorom, 0x80000, 0x8000, "STUCK");
      old = pattern_bytes(0x8000, 3);
      config.ram = old;
      device.config().name = device.config().identity = "SFC_HWRKA_FW320";
      device.insert_nes(nullptr);
      device.insert(std::make_unique<StuckSfc>(device.config(), std::move(config)));
    } else {
      build("nes-mmc3", {}, "NES_HWRKA_FW403", pattern_bytes(0x2000, 3));
      old = std::vector<uint8_t>(0x2000, 0xFF);  // what the disabled RAM shows
    }
    const std::string infile = folder.path(std::string(c.name) + ".sav");
    write_whole_file(infile, pattern_bytes(old.size(), 9));
    std::vector<std::string> words = {"restore-save", c.words[0], infile};
    words.insert(words.end(), c.words.begin() + 1, c.words.end());
    EXPECT_EQ(run(words), 1);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    const auto kept = folder.files_with(std::string(c.name) + ".before-restore-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(read_whole_file(kept[0]), old);
    EXPECT_NE(err.find(kept[0]), std::string::npos) << err;
  }
}

}  // namespace
