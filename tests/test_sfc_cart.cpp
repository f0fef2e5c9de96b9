// The SFC family against the virtual SFC cartridge: what is read is what the cartridge holds,
// what is written lands where it should, and the erases clear exactly their part of the chip.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "families/sfc.h"
#include "tests/slot_family_support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/sfc_cart.h"

namespace {

constexpr uint32_t kChip = 0x100000;  // 1 MiB: 16 sectors of 64 KiB, repeated through 8 MiB

class SfcCart : public SlotFamilyTest {
 protected:
  void SetUp() override {
    SlotFamilyTest::SetUp();
    rom = byte_pattern(kChip, 0x21);
    vdev::SfcCartConfig config;
    config.flash.size = kChip;
    config.rom = rom;
    config.ram = byte_pattern(0x2000, 0x77);
    config.ram_size = 0x2000;
    auto cartridge = std::make_unique<vdev::SfcCartridge>(device.config(), config);
    cart = cartridge.get();
    device.insert(std::move(cartridge));
  }

  void identify(const std::string& identity) {
    device.config().identity = identity;
    sfc_identify();
  }

  // What the bus holds, read without side effects.
  std::vector<uint8_t> bus(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i) out[i] = cart->peek(address + i);
    return out;
  }

  // Polls the status as a flash job would; false when the chip stays busy.
  bool wait_erased(uint32_t address) {
    for (int poll = 0; poll < 20; ++poll) {
      if (sfc_read_status(address) == 0xFF) return true;
    }
    return false;
  }

  std::vector<uint8_t> rom;
  vdev::SfcCartridge* cart = nullptr;
};

// Every read path gives the bus's bytes, whichever level decides the window's form.
TEST_F(SfcCart, ReadsGiveWhatTheBusHolds) {
  struct Case {
    const char* identity;
    uint32_t address;
    uint32_t length;
    bool long_form;
  } cases[] = {
      {"SFC_HWRKA_FW308", 0, 0x40000, false},          // window, lower half
      {"SFC_HWRKA_FW308", 0xF00000, 0x2000, false},    // window, battery RAM in the upper half
      {"SFC_HWRKA_FW308", 0x7FFC00, 0x800, false},     // window over the half boundary
      {"GEN_HWRKA_FW320", 0xF00400, 0x1C00, false},    // the whole bus
      {"SFC_Q3V8_FW412", 0x0FFC00, 0x800, false},      // past the chip: it repeats
      {"unknown", 0x800000, 0x400, false},             // level 0: half select
      {"SFC_HWRKA_FW308", 0x8001, 3000, false},        // chunks
      {"SFC_HWRKA_FW308", 0xF00010, 100, true},        // long read
      {"SFC_HWRKA_FW308", 0x7FFFF0, 0x20, true},       // long read over the boundary
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.identity) + " at " + std::to_string(c.address));
    identify(c.identity);
    std::vector<uint8_t> out(c.length, 0xEE);
    if (c.long_form) {
      sfc_long_read_block(c.address, out.data(), c.length);
    } else {
      sfc_read_block(c.address, out.data(), c.length);
    }
    EXPECT_EQ(out, bus(c.address, c.length));
  }
  EXPECT_EQ(sfc_read_byte(0xF00001), cart->ram()[1]);
  EXPECT_EQ(sfc_long_read_byte(0x000123), rom[0x123]);
  expect_all_accepted();
}

TEST_F(SfcCart, WrittenDataReadsBack) {
  identify("SFC_HWRKA_FW308");
  sfc_chip_erase();
  ASSERT_TRUE(wait_erased(0));
  struct Case {
    const char* name;
    void (*write)(uint32_t, const uint8_t*, uint32_t);
    uint32_t address;
    uint32_t length;
  } cases[] = {
      {"480 form into flash", sfc_write_block_480, 0x10000, 3000},
      {"496 form into flash", sfc_write_block_496, 0x20011, 1000},
      {"32-bit form into flash", sfc_write_block_addr32, 0x30000, 481},
      {"480 form into battery RAM", sfc_write_block_480, 0xF00100, 700},
      {"long write into battery RAM", sfc_long_write_block, 0xF01000, 1200},
  };
  uint8_t seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto data = byte_pattern(c.length, seed++);
    c.write(c.address, data.data(), c.length);
    EXPECT_EQ(bus(c.address, c.length), data);
    std::vector<uint8_t> back(c.length);
    sfc_read_block(c.address, back.data(), c.length);
    EXPECT_EQ(back, data);
    if (c.address < 0x800000) {
      // The erased bytes around the block are untouched.
      EXPECT_EQ(cart->peek(c.address - 1), 0xFF);
      EXPECT_EQ(cart->peek(c.address + c.length), 0xFF);
    }
  }
  sfc_write_byte(0xF00000, 0x42);
  sfc_long_write_byte(0xF00001, 0x43);
  EXPECT_EQ(cart->ram()[0], 0x42);
  EXPECT_EQ(cart->ram()[1], 0x43);
}

TEST_F(SfcCart, ErasesClearExactlyTheirPart) {
  identify("SFC_HWRKA_FW320");
  const auto ram = cart->ram();
  struct Case {
    const char* name;
    bool chip;
    uint32_t sector;
    uint32_t first, end;  // what must read 0xFF afterwards
  } cases[] = {
      {"sector at 0x10000", false, 0x10000, 0x10000, 0x20000},
      {"sector by an address inside it", false, 0x3ABCD, 0x30000, 0x40000},
      {"last sector", false, 0xF0000, 0xF0000, 0x100000},
      {"whole chip", true, 0, 0, kChip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& cells = cart->flash().bytes();
    cells = rom;
    if (c.chip) {
      sfc_chip_erase();
    } else {
      sfc_sector_erase(c.sector);
    }
    EXPECT_TRUE(cart->flash().busy());
    ASSERT_TRUE(wait_erased(c.first));
    for (uint32_t i = 0; i < kChip; ++i) {
      const bool inside = i >= c.first && i < c.end;
      ASSERT_EQ(cells[i], inside ? 0xFF : rom[i]) << "offset " << i;
    }
    EXPECT_EQ(cart->ram(), ram);
  }
}

// The registry row builds the cartridge from its options and refuses unusable ones.
TEST_F(SfcCart, RegistryRowChecksItsOptions) {
  TempDir dir;
  write_whole_file(dir.path("rom.sfc"), byte_pattern(0x1000, 3));
  struct Case {
    vdev::CartridgeOptions options;
    bool ok;
  } cases[] = {
      {{}, true},
      {{{"rom", dir.path("rom.sfc")}, {"chip-size", "1M"}}, true},
      {{{"chip-size", "16M"}}, false},
      {{{"rom", dir.path("missing.sfc")}}, false},
      {{{"ram-size", "2M"}}, false},
      {{{"erase-polls", "never"}}, true},
  };
  const auto* kind = vdev::find_cartridge_kind("sfc");
  ASSERT_NE(kind, nullptr);
  for (const auto& c : cases) {
    vdev::Device fresh;
    std::string error;
    EXPECT_EQ(kind->build(fresh, c.options, error), c.ok) << error;
    EXPECT_EQ(fresh.cartridge() != nullptr, c.ok);
  }
  vdev::Device fresh;
  std::string error;
  ASSERT_TRUE(kind->build(fresh, {{"rom", dir.path("rom.sfc")}}, error));
  auto* built = static_cast<vdev::SfcCartridge*>(fresh.cartridge());
  EXPECT_EQ(built->peek(0xFFF), byte_pattern(0x1000, 3)[0xFFF]);
}

}  // namespace
