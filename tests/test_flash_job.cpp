// cartlink-run flash against the in-process virtual SFC, N64 and WSC flash cartridges: what
// ends up on the chip (the image, and the sectors past it untouched), what is refused before
// anything is erased, what a dry run sends (nothing), and how a faulty chip is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/sleep.h"
#include "tests/support.h"
#include "virtual_device/n64_cart.h"
#include "virtual_device/rom_images.h"
#include "virtual_device/sfc_cart.h"
#include "virtual_device/wsc_cart.h"

namespace {

constexpr uint32_t K = 1024;

uint32_t g_pauses = 0;
void count_pause(uint32_t) { ++g_pauses; }

enum class Slot { sfc, n64, wsc };

struct Cart {
  Slot slot;
  vdev::Cartridge* cartridge;
  // The chip's bytes as the bus shows them from its first address.
  std::vector<uint8_t> chip() const {
    if (slot == Slot::sfc) return static_cast<vdev::SfcCartridge*>(cartridge)->flash().bytes();
    if (slot == Slot::wsc) return static_cast<vdev::WscCartridge*>(cartridge)->flash().bytes();
    auto* n64 = static_cast<vdev::N64Cart*>(cartridge);
    std::vector<uint8_t> out(n64->flash().bytes().size());
    for (uint32_t i = 0; i < out.size(); ++i) out[i] = n64->rom_byte(i);
    return out;
  }
  vdev::FlashChip& flash() const {
    if (slot == Slot::sfc) return static_cast<vdev::SfcCartridge*>(cartridge)->flash();
    if (slot == Slot::wsc) return static_cast<vdev::WscCartridge*>(cartridge)->flash();
    return static_cast<vdev::N64Cart*>(cartridge)->flash();
  }
};

const char* slot_name(Slot slot) { return slot == Slot::sfc ? "sfc" : slot == Slot::n64 ? "n64" : "wsc"; }

class FlashJob : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    g_pauses = 0;
    plat_install_sleep(count_pause);
  }
  void TearDown() override {
    plat_install_sleep(nullptr);
    VirtualDeviceTest::TearDown();
  }

  // A flash cartridge of `slot` whose chip holds a pattern (the old game).
  Cart insert(Slot slot, const std::string& identity, vdev::FlashChipConfig chip) {
    device.config().name = identity;
    device.config().identity = identity;
    old_game = pattern_bytes(chip.size, 0x5B);
    std::unique_ptr<vdev::Cartridge> cart;
    if (slot == Slot::sfc) {
      vdev::SfcCartConfig config;
      config.flash = chip;
      config.rom = old_game;
      cart = std::make_unique<vdev::SfcCartridge>(device.config(), config);
    } else if (slot == Slot::wsc) {
      vdev::WscCartConfig config;
      chip.word_mode = true;
      config.flash = chip;
      config.rom = old_game;
      cart = std::make_unique<vdev::WscCartridge>(device.config(), config);
    } else {
      vdev::N64CartConfig config;
      chip.word_mode = true;
      chip.id = {0x0001, 0x227E};
      config.chip = chip;
      config.rom = old_game;
      cart = std::make_unique<vdev::N64Cart>(config);
    }
    Cart out{slot, cart.get()};
    device.insert(std::move(cart));
    return out;
  }

  int run(std::vector<std::string> args) {
    out.clear();
    err.clear();
    return run_cli(args, &out, &err);
  }

  size_t packet_files(uint8_t family, uint8_t sub) const {
    size_t n = 0;
    for (const auto& file : command_files()) {
      n += file.data.size() >= kPacketSize && file.data[1] == family && file.data[2] == sub;
    }
    return n;
  }
  size_t window_reads_of(uint32_t count) const {
    size_t n = 0;
    for (const auto& e : events(vdev::TraceEvent::Kind::dump_read)) n += e.count == count;
    return n;
  }

  TempDir folder;
  std::vector<uint8_t> old_game;
  std::string out, err;
};

