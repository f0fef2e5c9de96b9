// cartlink-run dump against the in-process virtual device's retail cartridges: the file it
// writes (the cartridge's image byte for byte), what it prints, how it verifies, what it does
// with a byte that reads wrong, known-good lists, and what it refuses before anything is sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dump_support.h"
#include "virtual_device/rom_images.h"

namespace {

constexpr uint32_t k1M = 0x100000;

std::vector<uint8_t> sfc(SfcMap map, uint32_t size, const char* title = "DUMP TEST") {
  return vdev::make_sfc_image(map, size, 0x2000, title);
}

TEST_F(DumpTest, EachSlotGivesBackItsImageByteForByte) {
  struct Case {
    const char* what;
    const char* kind;
    const char* identity;
    std::vector<uint8_t> image;
    std::vector<std::string> extra;   // words after "dump SLOT OUTFILE"
    std::vector<const char*> lines;   // printed, in any order
  } cases[] = {
      {"LoROM, whole bus in the window", "sfc-lorom", "SFC_Q3V8_FW412", sfc(SfcMap::lorom, k1M),
       {}, {"Title: DUMP TEST\n", "Map: LoROM\n", "ROM size: 1 MiB\n", ", as the header says",
            "Verified: by the internal checksum"}},
      {"LoROM below level 320: one half of the bus at a time", "sfc-lorom", "SFC_HWRKA_FW308",
       sfc(SfcMap::lorom, 4 * k1M), {}, {"ROM size: 4 MiB\n", "Verified: by the internal"}},
      {"LoROM of 3 MiB: the last MiB mirrored on the bus is cut", "sfc-lorom", "GEN_HWRKA_FW320",
       sfc(SfcMap::lorom, 3 * k1M), {}, {"ROM size found: 3 MiB (its last part is mirrored",
                                          "Verified: by the internal checksum"}},
      {"HiROM", "sfc-hirom", "SFC_Q3V8_FW412", sfc(SfcMap::hirom, 2 * k1M), {},
       {"Map: HiROM\n", "ROM size: 2 MiB\n", "Verified: by the internal checksum"}},
      {"ExHiROM of 6 MiB: past 4 MiB in banks $40-$7D", "sfc-exhirom", "SFC_Q3V8_FW412",
       sfc(SfcMap::exhirom, 6 * k1M), {}, {"Map: ExHiROM\n", "ROM size found: 6 MiB (", "Verified"}},
      {"SFC with a second read asked for", "sfc-lorom", "SFC_Q3V8_FW412",
       sfc(SfcMap::lorom, 512 * 1024), {"--passes", "2"},
       {"Second read: the same bytes", "Verified: by the internal checksum"}},
      {"WonderSwan Color, 512 KiB at the top of the space", "wsc-rom", "WSC_HWRKA_FW400",
       vdev::make_wsc_image(512 * 1024, 0x02, true), {},
       {"Colour: yes", "ROM size: 512 KiB\n", "Save: SRAM, 32 KiB", ", as the footer says",
        "Verified: by the internal checksum"}},
      {"WonderSwan, the whole 1 MiB", "wsc-rom", "WSC_HWRKA_FW400",
       vdev::make_wsc_image(k1M, 0x00, false), {}, {"Colour: no", "Save: none", "Verified"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.image.empty());
    insert(c.kind, c.identity, {{"rom", file("game.rom", c.image)}});
    std::vector<std::string> args = {std::string(c.kind).substr(0, 3), "copy.bin"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(dump(args), 0) << out << err;
    EXPECT_EQ(read_whole_file(folder.path("copy.bin")), c.image);
    const Digest d = digest_of(c.image);
    char crc[32];
    std::snprintf(crc, sizeof crc, "CRC-32: %08X\n", d.crc32);
    EXPECT_TRUE(printed(crc)) << out;
    EXPECT_TRUE(printed("SHA-1: " + d.sha1 + "\n")) << out;
    EXPECT_TRUE(printed("Saved: copy.bin\n")) << out;
    for (const char* line : c.lines) EXPECT_TRUE(printed(line)) << line << "\n" << out;
    EXPECT_EQ(names(), (std::vector<std::string>{"copy.bin", "game.rom"}));
    std::remove(folder.path("copy.bin").c_str());
  }
}

TEST_F(DumpTest, TheFileIsNamedAfterTheHeaderOrTheKnownGoodList) {
  struct Case {
    const char* what;
    const char* kind;
    std::vector<uint8_t> image;
    std::vector<std::string> args;
    bool dat;
    const char* saved;
  } cases[] = {
      {"the SFC title, made safe", "sfc-lorom", sfc(SfcMap::lorom, k1M, "WHAT? A/B: GAME"),
       {"sfc"}, false, "WHAT_ A_B_ GAME.sfc"},
      {"no title on a WonderSwan: cartridge.<ext> by the colour flag", "wsc-rom",
       vdev::make_wsc_image(k1M, 0, true), {"wsc"}, false, "cartridge.wsc"},
      {"the DAT's game", "sfc-lorom", sfc(SfcMap::lorom, k1M),
       {"sfc", "--name-from-dat"}, true, "Dump Test (World) (Rev 1).sfc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    insert(c.kind, "SFC_Q3V8_FW412", {{"rom", file("game.rom", c.image)}});
    std::vector<std::string> args = c.args;
    if (c.dat) {
      const std::string text = dat_text("Dump Test (World) (Rev 1)", c.image);
      args.insert(args.end(), {"--dat", file("list.dat", {text.begin(), text.end()})});
    }
    ASSERT_EQ(dump(args), 0) << out << err;
    EXPECT_EQ(read_whole_file(folder.path(c.saved)), c.image);
    EXPECT_TRUE(printed(std::string("Saved: ") + c.saved + "\n")) << out;
    std::remove(folder.path(c.saved).c_str());
    std::remove(folder.path("list.dat").c_str());
  }
}

TEST_F(DumpTest, AFlakyByteIsCaughtAndReadAgain) {
  struct Case {
    const char* what;
    const char* flaky;
    const char* settled;
  } cases[] = {
      {"wrong on the first read only", "0x12345:1", "Second read: 1 bytes in 1 places"},
      {"wrong on three reads, each differently", "0x12345:3", "Second read: 1 bytes in 1 places"},
      {"wrong on the second read: the first was right", "0xFF00:2",
       "Second read: 1 bytes in 1 places"},
  };
  const auto image = sfc(SfcMap::lorom, k1M);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    insert("sfc-lorom", "SFC_Q3V8_FW412", {{"rom", file("game.rom", image)}, {"flaky", c.flaky}});
    ASSERT_EQ(dump({"sfc", "copy.sfc", "--passes", "2"}), 0) << out << err;
    EXPECT_EQ(read_whole_file(folder.path("copy.sfc")), image);
    EXPECT_TRUE(printed(c.settled)) << out;
    EXPECT_TRUE(printed("Verified: by the internal checksum")) << out;
    std::remove(folder.path("copy.sfc").c_str());
  }
}

// The WSC checksum's own two bytes are the image's last: right while the footer is read at
// identification, wrong in the first pass, they must not pass as checked.
TEST_F(DumpTest, WscChecksumBytesReadWrongInTheFirstPassAreReadAgain) {
  constexpr uint32_t kSize = 512 * 1024;
  const auto image = vdev::make_wsc_image(kSize, 0, true);
  struct Case {
    const char* what;
    uint32_t offset;
  } cases[] = {
      {"the checksum's low byte", kSize - 2},
      {"its high byte, the image's last", kSize - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Identification reads the footer twice: the byte reads right those times.
    insert("wsc-rom", "WSC_HWRKA_FW400",
           {{"rom", file("game.rom", image)},
            {"flaky", std::to_string(c.offset) + ":1"},
            {"flaky-after", "2"}});
    ASSERT_EQ(dump({"wsc", "copy.wsc"}), 0) << out << err;
    EXPECT_EQ(read_whole_file(folder.path("copy.wsc")), image);
    EXPECT_TRUE(printed("Second read: 1 bytes in 1 places")) << out;
    EXPECT_TRUE(printed("Verified: by the internal checksum")) << out;
    std::remove(folder.path("copy.wsc").c_str());
  }
}

TEST_F(DumpTest, AByteThatNeverReadsTheSameFailsTheDumpAndWritesNothing) {
  struct Case {
    const char* what;
    const char* kind;
    std::vector<uint8_t> image;
    const char* flaky;
    std::vector<std::string> args;
    const char* named;
  } cases[] = {
      {"SFC, named on the bus", "sfc-lorom", sfc(SfcMap::lorom, k1M), "0x12345:always",
       {"sfc", "copy.sfc"}, "ROM offset 0x012345 ($02:A345)"},
      {"WSC, named in the space", "wsc-rom", vdev::make_wsc_image(512 * 1024, 0, false),
       "0x100:always", {"wsc", "copy.ws"}, "0x80100"},
      {"SFC header: nothing is read past it", "sfc-lorom", sfc(SfcMap::lorom, k1M),
       "0x7FC5:always", {"sfc", "copy.sfc"}, "header places did not read the same twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    insert(c.kind, "SFC_Q3V8_FW412", {{"rom", file("game.rom", c.image)}, {"flaky", c.flaky}});
    EXPECT_EQ(dump(c.args), 1) << out << err;
    EXPECT_TRUE(complained(c.named)) << err;
    EXPECT_TRUE(complained("clean the contacts and try again")) << err;
    EXPECT_FALSE(printed("Saved:")) << out;
    EXPECT_EQ(names(), std::vector<std::string>{"game.rom"});
  }
}

TEST_F(DumpTest, KnownGoodListsConfirmANameOrNothing) {
  const auto image = sfc(SfcMap::lorom, k1M);
  insert("sfc-lorom", "SFC_Q3V8_FW412", {{"rom", file("game.rom", image)}});
  const std::string listed = dat_text("Dump Test (World)", image);
  std::vector<uint8_t> other = image;
  other[5] ^= 1;
  const std::string unlisted = dat_text("Dump Test (World)", other);

  ASSERT_EQ(dump({"sfc", "a.sfc", "--dat", file("hit.dat", {listed.begin(), listed.end()})}), 0)
      << err;
  EXPECT_TRUE(printed("DAT: Dump Test (World)\n")) << out;
  EXPECT_TRUE(printed("Verified: listed in the DAT\n")) << out;

  ASSERT_EQ(dump({"sfc", "b.sfc", "--dat", file("miss.dat", {unlisted.begin(), unlisted.end()})}),
            0)
      << err;
  EXPECT_TRUE(printed("DAT: not listed\n")) << out;
  EXPECT_TRUE(printed("Verified: by the internal checksum")) << out;
  EXPECT_EQ(read_whole_file(folder.path("b.sfc")), image);
}

TEST_F(DumpTest, RefusalsComeBeforeAnythingIsSent) {
  write_whole_file(folder.path("there.sfc"), {1, 2, 3});
  const std::string broken = "<?xml version=\"1.0\"?>\n<datafile>\n  <game name=\"x\">\n"
                             "    <rom name=\"x\" size=\"12\" crc=\"zz\"/>\n</datafile>\n";
  write_whole_file(folder.path("broken.dat"), {broken.begin(), broken.end()});
  struct Case {
    std::vector<std::string> args;
    const char* complaint;
  } cases[] = {
      {{"sfc", "there.sfc"}, "there.sfc exists"},
      {{"sfc", "--dat", "broken.dat"}, "line "},
      {{"sfc", "--dat", "missing.dat"}, "missing.dat"},
      {{"gba"}, "no slot 'gba'"},
      {{"sfc", "a", "b"}, "usage: dump"},
      {{"nes"}, "needs --mapper"},
      {{"nes", "--mapper", "7"}, "needs --mapper"},
      {{"nes", "--mapper", "0", "--prg", "64K"}, "--prg 64K"},
      {{"nes", "--mapper", "2", "--chr", "8K"}, "--chr 8K"},
      {{"nes", "--mapper", "1", "--mirroring", "x"}, "--mirroring takes h or v"},
      {{"sfc", "--map", "midrom"}, "--map takes"},
      {{"sfc", "--size", "100K"}, "--size 100K"},
      {{"sfc", "--map", "lorom", "--size", "8M"}, "--size 8M"},
      {{"wsc", "--size", "2M"}, "--size 2M"},
      {{"n64", "--map", "hirom"}, "--map is not an option of dump n64"},
      {{"sfc", "--passes", "3"}, "--passes takes 1 or 2"},
      {{"sfc", "--name-from-dat"}, "--name-from-dat"},
      {{"sfc", "out.sfc", "--name-from-dat", "--dat", "broken.dat"}, "--name-from-dat"},
      {{"sfc", "--bogus"}, "unknown option"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : c.args[0]);
    EXPECT_EQ(dump(c.args), 2) << out << err;
    EXPECT_TRUE(complained(c.complaint)) << err;
    EXPECT_TRUE(device.trace().empty()) << "the device was asked something";
  }
  EXPECT_EQ(read_whole_file(folder.path("there.sfc")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(DumpTest, ForceReplacesAnExistingFile) {
  const auto image = sfc(SfcMap::hirom, k1M);
  insert("sfc-hirom", "SFC_Q3V8_FW412", {{"rom", file("game.rom", image)}});
  write_whole_file(folder.path("there.sfc"), {1, 2, 3});
  ASSERT_EQ(dump({"sfc", "there.sfc", "--force"}), 0) << err;
  EXPECT_EQ(read_whole_file(folder.path("there.sfc")), image);
  // A name taken from the header is checked once the header is read.
  ASSERT_EQ(dump({"sfc"}), 0) << err;
  ASSERT_EQ(dump({"sfc"}), 2) << out;
  EXPECT_TRUE(complained("DUMP TEST.sfc exists")) << err;
  EXPECT_FALSE(printed("Saved:")) << out;
  ASSERT_EQ(dump({"sfc", "--force"}), 0) << err;
  EXPECT_EQ(read_whole_file(folder.path("DUMP TEST.sfc")), image);
}

TEST_F(DumpTest, DamagedHeadersAreReportedAndCanBeOverridden) {
  auto image = sfc(SfcMap::lorom, k1M);
  auto no_header = image;
  std::fill(no_header.begin() + 0x7FC0, no_header.begin() + 0x8000, 0x00);
  auto bad_size = image;
  bad_size[0x7FD7] = 0x0F;  // 32 MiB: past what LoROM addresses
  auto footerless = vdev::make_wsc_image(k1M, 0, false);
  footerless[footerless.size() - 6] = 0x77;  // a size code no cartridge has
  struct Case {
    const char* what;
    const char* kind;
    std::vector<uint8_t> image;
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {"no header", "sfc-lorom", no_header, {"sfc", "x.sfc"}, 1, "no SFC header at $00:FFC0"},
      {"no header, map and size given", "sfc-lorom", no_header,
       {"sfc", "x.sfc", "--map", "lorom", "--size", "1M"}, 0,
       "Verified: two reads of the whole image agree"},
      {"a size byte past the bus", "sfc-lorom", bad_size, {"sfc", "x.sfc"}, 1,
       "ROM size byte 0x0F makes no sense for a LoROM board"},
      {"a size byte past the bus, size given", "sfc-lorom", bad_size,
       {"sfc", "x.sfc", "--size", "1M"}, 0, "Verified"},
      {"a footer without a size", "wsc-rom", footerless, {"wsc", "x.ws"}, 1,
       "ROM size code 0x77"},
      {"a footer without a size, size given", "wsc-rom", footerless,
       {"wsc", "x.ws", "--size", "1M"}, 0, "Verified: two reads"},
      // The SRAM window hides ROM bytes: refused rather than read as ROM (and from 960 KiB down
      // to 896 KiB the window still covers the ROM's first bytes).
      {"1 MiB of ROM under the SRAM window", "wsc-rom", vdev::make_wsc_image(k1M, 0x02, true),
       {"wsc", "x.wsc"}, 1, "SRAM shows at 0x10000-0x1FFFF, where bytes 0x10000-0x1FFFF of its 1 MiB ROM"},
      {"960 KiB under the SRAM window", "wsc-rom", vdev::make_wsc_image(k1M, 0x02, true),
       {"wsc", "x.wsc", "--size", "960K"}, 1, "where bytes 0x00000-0x0FFFF of its 960 KiB ROM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    insert(c.kind, "SFC_Q3V8_FW412", {{"rom", file("game.rom", c.image)}});
    EXPECT_EQ(dump(c.args), c.code) << out << err;
    EXPECT_TRUE(printed(c.says) || complained(c.says)) << out << err;
    if (c.code == 0) {
      EXPECT_EQ(read_whole_file(folder.path(c.args[1])), c.image);
    } else {
      EXPECT_TRUE(read_whole_file(folder.path(c.args[1])).empty()) << "no file on a refusal";
    }
    std::remove(folder.path(c.args[1]).c_str());
  }
}

}  // namespace
