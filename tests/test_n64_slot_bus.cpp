// The n64 slot of read, write and erase over the cartridge bus beyond the ROM window: reads by
// packets, plain word writes outside the window and flash programming inside it, both read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "families/n64.h"
#include "tests/n64_support.h"
#include "virtual_device/n64_cart.h"

namespace n64_test {
namespace {

constexpr uint32_t kSram = 0x08000000;
constexpr uint32_t kSramSize = 0x8000;

// The virtual N64 flash cartridge with 32 KiB of SRAM at 0x08000000, where retail boards keep
// their save SRAM: bus reads (3) and plain writes (4) there reach the RAM, every other packet
// goes to the flash cartridge, which shows open bus outside its window.
class SramN64 : public vdev::Cartridge {
 public:
  explicit SramN64(vdev::N64CartConfig config) : flash_cart(std::move(config)) {}
  bool takes(uint8_t family) const override { return flash_cart.takes(family); }
  void carry_out(const uint8_t* p, vdev::SlotHost& host) override {
    const uint32_t address = le32(p + 3);
    const uint32_t length = le16(p + 7);
    const bool ram = address >= kSram && address < kSram + kSramSize;
    if (ram && p[2] == kN64SubRead) {
      auto reply = host.reply();
      std::fill(reply.begin(), reply.end(), 0);
      for (uint32_t i = 0; i < std::min<uint32_t>(length, 8192); ++i) {
        reply[i] = address - kSram + i < kSramSize ? sram[address - kSram + i] : 0xFF;
      }
    } else if (ram && p[2] == kN64SubWrite) {
      ++plain_writes;
      for (uint32_t i = 0; i < std::min<uint32_t>(length, 500); ++i) {
        if (address - kSram + i < kSramSize) sram[address - kSram + i] = p[9 + i];
      }
    } else {
      flash_cart.carry_out(p, host);
    }
  }
  uint64_t dump_size() const override { return flash_cart.dump_size(); }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    flash_cart.dump(offset, out, count);
  }
  void tick() override { flash_cart.tick(); }

  vdev::N64Cart flash_cart;
  std::vector<uint8_t> sram = pattern_bytes(kSramSize, 0x3C);
  uint32_t plain_writes = 0;
};

class N64Bus : public VirtualDeviceTest {
 protected:
  SramN64& insert(const std::string& identity) {
    vdev::N64CartConfig config;
    config.chip.size = 0x100000;
    config.rom.assign(0x100000, 0xFF);  // erased flash
    auto cart = std::make_unique<SramN64>(std::move(config));
    SramN64& ref = *cart;
    device.insert(std::move(cart));
    device.config().name = identity;
    device.config().identity = identity;
    device.clear_trace();
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

TEST_F(N64Bus, ReadsOutsideTheWindowByPackets) {
  for (const char* identity : {"N64_HWRKB_FW319", "N64_HWRKB_FW400"}) {
    SCOPED_TRACE(identity);
    auto& cart = insert(identity);
    const std::string file = folder.path("save.bin");
    ASSERT_EQ(run({"read", "n64", "0x08000000", "32K", file}), 0) << err;
    EXPECT_EQ(read_whole_file(file), cart.sram);
    EXPECT_EQ(packets_of(kN64SubRead), 4u);  // 8192 bytes a packet
    EXPECT_TRUE(events(vdev::TraceEvent::Kind::dump_read).empty());
    // Open bus past the RAM, up to the last address of the ROM's space.
    ASSERT_EQ(run({"read", "n64", "0x1FFFFFFE", "2", file}), 0) << err;
    EXPECT_EQ(read_whole_file(file), std::vector<uint8_t>(2, 0xFF));
  }
}

// Plain word writes outside the window, the program command inside it; a write that does not
// read back fails naming its address.
TEST_F(N64Bus, WritesPlainOutsideTheWindowAndProgramInsideIt) {
  const auto data = pattern_bytes(1200, 0x77);
  write_whole_file(folder.path("in.bin"), data);
  struct Case {
    const char* address;
    int exit;
    size_t plain_packets, program_packets;
    const char* message;
  } cases[] = {
      {"0x08000100", 0, 3, 0, ""},
      {"0x10000100", 0, 0, 3, ""},
      // 0x08008000 up is open bus: nothing holds the words.
      {"0x08007E00", 1, 3, 0, "the N64 bus at 0x8008000 reads back 0xFF, not 0x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    auto& cart = insert("N64_HWRKB_FW400");
    device.clear_trace();
    ASSERT_EQ(run({"write", "n64", c.address, folder.path("in.bin")}), c.exit) << err;
    EXPECT_EQ(packets_of(kN64SubWrite), c.plain_packets);
    EXPECT_EQ(packets_of(kN64SubWrite5), c.program_packets);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    if (c.exit != 0) continue;
    const uint32_t at = static_cast<uint32_t>(std::stoul(c.address, nullptr, 16));
    for (uint32_t i = 0; i < data.size(); ++i) {
      const uint8_t got = at < 0x10000000 ? cart.sram[at - kSram + i]
                                          : cart.flash_cart.rom_byte(at - 0x10000000 + i);
      ASSERT_EQ(got, data[i]) << i;
    }
  }
}

TEST_F(N64Bus, WriteAcrossTheWindowsEdgeGoesEachWayOnItsSide) {
  insert("N64_HWRKB_FW400");
  write_whole_file(folder.path("in.bin"), pattern_bytes(0x400, 1));
  // Below the window nothing holds the words: the plain half fails before the flash half.
  EXPECT_EQ(run({"write", "n64", "0x0FFFFE00", folder.path("in.bin")}), 1);
  EXPECT_EQ(packets_of(kN64SubWrite), 2u);
  EXPECT_EQ(packets_of(kN64SubWrite5), 0u);
  EXPECT_NE(err.find("the N64 bus at 0xFFFFE00"), std::string::npos) << err;
}

TEST_F(N64Bus, BoundsOfTheSlot) {
  insert("N64_HWRKB_FW400");
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