struct SlotCase {
  Slot slot;
  const char* identity;
  uint8_t family, program_sub;
};
const SlotCase kSlots[] = {
    {Slot::sfc, "GEN_HWRKA_FW320", 15, 7},
    {Slot::n64, "N64_HWRKB_FW320", 16, 5},  // program packets enciphered
    {Slot::wsc, "WSC_HWRKA_FW310", 10, 10},  // protected writes enciphered
    {Slot::wsc, "WSC_HWRKA_FW400", 10, 10},  // and in plain
};

// The image lands (a WSC image at the chip's top, where the console starts); the rest of the
// sectors it covers is erased; every sector outside them keeps the old game. One program
// command file per sector and one read-back of each.
TEST_F(FlashJob, FlashesEachSlotOntoItsChip) {
  constexpr uint32_t kChip = 512 * K;
  for (const auto& c : kSlots) {
    for (const uint32_t size : {3 * 64 * K, 3 * 64 * K + 100}) {
      SCOPED_TRACE(std::string(c.identity) + " " + std::to_string(size));
      const Cart cart = insert(c.slot, c.identity, {.size = kChip});
      const auto image = pattern_bytes(size, 0x11);
      write_whole_file(folder.path("game.bin"), image);
      device.clear_trace();
      ASSERT_EQ(run({"flash", slot_name(c.slot), folder.path("game.bin")}), 0) << err;
      EXPECT_NE(out.find("Flashed and verified " + std::to_string(size) + " bytes"),
                std::string::npos)
          << out;
      const auto chip = cart.chip();
      const uint32_t covered = (size + 64 * K - 1) / (64 * K) * 64 * K;
      // The image's bytes, and the covered sectors' span, from the chip's first byte.
      const bool top = c.slot == Slot::wsc;
      const uint32_t at = top ? kChip - size : 0;
      const uint32_t from = top ? kChip - covered : 0;
      const uint32_t to = from + covered;
      EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin() + at));
      const auto erased = [](uint8_t b) { return b == 0xFF; };
      EXPECT_TRUE(std::all_of(chip.begin() + from, chip.begin() + at, erased));
      EXPECT_TRUE(std::all_of(chip.begin() + at + size, chip.begin() + to, erased));
      EXPECT_TRUE(std::equal(chip.begin(), chip.begin() + from, old_game.begin()));
      EXPECT_TRUE(std::equal(chip.begin() + to, chip.end(), old_game.begin() + to));
      EXPECT_EQ(cart.flash().erases_started(), covered / (64 * K));
      EXPECT_EQ(packet_files(c.family, c.program_sub), covered / (64 * K));
      EXPECT_EQ(window_reads_of(64 * K), covered / (64 * K));
      expect_all_accepted();
    }
  }
}

