// The WSC family against the virtual WSC cartridge: reads give the flash's bytes, writes land
// as the right bytes with the cipher on and off, the identity picks the form the board takes,
// and the erases clear exactly their part and report it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "families/wsc.h"
#include "link/cipher.h"
#include "platform/sleep.h"
#include "tests/slot_family_support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/wsc_cart.h"

namespace {

constexpr uint32_t kChip = 0x100000;

uint32_t g_pause_count = 0;
void count_pause(uint32_t) { ++g_pause_count; }

class WscCart : public SlotFamilyTest {
 protected:
  void SetUp() override {
    SlotFamilyTest::SetUp();
    insert({});
    std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
    g_pause_count = 0;
    plat_install_sleep(count_pause);
  }
  void TearDown() override {
    plat_install_sleep(nullptr);
    SlotFamilyTest::TearDown();
  }

  void insert(vdev::FlashChipConfig flash) {
    rom = byte_pattern(kChip, 0x5C);
    vdev::WscCartConfig config;
    flash.size = kChip;
    flash.word_mode = true;
    config.flash = flash;
    config.rom = rom;
    auto cartridge = std::make_unique<vdev::WscCartridge>(device.config(), config);
    cart = cartridge.get();
    device.insert(std::move(cartridge));
  }

  // The board's identity and the name discovery would have read, then the family's identity.
  void identify_as(const std::string& text) {
    device.config().name = text;
    device.config().identity = text;
    std::snprintf(g_link.device_name, sizeof g_link.device_name, "%s", text.c_str());
    wsc_identify();
  }

  std::vector<uint8_t> space(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i) out[i] = cart->peek(address + i);
    return out;
  }

  std::vector<uint8_t> rom;
  vdev::WscCartridge* cart = nullptr;
};

TEST_F(WscCart, ReadsGiveTheFlashBytes) {
  struct Case {
    const char* name;
    void (*read)(uint32_t, uint8_t*, uint32_t);
    uint32_t address;
    uint32_t length;
  } cases[] = {
      {"window, whole space", wsc_read_rom, 0, kChip},
      {"window, odd place and length", wsc_read_rom, 0x12345, 777},
      {"sub-command 4", wsc_read_block, 0xFFF01, 5000},  // runs past the top: the space repeats
      {"sub-command 15", wsc_read_block_sub15, 0x70003, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> out(c.length, 0xEE);
    c.read(c.address, out.data(), c.length);
    EXPECT_EQ(out, space(c.address, c.length));
  }
  EXPECT_EQ(std::vector<uint8_t>(space(0, kChip)), rom);
  EXPECT_EQ(wsc_read_byte(0x1F7FF), rom[0x1F7FF]);
  EXPECT_EQ(wsc_read_byte(0x100005), rom[5]);
}

// The identity decides whether protected writes are enciphered; the board decides whether it
// deciphers them. Only the pairs that agree land the right bytes.
TEST_F(WscCart, ProtectedWritesLandAsTheRightBytes) {
  struct Case {
    const char* board;
    bool flag;
  } cases[] = {
      {"WSC_HWRKA_FW400", false},  // the plain board, recognised by its single-byte name
      {"WSC_HWRKA_FW401", false},
      {"WSC_Q3V8_FW400", true},
      {"NES_HWRKA_FW400", true},
  };
  const std::pair<void (*)(uint32_t, const uint8_t*, uint32_t), uint32_t> writes[] = {
      {wsc_write_block_sub10, 0x10000}, {wsc_write_block_sub11, 0x20001},
      {wsc_write_block_sub12, 0x30000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.board);
    cart->flash().bytes().assign(kChip, 0xFF);
    identify_as(c.board);
    EXPECT_EQ(wsc_cipher_flag, c.flag);
    uint8_t seed = 0;
    for (const auto& [write, address] : writes) {
      const auto data = byte_pattern(1003, ++seed);
      write(address, data.data(), 1003);
      EXPECT_EQ(space(address, 1003), data) << std::hex << address;
      EXPECT_EQ(cart->peek(address + 1003), 0xFF);
    }
  }
  // A board that takes plain writes, sent enciphered ones, programs the wrong bytes.
  cart->flash().bytes().assign(kChip, 0xFF);
  identify_as("WSC_HWRKA_FW400");
  wsc_cipher_flag = true;
  cipher_set_device_key();
  const auto data = byte_pattern(16, 1);
  wsc_write_block_sub12(0x40000, data.data(), 16);
  EXPECT_NE(space(0x40000, 8), std::vector<uint8_t>(data.begin(), data.begin() + 8));
  EXPECT_EQ(space(0x40008, 8), std::vector<uint8_t>(data.begin() + 8, data.end()));
}

TEST_F(WscCart, PlainWritesLandWhereAddressed) {
  cart->flash().bytes().assign(kChip, 0xFF);
  struct Case {
    const char* name;
    void (*write)(uint32_t, const uint8_t*, uint32_t);
    uint32_t address;
    uint32_t length;
  } cases[] = {
      {"sub-command 6", wsc_write_block, 0x50001, 1501},
      {"sub-command 16", wsc_write_block_sub16, 0x60000, 300},
  };
  uint8_t seed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto data = byte_pattern(c.length, ++seed);
    c.write(c.address, data.data(), c.length);
    EXPECT_EQ(space(c.address, c.length), data);
    EXPECT_EQ(cart->peek(c.address - 1), 0xFF);
    EXPECT_EQ(cart->peek(c.address + c.length), 0xFF);
  }
}

