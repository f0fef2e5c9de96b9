// cartlink-run dump n64 against the virtual device's retail N64 cartridge: the size found where
// the image stops (a mirror or the open bus), the .z64 byte for byte, the boot chip named by the
// CRC pair, and a flaky byte with no checksum covering the whole image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dump_support.h"
#include "virtual_device/n64_rom_image.h"

namespace {

constexpr uint32_t k1M = 0x100000;

TEST_F(DumpTest, N64SizeIsFoundWhereTheImageStops) {
  struct Case {
    const char* what;
    const char* identity;
    uint32_t size;
    N64BootChip chip;
    const char* past_end;
    std::vector<std::string> extra;
    uint32_t dumped;
    const char* says;
  } cases[] = {
      {"4 MiB mirrored", "N64_HWRKB_FW320", 4 * k1M, N64BootChip::cic6102, "mirror", {},
       4 * k1M, "(boot chip 6102)"},
      {"12 MiB, then open bus", "N64_HWRKB_FW400", 12 * k1M, N64BootChip::cic6105, "open-bus",
       {}, 12 * k1M, "(boot chip 6105)"},
      {"12 MiB mirrored: the start again at 12 MiB", "N64_Q3V6_FW400", 12 * k1M,
       N64BootChip::cic6103, "mirror", {}, 12 * k1M, "(boot chip 6103)"},
      {"packet reads below firmware 320", "N64_HWRKB_FW319", 2 * k1M, N64BootChip::cic6106,
       "open-bus", {}, 2 * k1M, "(boot chip 6106)"},
      {"a size given", "N64_HWRKB_FW320", 4 * k1M, N64BootChip::cic6102, "mirror",
       {"--size", "2M"}, 2 * k1M, "ROM size: 2 MiB (--size)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto image = vdev::make_n64_image(c.size, "DUMP TEST 64", "NDTE", c.chip, 1);
    ASSERT_FALSE(image.empty());
    insert("n64-rom", c.identity, {{"rom", file("game.z64", image)}, {"past-end", c.past_end}});
    std::vector<std::string> args = {"n64", "copy.z64", "--force"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(dump(args), 0) << out << err;
    EXPECT_EQ(read_whole_file(folder.path("copy.z64")),
              std::vector<uint8_t>(image.begin(), image.begin() + c.dumped));
    EXPECT_TRUE(printed("Title: DUMP TEST 64\n")) << out;
    EXPECT_TRUE(printed("Game code: NDTE, version 1\n")) << out;
    EXPECT_TRUE(printed(c.says)) << out;
    // The CRC pair covers one MiB: only a second read verifies an N64 dump without a DAT.
    EXPECT_TRUE(printed("Verified: two reads of the whole image agree")) << out;
  }
}

TEST_F(DumpTest, N64VerdictsAndFlakyBytes) {
  auto image = vdev::make_n64_image(4 * k1M, "VERDICT", "NVDE");
  auto off_crc = image;
  off_crc[0x2000] ^= 0xFF;  // inside the CRC pair's span: no boot chip matches
  auto headless = image;
  std::fill(headless.begin(), headless.begin() + 0x40, 0xFF);
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    vdev::CartridgeOptions extra;
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {"no boot chip matched: a warning", off_crc, {}, {}, 0,
       "CRC pair: warning: no boot chip variant matched"},
      {"no header", headless, {}, {}, 1, "no N64 header at 0x10000000"},
      {"no header, a size given", headless, {}, {"--size", "4M"}, 0, "Verified: two reads"},
      {"a flaky byte settled", image, {{"flaky", "0x234567:2"}}, {}, 0,
       "Second read: 1 bytes in 1 places"},
      {"a byte never the same", image, {{"flaky", "0x234567:always"}}, {}, 1,
       "0x10234567 never read the same twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    vdev::CartridgeOptions options = c.extra;
    options["rom"] = file("game.z64", c.image);
    insert("n64-rom", "N64_HWRKB_FW320", options);
    std::vector<std::string> args = {"n64", "copy.z64"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(dump(args), c.code) << out << err;
    EXPECT_TRUE(printed(c.says) || complained(c.says)) << out << err;
    if (c.code == 0) {
      EXPECT_EQ(read_whole_file(folder.path("copy.z64")), c.image);
    } else {
      EXPECT_EQ(names(), std::vector<std::string>{"game.z64"});
    }
    std::remove(folder.path("copy.z64").c_str());
  }
}

}  // namespace
