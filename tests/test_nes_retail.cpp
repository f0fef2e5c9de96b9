// The retail NES boards of the virtual device: which PRG and CHR bytes each mapper shows after
// the writes a game or a dump job makes (MMC1's serial loads and PRG modes, MMC3's bank modes,
// the bus conflicts of UxROM and CNROM), work RAM behind each board's enable, the flaky byte,
// and iNES files the boards refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/nes_rom_boards.h"
#include "virtual_device/rom_images.h"

namespace {

constexpr uint32_t k1K = 0x400;
constexpr uint32_t k8K = 0x2000;
constexpr uint32_t k16K = 0x4000;

class NesRetail : public ::testing::Test {
 protected:
  vdev::NesRomBoard& build(const char* kind, const vdev::CartridgeOptions& options) {
    std::string error;
    const auto* row = vdev::find_cartridge_kind(kind);
    EXPECT_NE(row, nullptr);
    EXPECT_TRUE(row && row->build(device, options, error)) << error;
    return *static_cast<vdev::NesRomBoard*>(device.nes());
  }

  // The PRG offset that CPU `address` shows: eight bytes read there, found in the PRG (made-up
  // contents: no two places alike).
  static uint32_t prg_seen(vdev::NesRomBoard& board, uint16_t address) {
    std::vector<uint8_t> seen(8);
    for (uint16_t i = 0; i < 8; ++i) seen[i] = board.cpu_peek(static_cast<uint16_t>(address + i));
    return find(board.prg(), seen);
  }
  static uint32_t chr_seen(vdev::NesRomBoard& board, uint16_t address) {
    std::vector<uint8_t> seen(8);
    for (uint16_t i = 0; i < 8; ++i) seen[i] = board.ppu_peek(static_cast<uint16_t>(address + i));
    return find(board.chr(), seen);
  }
  static uint32_t find(const std::vector<uint8_t>& in, const std::vector<uint8_t>& what) {
    const auto it = std::search(in.begin(), in.end(), what.begin(), what.end());
    return it == in.end() ? UINT32_MAX : static_cast<uint32_t>(it - in.begin());
  }

  // MMC1: five writes load a register, bit 0 first.
  static void mmc1_load(vdev::NesRomBoard& board, uint16_t address, uint8_t value) {
    for (int bit = 0; bit < 5; ++bit) {
      board.cpu_write(address, static_cast<uint8_t>((value >> bit) & 1));
    }
  }

  // A CPU address in `first`..`last` whose PRG byte is `value`.
  static uint16_t address_holding(vdev::NesRomBoard& board, uint16_t first, uint16_t last,
                                  uint8_t value) {
    for (uint32_t a = first; a <= last; ++a) {
      if (board.cpu_peek(static_cast<uint16_t>(a)) == value) return static_cast<uint16_t>(a);
    }
    ADD_FAILURE() << "no byte " << int{value};
    return first;
  }

