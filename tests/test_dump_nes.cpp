// cartlink-run dump nes against the virtual device's retail NES boards: PRG and CHR sizes found
// where the banks start to repeat for every mapper, the iNES file byte for byte, what a flaky
// byte does with no checksum to lean on, and a single pass that nothing verifies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dump_support.h"
#include "virtual_device/nes_rom_boards.h"
#include "virtual_device/rom_images.h"

namespace {

constexpr uint32_t k8K = 0x2000;
constexpr uint32_t k16K = 0x4000;

struct Board {
  const char* kind;
  uint16_t mapper;
  uint32_t prg, chr;  // chr 0: CHR RAM
};

std::vector<uint8_t> ines(const Board& b, NesMirroring m = NesMirroring::horizontal) {
  return vdev::make_ines_image(b.mapper, b.prg, b.chr, m);
}

std::string kib(uint32_t size) { return std::to_string(size / 1024) + "K"; }

TEST_F(DumpTest, NesSizesAreFoundWhereTheBanksStartToRepeat) {
  const Board boards[] = {
      {"nes-nrom", 0, k16K, k8K},          {"nes-nrom", 0, 2 * k16K, k8K},
      {"nes-nrom", 0, 2 * k16K, 0},        {"nes-mmc1", 1, 8 * k16K, 0},
      {"nes-mmc1", 1, 16 * k16K, 16 * k8K}, {"nes-mmc1", 1, 2 * k16K, k8K},
      {"nes-uxrom", 2, 4 * k16K, 0},       {"nes-uxrom", 2, 16 * k16K, 0},
      {"nes-cnrom", 3, k16K, 2 * k8K},     {"nes-cnrom", 3, 2 * k16K, 4 * k8K},
      {"nes-cnrom", 3, 2 * k16K, 16 * k8K}, {"nes-mmc3", 4, 32 * k16K, 32 * k8K},
      {"nes-mmc3", 4, 4 * k16K, 0},        {"nes-mmc3", 4, 2 * k16K, k8K},
  };
  for (const char* identity : {"NES_HWRKA_FW403", "NES_HWRKA_FW400"}) {
    for (const auto& b : boards) {
      SCOPED_TRACE(std::string(identity) + " " + b.kind + " PRG " + kib(b.prg) + " CHR " +
                   kib(b.chr));
      insert(b.kind, identity, {{"prg-size", kib(b.prg)}, {"chr-size", kib(b.chr)}});
      ASSERT_EQ(dump({"nes", "copy.nes", "--mapper", std::to_string(b.mapper), "--force"}), 0)
          << out << err;
      EXPECT_EQ(read_whole_file(folder.path("copy.nes")), ines(b));
      EXPECT_TRUE(printed("PRG: " + std::to_string(b.prg / 1024) + " KiB (where the banks"))
          << out;
      EXPECT_TRUE(printed(b.chr ? "CHR: " + std::to_string(b.chr / 1024) + " KiB (where"
                                : std::string("CHR: none (the board has CHR RAM)")))
          << out;
      // Nothing covers a whole NES image but a second read.
      EXPECT_TRUE(printed("Verified: two reads of the whole image agree")) << out;
    }
  }
}

TEST_F(DumpTest, NesGivenSizesMirroringAndOneRead) {
  const Board b{"nes-mmc1", 1, 8 * k16K, 4 * k8K};
  insert(b.kind, "NES_HWRKA_FW403", {{"rom", file("game.nes", ines(b))}});
  ASSERT_EQ(dump({"nes", "v.nes", "--mapper", "1", "--prg", "128K", "--chr", "32K",
                  "--mirroring", "v"}),
            0)
      << err;
  EXPECT_EQ(read_whole_file(folder.path("v.nes")), ines(b, NesMirroring::vertical));
  EXPECT_TRUE(printed("PRG: 128 KiB (--prg)")) << out;
  EXPECT_TRUE(printed("Mirroring: vertical in the iNES header (--mirroring h for horizontal)"))
      << out;

  // One read, and nothing that covers the whole image: kept, but not a success.
  EXPECT_EQ(dump({"nes", "one.nes", "--mapper", "1", "--passes", "1"}), 1) << out;
  EXPECT_TRUE(complained("not verified")) << err;
  EXPECT_TRUE(printed("Verified: no")) << out;
  EXPECT_EQ(read_whole_file(folder.path("one.nes")), ines(b));
}

// MMC1B enables the work RAM while bit 4 of the PRG register is clear: a battery save must not
// be left open to writes once the dump has switched its banks, whichever sizes it reads.
TEST_F(DumpTest, NesMmc1DumpLeavesTheWorkRamDisabled) {
  const Board b{"nes-mmc1", 1, 16 * k16K, 4 * k8K};
  struct Case {
    const char* what;
    std::vector<std::string> sizes;
  } cases[] = {
      {"sizes found", {}},
      {"sizes given", {"--prg", "256K", "--chr", "32K"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    insert(b.kind, "NES_HWRKA_FW403", {{"rom", file("game.nes", ines(b))}});
    std::vector<std::string> args = {"nes", "copy.nes", "--mapper", "1"};
    args.insert(args.end(), c.sizes.begin(), c.sizes.end());
    ASSERT_EQ(dump(args), 0) << out << err;
    auto* board = static_cast<vdev::NesRomBoard*>(device.nes());
    ASSERT_FALSE(board->wram().empty());
    board->cpu_write(0x6000, 0xA5);
    EXPECT_EQ(board->wram()[0], 0x00);
    std::remove(folder.path("copy.nes").c_str());
  }
}

TEST_F(DumpTest, NesFlakyBytesAreSettledBySecondReads) {
  const Board b{"nes-mmc3", 4, 4 * k16K, 4 * k8K};
  const auto image = ines(b);
  struct Case {
    const char* what;
    const char* flaky;
    std::vector<std::string> sizes;  // given: no size detection reads before the passes
    int code;
    const char* says;
  } cases[] = {
      {"in PRG, caught by the second pass", "0x5432:1", {"--prg", "64K", "--chr", "32K"}, 0,
       "Second read: 1 bytes in 1 places"},
      {"in CHR, caught while the sizes are found", "0x11234:2", {}, 0, "Verified: two reads"},
      {"in CHR, never the same: named and nothing written", "0x11234:always",
       {"--prg", "64K", "--chr", "32K"}, 1, "CHR 0x01234 (bank 0, PPU $1234)"},
      {"never the same while the sizes are found", "0x0100:always", {}, 1,
       "to find their size failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    insert(b.kind, "NES_HWRKA_FW403", {{"rom", file("game.nes", image)}, {"flaky", c.flaky}});
    std::vector<std::string> args = {"nes", "copy.nes", "--mapper", "4"};
    args.insert(args.end(), c.sizes.begin(), c.sizes.end());
    EXPECT_EQ(dump(args), c.code) << out << err;
    EXPECT_TRUE(printed(c.says) || complained(c.says)) << out << err;
    if (c.code == 0) {
      EXPECT_EQ(read_whole_file(folder.path("copy.nes")), image);
    } else {
      EXPECT_TRUE(complained("clean the contacts")) << err;
      EXPECT_EQ(names(), std::vector<std::string>{"game.nes"});
    }
    std::remove(folder.path("copy.nes").c_str());
  }
}

TEST_F(DumpTest, NesKnownGoodListWithOrWithoutTheHeaderSavesTheSecondRead) {
  const Board b{"nes-cnrom", 3, 2 * k16K, 4 * k8K};
  const auto image = ines(b);
  const std::vector<uint8_t> rom(image.begin() + 16, image.end());
  for (const auto& listed : {image, rom}) {
    SCOPED_TRACE(listed.size());
    insert(b.kind, "NES_HWRKA_FW403", {{"rom", file("game.nes", image)}});
    const std::string dat = dat_text("Cn Test (USA)", listed);
    ASSERT_EQ(dump({"nes", "--mapper", "3", "--dat", file("l.dat", {dat.begin(), dat.end()}),
                    "--name-from-dat"}),
              0)
        << out << err;
    EXPECT_TRUE(printed("DAT: Cn Test (USA)\n")) << out;
    EXPECT_FALSE(printed("Second read")) << out;
    EXPECT_EQ(read_whole_file(folder.path("Cn Test (USA).nes")), image);
    std::remove(folder.path("Cn Test (USA).nes").c_str());
  }
}

}  // namespace