// A boot-sector chip erases its own sectors: the top-boot chip's small sectors are found in
// its CFI answer, and those past the image keep the old game.
TEST_F(FlashJob, ErasesTheSectorsOfABootSectorChip) {
  const vdev::FlashChipConfig top_boot{
      .size = 512 * K,
      .sectors = {64 * K, 64 * K, 64 * K, 64 * K, 64 * K, 64 * K, 64 * K, 32 * K, 8 * K, 8 * K,
                  16 * K}};
  struct Case {
    std::vector<std::string> extra;
    uint32_t image, erased_to, erases;
  } cases[] = {
      {{}, 480 * K, 480 * K, 8},
      {{}, 480 * K + 1, 488 * K, 9},
      {{"--chip-erase"}, 480 * K + 1, 512 * K, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    const Cart cart = insert(Slot::sfc, "SFC_HWRKA_FW308", top_boot);
    const auto image = pattern_bytes(c.image, 0x21);
    write_whole_file(folder.path("game.sfc"), image);
    std::vector<std::string> args = {"flash", "sfc", folder.path("game.sfc")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(run(args), 0) << err;
    const auto chip = cart.chip();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));
    EXPECT_TRUE(std::all_of(chip.begin() + c.image, chip.begin() + c.erased_to,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(chip.begin() + c.erased_to, chip.end(),
                           old_game.begin() + c.erased_to));
    EXPECT_EQ(cart.flash().erases_started(), c.erases);
  }
}

TEST_F(FlashJob, ImageLargerThanTheChipIsRefusedWithNothingErased) {
  struct Case {
    const char* name;
    Slot slot;
    uint32_t chip, image;
    std::vector<std::string> extra;
    bool device_opened;
    const char* message;
  } cases[] = {
      {"--chip-size", Slot::sfc, 512 * K, 512 * K + 1, {"--chip-size", "512K"}, false,
       "larger than the sfc chip (512 KiB, --chip-size)"},
      {"the chip's own size", Slot::sfc, 512 * K, 512 * K + 1, {}, true,
       "larger than the sfc chip (512 KiB, as the chip reports)"},
      {"the chip's own size", Slot::n64, 256 * K, 256 * K + 2, {}, true,
       "larger than the n64 chip (256 KiB, as the chip reports)"},
      {"--chip-size smaller than the chip", Slot::wsc, 512 * K, 256 * K + 1,
       {"--chip-size", "256K"}, false, "larger than the wsc chip (256 KiB, --chip-size)"},
      {"more than the slot reaches", Slot::wsc, 1024 * K, 1024 * K + 1, {}, false,
       "larger than any chip the wsc slot reaches (1 MiB)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Cart cart = insert(c.slot, "N64_HWRKB_FW400", {.size = c.chip});
    write_whole_file(folder.path("big.bin"), pattern_bytes(c.image, 3));
    device.clear_trace();
    std::vector<std::string> args = {"flash", slot_name(c.slot), folder.path("big.bin")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(run(args), 2);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_NE(err.find("nothing was"), std::string::npos) << err;
    EXPECT_EQ(!device.trace().empty(), c.device_opened);
    EXPECT_EQ(cart.flash().erases_started(), 0u);
    EXPECT_EQ(cart.chip(), std::vector<uint8_t>(old_game.begin(), old_game.begin() + c.chip));
  }
}

TEST_F(FlashJob, DryRunSendsNothingAndShowsThePlan) {
  struct Case {
    Slot slot;
    std::vector<std::string> extra;
    uint32_t image;
    std::vector<const char*> lines;
  } cases[] = {
      {Slot::sfc, {"--dry-run"}, 64 * K + 1,
       {"assumed 8 MiB (the most the slot reaches) with uniform 64 KiB sectors",
        "Erase: 2 sectors", "  0x0-0x1FFFF  2 x 64 KiB\n", "133 packets of up to 496 bytes",
        "Verify: each of the 2 sectors"}},
      {Slot::n64, {"--dry-run", "--chip-size", "32M"}, 3 * 128 * K,
       {"assumed 32 MiB (--chip-size) with uniform 128 KiB sectors",
        "  0x10000000-0x1005FFFF  3 x 128 KiB\n"}},
      {Slot::wsc, {"--chip-erase", "--dry-run"}, 1000,
       {"Image: ", ", 1000 bytes, at 0xFFC18-0xFFFFF (ending at the chip's top",
        "Erase: the whole chip (--chip-erase)", "  0xFFC18-0xFFFFF  1 x 1000 bytes, 2 packets"}},
      {Slot::wsc, {"--dry-run", "--chip-size", "512K"}, 64 * K + 1,
       {"at 0x6FFFF-0x7FFFF (ending at", "Erase: 2 sectors", "  0x60000-0x7FFFF  2 x 64 KiB\n",
        "  0x6FFFF-0x6FFFF  1 x 1 bytes, 1 packets of",
        "  0x70000-0x7FFFF  1 x 64 KiB, 132 packets"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(slot_name(c.slot));
    const Cart cart = insert(c.slot, "N64_HWRKB_FW400", {.size = 512 * K});
    write_whole_file(folder.path("game.bin"), pattern_bytes(c.image, 5));
    device.clear_trace();
    std::vector<std::string> args = {"flash", slot_name(c.slot), folder.path("game.bin")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(run(args), 0) << err;
    EXPECT_TRUE(device.trace().empty());
    EXPECT_EQ(out.find("Device:"), std::string::npos) << out;
    for (const char* line : c.lines) EXPECT_NE(out.find(line), std::string::npos) << out;
    EXPECT_EQ(cart.chip(), std::vector<uint8_t>(old_game.begin(), old_game.end()));
  }
}

// A chip that does not take the image ends with exit 1 and names the first address at fault.
TEST_F(FlashJob, ChipFaultsNameTheFirstBadAddress) {
  struct Case {
    const char* name;
    Slot slot;
    vdev::FlashChipConfig chip;
    const char* message;
  } cases[] = {
      {"stuck bit", Slot::sfc, {.size = 512 * K, .stuck = vdev::StuckBit{0x12345, 0x80, 0x00}},
       "the sfc flash at 0x12345 (image offset 0x12345) reads back"},
      // The chip keeps words little-endian: chip byte 0x2001 is bus byte 0x2000.
      {"stuck bit", Slot::n64, {.size = 512 * K, .stuck = vdev::StuckBit{0x2001, 0x01, 0x01}},
       "the n64 flash at 0x10002000 (image offset 0x2000) reads back"},
      // The 300 KiB image ends at the chip's top: it starts at 0x35000.
      {"stuck bit", Slot::wsc, {.size = 512 * K, .stuck = vdev::StuckBit{0x40010, 0xFF, 0x00}},
       "the wsc flash at 0x40010 (image offset 0xB010) reads back 0x00"},
      {"protected", Slot::sfc, {.size = 512 * K, .protect = true},
       "the sfc flash at 0x0 did not read back erased (the chip reports protected sectors)"},
      {"protected", Slot::n64, {.size = 512 * K, .protect = true},
       "the n64 flash at 0x10000000 did not read back erased"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + slot_name(c.slot));
    const Cart cart = insert(c.slot, "N64_HWRKB_FW400", c.chip);
    // Every bit the faults hold at their value differs from it in the image.
    auto image = pattern_bytes(300 * K, 9);
    if (c.chip.stuck) {
      const uint32_t at = c.slot == Slot::n64   ? c.chip.stuck->offset ^ 1
                          : c.slot == Slot::wsc ? c.chip.stuck->offset - (c.chip.size - 300 * K)
                                                : c.chip.stuck->offset;
      image[at] = static_cast<uint8_t>(~c.chip.stuck->value);
    }
    write_whole_file(folder.path("game.bin"), image);
    EXPECT_EQ(run({"flash", slot_name(c.slot), folder.path("game.bin")}), 1);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    if (c.chip.protect) {
      EXPECT_EQ(cart.chip(), old_game);
    }
  }
}

// N64 images come in three byte orders; the chip gets the bus order (.z64) whichever it is.
TEST_F(FlashJob, N64ImagesArePutIntoTheBusOrder) {
  auto z64 = pattern_bytes(100 * K, 0x44);
  const uint8_t header[4] = {0x80, 0x37, 0x12, 0x40};
  std::copy(header, header + 4, z64.begin());
  struct Case {
    const char* name;
    int order;  // 0 as is, 1 byte pairs swapped, 2 words reversed
    size_t size;
    int exit;
    const char* note;
  } cases[] = {
      {".z64", 0, z64.size(), 0, "Byte order: .z64, the bus order."},
      {".v64", 1, z64.size(), 0, "Byte order: .v64 (byte pairs swapped), put into the bus order"},
      {".n64", 2, z64.size(), 0, "Byte order: .n64 (words little-endian), put into the bus"},
      {".z64 of an odd length", 0, z64.size() - 1, 0, "The last word is filled with 0xFF."},
      {".v64 cut short of a word", 1, z64.size() - 2, 2, "is not whole 32-bit words"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file(z64.begin(), z64.begin() + static_cast<long>(c.size));
    for (size_t i = 0; i + 3 < file.size(); i += 4) {
      if (c.order == 1) {
        std::swap(file[i], file[i + 1]);
        std::swap(file[i + 2], file[i + 3]);
      } else if (c.order == 2) {
        std::reverse(file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(i) + 4);
      }
    }
    write_whole_file(folder.path("game.rom"), file);
    const Cart cart = insert(Slot::n64, "N64_HWRKB_FW400", {.size = 512 * K});
    device.clear_trace();
    EXPECT_EQ(run({"flash", "n64", folder.path("game.rom")}), c.exit);
    EXPECT_NE((c.exit ? err : out).find(c.note), std::string::npos) << out << err;
    const auto chip = cart.chip();
    if (c.exit != 0) {
      EXPECT_TRUE(device.trace().empty());
      continue;
    }
    EXPECT_TRUE(std::equal(z64.begin(), z64.begin() + static_cast<long>(c.size), chip.begin()));
    EXPECT_EQ(chip[c.size], 0xFF);
  }
}

// Without a CFI answer the sectors are unknown: --chip-size is asked for before anything is
// erased, and given, uniform sectors of the usual size are used.
TEST_F(FlashJob, ChipWithoutCfiNeedsItsSize) {
  const auto image = pattern_bytes(70 * K, 1);
  write_whole_file(folder.path("game.ws"), image);
  Cart cart = insert(Slot::wsc, "WSC_HWRKA_FW400", {.size = 512 * K, .cfi = false});
  EXPECT_EQ(run({"flash", "wsc", folder.path("game.ws")}), 2);
  EXPECT_NE(err.find("did not answer its CFI query, so its size and sectors are unknown: give "
                     "--chip-size; nothing was erased"),
            std::string::npos)
      << err;
  EXPECT_EQ(cart.flash().erases_started(), 0u);

  cart = insert(Slot::wsc, "WSC_HWRKA_FW400", {.size = 512 * K, .cfi = false});
  ASSERT_EQ(run({"flash", "wsc", folder.path("game.ws"), "--chip-size", "512K"}), 0) << err;
  EXPECT_NE(out.find("uniform 64 KiB sectors assumed"), std::string::npos) << out;
  // At the top: 70 KiB from 442 KiB, in the last two sectors.
  const auto chip = cart.chip();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin() + 442 * K));
  EXPECT_TRUE(std::equal(chip.begin(), chip.begin() + 384 * K, old_game.begin()));
}

// A WonderSwan starts from the top of its space and finds its footer there: a game smaller
// than the chip that held another one is what `dump wsc` finds after the flash.
TEST_F(FlashJob, AWscGameSmallerThanTheChipIsWhatTheTopHolds) {
  struct Case {
    const char* name;
    uint32_t chip, image;
  } cases[] = {
      {"512 KiB game on a 1 MiB chip", 1024 * K, 512 * K},
      {"128 KiB game on a 512 KiB chip, which repeats up the space", 512 * K, 128 * K},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Cart cart = insert(Slot::wsc, "WSC_HWRKA_FW400", {.size = c.chip});
    const auto image = vdev::make_wsc_image(c.image, 0x00, true);
    ASSERT_EQ(image.size(), c.image);
    write_whole_file(folder.path("game.wsc"), image);
    ASSERT_EQ(run({"flash", "wsc", folder.path("game.wsc")}), 0) << err;
    const auto chip = cart.chip();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.end() - c.image));
    ASSERT_EQ(run({"dump", "wsc", folder.path("back.wsc")}), 0) << out << err;
    EXPECT_EQ(read_whole_file(folder.path("back.wsc")), image);
    EXPECT_NE(out.find("Verified: by the internal checksum"), std::string::npos) << out;
    std::remove(folder.path("back.wsc").c_str());
  }
}

TEST_F(FlashJob, UnusableWordsAreRefusedBeforeTheDeviceIsOpened) {
  write_whole_file(folder.path("game.bin"), pattern_bytes(1000, 1));
  const std::string file = folder.path("game.bin");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"flash", "nes-cpu", file}, "give sfc, n64 or wsc"},
      {{"flash", "sfc"}, "usage: flash"},
      {{"flash", "sfc", file, "--chip-size", "3M"}, "give a power of two from 4K"},
      {{"flash", "wsc", file, "--chip-size", "2M"}, "to the wsc slot's 1 MiB"},
      {{"flash", "sfc", file, "--verify-only"}, "unknown option"},
      {{"flash", "sfc", folder.path("missing.bin")}, "cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(run(c.args), 2);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(device.trace().empty());
  }
}

}  // namespace