  vdev::Device device;
};

TEST_F(NesRetail, Mmc1SerialLoadsAndPrgModes) {
  struct Step {
    uint16_t address;
    int value;  // a register value loaded serially; -1: a reset write (bit 7)
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    uint32_t at_8000, at_c000;  // 16 KiB banks shown
  } cases[] = {
      {"power-on: the last bank fixed at $C000", {}, 0, 7},
      {"mode 3 switches $8000", {{0xE000, 3}}, 3, 7},
      {"mode 2 fixes the first bank", {{0x8000, 0x08}, {0xE000, 5}}, 0, 5},
      {"mode 0 switches 32 KiB, low bit ignored", {{0x8000, 0x00}, {0xE000, 5}}, 4, 5},
      {"mode 1 the same", {{0x9FFF, 0x04}, {0xFFFF, 2}}, 2, 3},
      {"a reset write sets mode 3", {{0x8000, 0x00}, {0xE000, 2}, {0x8000, -1}}, 2, 7},
      {"PRG bank beyond the ROM wraps", {{0xE000, 0x0B}}, 3, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& board = build("nes-mmc1", {{"prg-size", "128K"}, {"chr-size", "32K"}});
    for (const auto& s : c.steps) {
      if (s.value < 0) {
        board.cpu_write(s.address, 0x80);
      } else {
        mmc1_load(board, s.address, static_cast<uint8_t>(s.value));
      }
    }
    EXPECT_EQ(prg_seen(board, 0x8000), c.at_8000 * k16K);
    EXPECT_EQ(prg_seen(board, 0xBFF8), c.at_8000 * k16K + 0x3FF8);
    EXPECT_EQ(prg_seen(board, 0xC000), c.at_c000 * k16K);
  }
  // A reset in the middle of a load throws away the bits shifted in so far.
  auto& board = build("nes-mmc1", {{"prg-size", "128K"}, {"chr-size", "32K"}});
  board.cpu_write(0xE000, 1);
  board.cpu_write(0xE000, 1);
  board.cpu_write(0xE000, 0x80);
  mmc1_load(board, 0xE000, 2);
  EXPECT_EQ(prg_seen(board, 0x8000), 2 * k16K);
  // CHR: 4 KiB banks with control bit 4, else 8 KiB from CHR bank 0 without its low bit.
  mmc1_load(board, 0xA000, 5);
  mmc1_load(board, 0xC000, 6);
  EXPECT_EQ(chr_seen(board, 0x0000), 4 * 0x1000u);
  EXPECT_EQ(chr_seen(board, 0x1000), 5 * 0x1000u);
  mmc1_load(board, 0x8000, 0x1C);
  EXPECT_EQ(chr_seen(board, 0x0000), 5 * 0x1000u);
  EXPECT_EQ(chr_seen(board, 0x1000), 6 * 0x1000u);
}

TEST_F(NesRetail, Mmc3BankModes) {
  auto& board = build("nes-mmc3", {{"prg-size", "256K"}, {"chr-size", "128K"}});
  const uint8_t regs[8] = {4, 7, 10, 11, 12, 13, 5, 9};
  for (uint8_t r = 0; r < 8; ++r) {
    board.cpu_write(0x8000, r);
    board.cpu_write(0x8001, regs[r]);
  }
  struct Case {
    uint8_t select;  // $8000: PRG mode bit 6, CHR inversion bit 7
    uint32_t prg[4];  // 8 KiB banks at $8000, $A000, $C000, $E000
    uint32_t chr[8];  // 1 KiB banks at PPU $0000-$1C00
  } cases[] = {
      {0x00, {5, 9, 30, 31}, {4, 5, 6, 7, 10, 11, 12, 13}},
      {0x40, {30, 9, 5, 31}, {4, 5, 6, 7, 10, 11, 12, 13}},
      {0x80, {5, 9, 30, 31}, {10, 11, 12, 13, 4, 5, 6, 7}},
      {0xC7, {30, 9, 5, 31}, {10, 11, 12, 13, 4, 5, 6, 7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.select});
    board.cpu_write(0x9FFE, c.select);  // the register repeats through $8000-$9FFF (even)
    for (uint32_t i = 0; i < 4; ++i) {
      EXPECT_EQ(prg_seen(board, static_cast<uint16_t>(0x8000 + i * k8K + 0x10)),
                c.prg[i] * k8K + 0x10);
    }
    for (uint32_t i = 0; i < 8; ++i) {
      EXPECT_EQ(chr_seen(board, static_cast<uint16_t>(i * k1K)), c.chr[i] * k1K) << i;
    }
  }
  // R6 loaded through an odd address elsewhere in $8000-$9FFF.
  board.cpu_write(0x8000, 6);
  board.cpu_write(0x9FFF, 17);
  EXPECT_EQ(prg_seen(board, 0x8000), 17 * k8K);
}

// Work RAM reads open bus and drops writes while disabled; MMC3's protect bit keeps it
// readable but drops writes; SNROM (MMC1 with CHR RAM) also disables it by bit 4 of the CHR
// register in use, set at power-on here.
TEST_F(NesRetail, WorkRamBehindTheBoardsEnable) {
  struct Case {
    const char* kind;
    std::vector<std::pair<uint16_t, uint8_t>> writes;  // plain CPU writes, or MMC1 loads
    bool mmc1;
    bool readable, writable;
    bool snrom = false;
  } cases[] = {
      {"nes-mmc1", {}, true, false, false},
      {"nes-mmc1", {{0xE000, 0x00}}, true, true, true},
      {"nes-mmc1", {{0xE000, 0x00}, {0xE000, 0x10}}, true, false, false},
      {"SNROM", {{0xE000, 0x00}}, true, false, false, true},
      {"SNROM", {{0xA000, 0x00}, {0xE000, 0x00}}, true, true, true, true},  // 8 KiB CHR mode
      {"SNROM", {{0x8000, 0x1C}, {0xA000, 0x00}, {0xE000, 0x00}}, true, false, false, true},
      {"SNROM", {{0x8000, 0x1C}, {0xA000, 0x00}, {0xC000, 0x00}, {0xE000, 0x00}}, true, true,
       true, true},
      {"SNROM", {{0xA000, 0x00}, {0xC000, 0x00}, {0xE000, 0x00}, {0xA000, 0x10}}, true, false,
       false, true},
      {"nes-mmc3", {}, false, false, false},
      {"nes-mmc3", {{0xA001, 0x80}}, false, true, true},
      {"nes-mmc3", {{0xBFFF, 0x80}}, false, true, true},
      {"nes-mmc3", {{0xA001, 0xC0}}, false, true, false},
      {"nes-mmc3", {{0xA001, 0x40}}, false, false, false},
      {"nes-mmc3", {{0xA000, 0x80}}, false, false, false},  // $A000 is mirroring
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " after " + std::to_string(c.writes.size()) + " writes");
    auto& board = c.snrom ? build("nes-mmc1", {{"chr-size", "0"}}) : build(c.kind, {});
    board.wram()[0x123] = 0x5A;
    for (const auto& [address, value] : c.writes) {
      if (c.mmc1) {
        mmc1_load(board, address, value);
      } else {
        board.cpu_write(address, value);
      }
    }
    EXPECT_EQ(board.cpu_read(0x6123), c.readable ? 0x5A : vdev::NesRomBoard::kOpenBus);
    board.cpu_write(0x7FFF, 0xA5);
    EXPECT_EQ(board.wram()[0x1FFF], c.writable ? 0xA5 : 0x00);
  }
}

// UxROM and CNROM take the value written ANDed with the ROM byte at that address.
TEST_F(NesRetail, BusConflictsAndTheRomByte) {
  struct Case {
    uint8_t value;
    uint8_t rom_byte;  // the PRG byte where the write goes
  } cases[] = {{0x05, 0x05}, {0x07, 0x05}, {0x05, 0xFF}, {0x06, 0x03}, {0x0F, 0x00}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " over " + std::to_string(c.rom_byte));
    const uint32_t bank = c.value & c.rom_byte;
    auto& uxrom = build("nes-uxrom", {{"prg-size", "256K"}});
    uxrom.cpu_write(address_holding(uxrom, 0xC000, 0xFFFF, c.rom_byte), c.value);
    EXPECT_EQ(prg_seen(uxrom, 0x8000), (bank % 16) * k16K);
    EXPECT_EQ(prg_seen(uxrom, 0xC000), 15 * k16K);  // the last bank stays
    auto& cnrom = build("nes-cnrom", {{"prg-size", "32K"}, {"chr-size", "32K"}});
    cnrom.cpu_write(address_holding(cnrom, 0x8000, 0xFFFF, c.rom_byte), c.value);
    EXPECT_EQ(chr_seen(cnrom, 0x0000), (bank % 4) * k8K);
  }
  // Through the switchable window, the conflict is with the bank shown there.
  auto& uxrom = build("nes-uxrom", {{"prg-size", "128K"}});
  uxrom.cpu_write(address_holding(uxrom, 0xC000, 0xFFFF, 0x02), 0x02);
  uxrom.cpu_write(address_holding(uxrom, 0x8000, 0xBFFF, 0x01), 0x07);
  EXPECT_EQ(prg_seen(uxrom, 0x8000), 1 * k16K);
}

