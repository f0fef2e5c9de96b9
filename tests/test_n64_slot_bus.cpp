// The n64 slot of read, write and erase over the cartridge bus beyond the ROM window: reads by
// packets, plain word writes outside the window and flash programming inside it, both read
// back; against the retail cartridge's SRAM at 0x08000000 and the flash cartridge's window.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "families/n64.h"
#include "tests/n64_support.h"
#include "virtual_device/n64_cart.h"
#include "virtual_device/n64_rom_cart.h"

namespace n64_test {
namespace {

constexpr uint32_t kSram = 0x08000000;
constexpr uint32_t kSramSize = 0x8000;

class N64Bus : public VirtualDeviceTest {
 protected:
  void identify_as(const std::string& identity) {
    device.config().name = identity;
    device.config().identity = identity;
    device.clear_trace();
  }
  // A retail cartridge with 32 KiB of battery SRAM at 0x08000000 (mask ROM in the window).
  vdev::N64RomCart& insert_retail(const std::string& identity) {
    vdev::N64RomCartConfig config;
    config.rom = pattern_bytes(0x100000, 0x52);
    config.save_type = vdev::N64SaveType::sram;
    config.save = pattern_bytes(kSramSize, 0x3C);
    auto cart = std::make_unique<vdev::N64RomCart>(std::move(config));
    vdev::N64RomCart& ref = *cart;
    device.insert(std::move(cart));
    identify_as(identity);
    return ref;
  }
  // A flash cartridge, its chip erased; open bus outside the window.
  vdev::N64Cart& insert_flash(const std::string& identity) {
    vdev::N64CartConfig config;
    config.chip.size = 0x100000;
    config.rom.assign(0x100000, 0xFF);
    auto cart = std::make_unique<vdev::N64Cart>(std::move(config));
    vdev::N64Cart& ref = *cart;
    device.insert(std::move(cart));
    identify_as(identity);
    return ref;
  }
  int run(const std::vector<std::string>& args) { return run_cli(args, &out, &err); }
  size_t packets_of(uint8_t sub) const {
    size_t n = 0;
    for (const auto& p : sent_packets()) n += p[1] == kFamilyN64 && p[2] == sub;
    return n;
  }

  TempDir folder;
  std::string out, err;
};

TEST_F(N64Bus, ReadsTheSramAtItsPlaceByPackets) {
  for (const char* identity : {"N64_HWRKB_FW319", "N64_HWRKB_FW400"}) {
    SCOPED_TRACE(identity);
    auto& cart = insert_retail(identity);
    const std::string file = folder.path("save.bin");
    ASSERT_EQ(run({"read", "n64", "0x08000000", "32K", file}), 0) << err;
    EXPECT_EQ(read_whole_file(file), cart.save());
    EXPECT_EQ(packets_of(kN64SubRead), 4u);  // 8192 bytes a packet
    EXPECT_TRUE(events(vdev::TraceEvent::Kind::dump_read).empty());
  }
}

// Plain word writes outside the window, the program command inside it; a write that does not
// read back fails naming its address.
TEST_F(N64Bus, WritesPlainOutsideTheWindowAndProgramInsideIt) {
  const auto data = pattern_bytes(1200, 0x77);
  write_whole_file(folder.path("in.bin"), data);
  struct Case {
    const char* name;
    bool retail;
    const char* address;
    int exit;
    size_t plain_packets, program_packets;
    const char* message;
  } cases[] = {
      {"into the SRAM", true, "0x08000100", 0, 3, 0, ""},
      {"into the flash", false, "0x10000100", 0, 0, 3, ""},
      // The disk drive's registers are not there: the bus reads open.
      {"onto the open bus", true, "0x06000000", 1, 3, 0, "the N64 bus at 0x6000000 reads back"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vdev::N64RomCart* retail = c.retail ? &insert_retail("N64_HWRKB_FW400") : nullptr;
    vdev::N64Cart* flash = c.retail ? nullptr : &insert_flash("N64_HWRKB_FW400");
    ASSERT_EQ(run({"write", "n64", c.address, folder.path("in.bin")}), c.exit) << err;
    EXPECT_EQ(packets_of(kN64SubWrite), c.plain_packets);
    EXPECT_EQ(packets_of(kN64SubWrite5), c.program_packets);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    if (c.exit != 0) continue;
    const uint32_t at = static_cast<uint32_t>(std::stoul(c.address, nullptr, 16));
    for (uint32_t i = 0; i < data.size(); ++i) {
      const uint8_t got = retail ? retail->save()[at - kSram + i]
                                 : flash->rom_byte(at - kN64RomBase + i);
      ASSERT_EQ(got, data[i]) << i;
    }
  }
}

// Below the window the SRAM repeats up to 0x0FFFFFFF and takes its half as plain writes; the
// mask ROM in the window takes no program command, which its read-back shows.
TEST_F(N64Bus, WriteAcrossTheWindowsEdgeGoesEachWayOnItsSide) {
  auto& cart = insert_retail("N64_HWRKB_FW400");
  const auto data = pattern_bytes(0x400, 1);
  write_whole_file(folder.path("in.bin"), data);
  EXPECT_EQ(run({"write", "n64", "0x0FFFFE00", folder.path("in.bin")}), 1);
  EXPECT_EQ(packets_of(kN64SubWrite), 2u);
  EXPECT_EQ(packets_of(kN64SubWrite5), 2u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 0x200, cart.save().begin() + 0x7E00));
  EXPECT_NE(err.find("the N64 flash at 0x10000000 reads back"), std::string::npos) << err;
}

TEST_F(N64Bus, BoundsOfTheSlot) {
  insert_flash("N64_HWRKB_FW400");
  const std::string file = folder.path("x.bin");
  write_whole_file(file, {1, 2});
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* message;
  } cases[] = {
      {{"read", "n64", "0x04FFFFFF", "1", file}, 2, "outside slot n64"},
      {{"read", "n64", "0x20000000", "1", file}, 2, "outside slot n64"},
      {{"read", "n64", "0x1FFFFFFF", "2", file}, 2, "past the end"},
      {{"write", "n64", "0x08000001", file}, 2, "multiples of 2"},
      // Sectors live in the window only.
      {{"erase", "n64", "0x08000000"}, 2, "outside the ROM window"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[2]);
    device.clear_trace();
    EXPECT_EQ(run(c.args), c.exit);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(packets_of(kN64SubWrite) + packets_of(kN64SubWrite5), 0u);
  }
}

}  // namespace
}  // namespace n64_test