TEST_F(WscCart, ErasesClearExactlyTheirPart) {
  struct Case {
    const char* name;
    bool chip;
    uint32_t sector;
    uint32_t first, end;
  } cases[] = {
      {"sector by its first byte", false, 0x20000, 0x20000, 0x30000},
      {"sector by a byte inside it", false, 0xF1234, 0xF0000, 0x100000},
      {"chip", true, 0, 0, kChip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& cells = cart->flash().bytes();
    cells = rom;
    g_pause_count = 0;
    if (c.chip) {
      wsc_erase_chip();
      EXPECT_TRUE(cart->flash().busy());
      for (int poll = 0; poll < 10 && wsc_read_byte(0) != 0xFF; ++poll) {
      }
    } else {
      EXPECT_TRUE(wsc_erase_sector(c.sector));
      EXPECT_GT(g_pause_count, 0u);  // the default chip reads busy for two reads
    }
    EXPECT_FALSE(cart->flash().busy());
    for (uint32_t i = 0; i < kChip; ++i) {
      const bool inside = i >= c.first && i < c.end;
      ASSERT_EQ(cells[i], inside ? 0xFF : rom[i]) << "offset " << i;
    }
  }
}

TEST_F(WscCart, SectorEraseThatNeverFinishesFailsWithoutWaiting) {
  insert({.erase_never_finishes = true});
  device.clear_trace();
  EXPECT_FALSE(wsc_erase_sector(0x10000));
  EXPECT_EQ(g_pause_count, 51u);
  EXPECT_EQ(events(vdev::TraceEvent::Kind::dump_read).size(), 52u);
  EXPECT_TRUE(cart->flash().busy());
  EXPECT_EQ(std::vector<uint8_t>(cart->flash().bytes().begin() + 0x10000,
                                 cart->flash().bytes().begin() + 0x10010),
            std::vector<uint8_t>(rom.begin() + 0x10000, rom.begin() + 0x10010));
}

TEST_F(WscCart, RegistryRowChecksItsOptions) {
  TempDir dir;
  write_whole_file(dir.path("rom.wsc"), byte_pattern(0x800, 9));
  struct Case {
    vdev::CartridgeOptions options;
    bool ok;
  } cases[] = {
      {{}, true},
      {{{"rom", dir.path("rom.wsc")}, {"chip-size", "512K"}}, true},
      {{{"chip-size", "2M"}}, false},
      {{{"rom", dir.path("rom.wsc")}, {"chip-size", "4K"}}, true},
      {{{"rom", dir.path("missing")}}, false},
      {{{"erase-polls", "5"}}, true},
      {{{"erase-polls", "soon"}}, false},
  };
  const auto* kind = vdev::find_cartridge_kind("wsc");
  ASSERT_NE(kind, nullptr);
  for (const auto& c : cases) {
    vdev::Device fresh;
    std::string error;
    EXPECT_EQ(kind->build(fresh, c.options, error), c.ok) << error;
    EXPECT_EQ(fresh.cartridge() != nullptr, c.ok);
  }
}

}  // namespace