// The flaky offset counts through PRG followed by CHR; only reads that reach it count.
TEST_F(NesRetail, FlakyByteInPrgOrChr) {
  auto& board = build("nes-cnrom", {{"prg-size", "32K"}, {"chr-size", "16K"},
                                    {"flaky", "0x8010:2"}});  // CHR offset 0x10
  const uint8_t truth = board.chr()[0x10];
  EXPECT_NE(board.ppu_read(0x0010), truth);
  EXPECT_NE(board.ppu_peek(0x0010), truth);
  EXPECT_EQ(board.ppu_read(0x0010), truth);
  EXPECT_EQ(board.flaky()->reads(), 3u);
  // A PRG byte at 0x10 is not the flaky one.
  EXPECT_EQ(board.cpu_read(0x8010), board.prg()[0x10]);
  auto& mmc1 = build("nes-mmc1", {{"prg-size", "64K"}, {"chr-size", "8K"},
                                  {"flaky", "0x0005"}});  // PRG bank 0, shown at $8000
  mmc1_load(mmc1, 0xE000, 1);                             // bank 1 at $8000: not read
  EXPECT_EQ(mmc1.cpu_read(0x8005), mmc1.prg()[0x4005]);
  EXPECT_EQ(mmc1.flaky()->reads(), 0u);
  mmc1_load(mmc1, 0xE000, 0);
  EXPECT_NE(mmc1.cpu_read(0x8005), mmc1.prg()[5]);
  EXPECT_EQ(mmc1.cpu_read(0x8005), mmc1.prg()[5]);
}

TEST_F(NesRetail, InesFilesAndOptions) {
  TempDir dir;
  const auto mmc1 = vdev::make_ines_image(1, 0x20000, 0x8000, NesMirroring::vertical);
  write_whole_file(dir.path("mmc1.nes"), mmc1);
  auto short_file = mmc1;
  short_file.pop_back();
  write_whole_file(dir.path("short.nes"), short_file);
  auto trainer = mmc1;
  trainer[6] |= 0x04;
  trainer.insert(trainer.begin() + 16, 512, 0xEE);
  write_whole_file(dir.path("trainer.nes"), trainer);
  write_whole_file(dir.path("mmc3.nes"), vdev::make_ines_image(4, 0x20000, 0x8000,
                                                               NesMirroring::horizontal));
  write_whole_file(dir.path("wram.sav"), pattern_bytes(0x2000, 3));
  struct Case {
    const char* kind;
    vdev::CartridgeOptions options;
    const char* refusal;
  } cases[] = {
      {"nes-mmc1", {{"rom", dir.path("mmc1.nes")}}, nullptr},
      {"nes-mmc1", {{"rom", dir.path("trainer.nes")}}, nullptr},
      {"nes-mmc1", {{"rom", dir.path("short.nes")}}, "header says"},
      {"nes-mmc1", {{"rom", dir.path("mmc3.nes")}}, "mapper 4"},
      {"nes-mmc1", {{"rom", dir.path("mmc1.nes")}, {"prg-size", "32K"}}, "built-in"},
      {"nes-nrom", {{"prg-size", "64K"}}, "--prg-size"},
      {"nes-mmc3", {{"chr-size", "12K"}}, "--chr-size"},
      {"nes-cnrom", {{"chr-size", "0"}}, "--chr-size"},
      {"nes-uxrom", {{"flaky", "0x20000"}}, "--flaky"},  // 128K PRG + CHR RAM
      {"nes-mmc3", {{"save", dir.path("wram.sav")}}, nullptr},
      {"nes-mmc3", {{"save", dir.path("mmc1.nes")}}, "8192"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + (c.refusal ? std::string(" refusing ") + c.refusal : ""));
    vdev::Device fresh;
    std::string error;
    const auto* row = vdev::find_cartridge_kind(c.kind);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->build(fresh, c.options, error), c.refusal == nullptr) << error;
    EXPECT_EQ(fresh.nes() != nullptr, c.refusal == nullptr);
    if (c.refusal) {
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
  }
  auto& board = build("nes-mmc1", {{"rom", dir.path("trainer.nes")}});
  EXPECT_TRUE(std::equal(board.prg().begin(), board.prg().end(), mmc1.begin() + 16));
  EXPECT_TRUE(std::equal(board.chr().begin(), board.chr().end(), mmc1.begin() + 16 + 0x20000));
  auto& mmc3 = build("nes-mmc3", {{"save", dir.path("wram.sav")}});
  EXPECT_EQ(mmc3.wram(), pattern_bytes(0x2000, 3));
}

}  // namespace
