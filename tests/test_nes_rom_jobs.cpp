// The Ginga dump, ROM-file flashing and the misc-byte probe against their boards: what lands
// in "Ginga.nes" and on the chips, the retries and refusals, and the runner's exit codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "nes/ginga_dump.h"
#include "nes/rom_file.h"
#include "tests/fault_ops.h"
#include "tests/flash_job_support.h"

namespace {

TEST(Crc32, CheckValuesAndContinuation) {
  struct Case {
    std::string text;
    uint32_t crc;
  } cases[] = {{"123456789", 0xCBF43926}, {"abc", 0x352441C2}, {"", 0}, {"a", 0xE8B7BE43}};
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.text.data());
    EXPECT_EQ(crc32_block(bytes, static_cast<uint32_t>(c.text.size())), c.crc) << c.text;
  }
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(crc32_update(crc32_block(digits, 4), digits + 4, 5), 0xCBF43926u);
}

// Runs the jobs in a fresh working folder, where "Ginga.nes" and ROM files live.
class NesRomJobs : public FlashJobTest {
 protected:
  void SetUp() override {
    FlashJobTest::SetUp();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder.root());
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    FlashJobTest::TearDown();
  }
  size_t window_reads() const {
    size_t n = 0;
    for (const auto& e : device.trace()) n += e.kind == vdev::TraceEvent::Kind::dump_read;
    return n;
  }
  size_t flash_commands() const {
    size_t n = 0;
    for (const auto& p : device.packets()) n += p.family == 14 && (p.sub == 6 || p.sub == 8);
    return n;
  }

  TempDir folder;

 private:
  std::filesystem::path previous_;
};

std::string dump_lines(uint32_t from, uint32_t to) {
  std::string out;
  char line[40];
  for (uint32_t i = from; i < to; ++i) {
    std::snprintf(line, sizeof line, "Dump bank %u %.8X.\n", i + 1, kGingaBankCrc[i]);
    out += line;
  }
  return out;
}

TEST_F(NesRomJobs, GingaDumpWritesEveryBankInItsPlace) {
  insert("ginga");
  GingaResult result{};
  const std::string out = captured([&] { result = ginga_dump(); });
  EXPECT_EQ(result, GingaResult::saved);
  EXPECT_EQ(out, dump_lines(0, 7) + "Save dumped rom file to Ginga.nes\n");
  const auto file = read_whole_file(folder.path("Ginga.nes"));
  ASSERT_EQ(file.size(), 131088u);
  const std::vector<uint8_t> header = {0x4E, 0x45, 0x53, 0x1A, 0x08, 0x00, 0x21, 0,
                                       0,    0,    0,    0,    0,    0,    0,    0};
  EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
  const auto& prg = memory("prg");
  EXPECT_TRUE(std::equal(prg.begin(), prg.end(), file.begin() + 16));
  // One window read per bank: the fixed one and seven switched ones.
  EXPECT_EQ(window_reads(), 8u);
}

TEST_F(NesRomJobs, GingaDumpRetriesAFlakyBankAndReportsEachTry) {
  insert("ginga", {{"flaky-bank", "3"}, {"flaky-reads", "2"}});
  const std::string out = captured([] { ginga_dump(); });
  EXPECT_EQ(out, dump_lines(0, 3) + "Error crc, try again\nError crc, try again\n" +
                     dump_lines(3, 7) + "Save dumped rom file to Ginga.nes\n");
  EXPECT_EQ(window_reads(), 10u);
  const auto file = read_whole_file(folder.path("Ginga.nes"));
  const auto& prg = memory("prg");
  ASSERT_EQ(file.size(), 131088u);
  EXPECT_TRUE(std::equal(prg.begin(), prg.end(), file.begin() + 16));
}

TEST_F(NesRomJobs, GingaDumpLeavesAnOlderFileOnAWrongCartridgeOrAFailedSave) {
  struct Case {
    bool wrong_cartridge;
    GingaResult result;
    std::string output;
  } cases[] = {
      {true, GingaResult::wrong_cartridge, "Not Ginga no Sannin cartridge\n"},
      {false, GingaResult::save_failed,
       dump_lines(0, 7) +
           "Could not save Ginga.nes (is the working folder writable and not full?)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wrong_cartridge);
    TearDown();
    SetUp();
    insert("ginga", {{"wrong-cartridge", c.wrong_cartridge ? "yes" : "no"}});
    write_whole_file(folder.path("Ginga.nes"), {1, 2, 3});
    // The save's temporary name taken by a folder: the save cannot be made, even as root.
    if (!c.wrong_cartridge) std::filesystem::create_directory(folder.path("Ginga.nes.tmp"));
    GingaResult result{};
    const std::string out = captured([&] { result = ginga_dump(); });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(out, c.output);
    EXPECT_EQ(read_whole_file(folder.path("Ginga.nes")), (std::vector<uint8_t>{1, 2, 3}));
  }
}

// An iNES file: 16-byte header with PRG units at byte 4 and CHR units at byte 5, then data.
std::vector<uint8_t> rom_file(uint8_t prg_units, uint8_t chr_units, size_t data_bytes) {
  std::vector<uint8_t> file = flash_image(16 + data_bytes, 0x2B);
  const uint8_t header[8] = {'N', 'E', 'S', 0x1A, prg_units, chr_units, 0, 0};
  std::copy(header, header + 8, file.begin());
  std::fill(file.begin() + 8, file.begin() + 16, 0);
  return file;
}

TEST_F(NesRomJobs, RomFileProgramsPrgAndChrFromTheHeaderSizes) {
  struct Case {
    uint8_t prg_units, chr_units;
    const char* sizes;
  } cases[] = {{2, 1, "PRG: 32768 CHR: 8192\n"}, {2, 0, "PRG: 32768 CHR: 0\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sizes);
    TearDown();
    SetUp();
    insert("flash-rom-file", {{"erase-polls", "0"}});
    const uint32_t prg = c.prg_units * 0x4000u, chr = c.chr_units * 0x2000u;
    const auto file = rom_file(c.prg_units, c.chr_units, prg + chr);
    write_whole_file(folder.path("game.nes"), file);
    RomFileResult result{};
    const std::string out = captured([&] { result = flash_rom_file_run("game.nes"); });
    EXPECT_EQ(result, RomFileResult::programmed) << out;
    EXPECT_NE(out.find(c.sizes), std::string::npos) << out;
    EXPECT_EQ(out.find("\nErase.\n") != std::string::npos, chr != 0);
    const auto& prg_chip = memory("prg");
    EXPECT_TRUE(std::equal(file.begin() + 16, file.begin() + 16 + prg, prg_chip.begin()));
    EXPECT_TRUE(std::equal(file.begin() + 16 + prg - 0x4000, file.begin() + 16 + prg,
                           prg_chip.begin() + 0xFC000));
    const auto& chr_chip = memory("chr");
    if (chr != 0) {
      EXPECT_TRUE(std::equal(file.begin() + 16 + prg, file.end(), chr_chip.begin()));
    } else {
      EXPECT_TRUE(
          std::all_of(chr_chip.begin(), chr_chip.end(), [](uint8_t b) { return b == 0xFF; }));
    }
  }
}

// Files the job does not program: nothing is erased, and the console says why.
TEST_F(NesRomJobs, RomFileRefusalsAndOtherPathsLeaveTheFlashAsItWas) {
  struct Case {
    const char* what;
    std::vector<uint8_t> file;  // empty: no file
    RomFileResult result;
    std::string message;
  } cases[] = {
      {"no header: work-RAM test", flash_image(32768), RomFileResult::ram_tested, "0x00 pass\n"},
      {"missing file", {}, RomFileResult::read_error, "read error."},
      {"shorter than its header says", rom_file(2, 1, 0x4000 + 1), RomFileResult::refused,
       "The file holds 16401 bytes, but its header needs 40976 (16 + PRG 32768 + CHR 8192); "
       "nothing erased.\n"},
      {"one byte short of 16 + PRG + CHR", rom_file(2, 1, 0xA000 - 1), RomFileResult::refused,
       "The file holds 40975 bytes, but its header needs 40976 (16 + PRG 32768 + CHR 8192); "
       "nothing erased.\n"},
      {"no PRG", rom_file(0, 1, 0x2000), RomFileResult::refused,
       "The header gives no PRG data; nothing erased.\n"},
      {"over 8 MiB", rom_file(2, 0, 0x800000), RomFileResult::ram_tested,
       "game.nes is larger than 8388608 bytes: only its first 8388608 bytes are used.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    insert("flash-rom-file");
    std::filesystem::remove(folder.path("game.nes"));
    if (!c.file.empty()) write_whole_file(folder.path("game.nes"), c.file);
    RomFileResult result{};
    const std::string out = captured([&] { result = flash_rom_file_run("game.nes"); });
    EXPECT_EQ(result, c.result);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(flash_commands(), 0u);
    for (const char* chip : {"prg", "chr"}) {
      const auto& bytes = memory(chip);
      EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; }));
    }
  }
}

// A fault of the CHR chip fails the job although the PRG half programmed well.
TEST_F(NesRomJobs, RomFileWithAFaultyChrChipReportsTheVerifyFailure) {
  for (const char* fault : {"chr-protected", "chr-stuck-bit"}) {
    SCOPED_TRACE(fault);
    TearDown();
    SetUp();
    const auto file = rom_file(2, 1, 0xA000);
    const uint8_t chr_byte = file[16 + 0x8000 + 0x10];
    const std::string stuck = "0x10:0xFF:" + std::to_string(chr_byte ^ 0xFF);
    insert("flash-rom-file", {{"erase-polls", "0"},
                              {fault, std::string(fault) == "chr-protected" ? "yes" : stuck}});
    write_whole_file(folder.path("game.nes"), file);
    RomFileResult result{};
    captured([&] { result = flash_rom_file_run("game.nes"); });
    EXPECT_EQ(result, RomFileResult::verify_failed);
    EXPECT_TRUE(std::equal(file.begin() + 16, file.begin() + 16 + 0x8000, memory("prg").begin()));
    std::string out, err;
    EXPECT_EQ(run_cli({"flash-rom-file", "game.nes"}, &out, &err), 1) << out << err;
  }
}

// Whatever the job would refuse on the file alone, the runner refuses before the device is
// opened: not even the flash identification goes out.
TEST_F(NesRomJobs, RunnerRefusesAnUnusableRomFileBeforeAnythingIsSent) {
  insert("flash-rom-file");
  struct Case {
    const char* what;
    std::vector<uint8_t> file;  // empty: no file
    const char* message;
  } cases[] = {
      {"missing", {}, "cannot read"},
      {"one byte short", rom_file(2, 1, 0xA000 - 1), "holds 40975 bytes, but its header needs 40976"},
      {"no PRG", rom_file(0, 1, 0x2000), "no PRG data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(folder.path("game.nes"));
    if (!c.file.empty()) write_whole_file(folder.path("game.nes"), c.file);
    std::string out, err;
    EXPECT_EQ(run_cli({"flash-rom-file", "game.nes"}, &out, &err), 2);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(out, "");
    EXPECT_TRUE(device.trace().empty());
  }
  // Exactly 16 + PRG + CHR bytes is a whole file.
  write_whole_file(folder.path("game.nes"), rom_file(2, 1, 0xA000));
  EXPECT_EQ(run_cli({"flash-rom-file", "game.nes"}), 0);
}

// A job that prints what the device answered is not done when an answer never came: the runner
// fails it although the job itself has no way to tell.
TEST_F(NesRomJobs, RunnerFailsAJobWhoseAnswersWereLost) {
  insert("misc-byte-probe");
  // Reads 1 and 2 are discovery's and the identity's status sector; 3 is the first misc byte.
  fault_install(Fault::read_error, 3, kVirtualRoot);
  std::string out, err;
  EXPECT_EQ(run_cli({"misc-byte-probe"}, &out, &err), 1) << out;
  fault_remove();
  EXPECT_NE(err.find("cannot be trusted"), std::string::npos) << err;
  EXPECT_EQ(run_cli({"misc-byte-probe"}, &out, &err), 0) << err;
}

TEST_F(NesRomJobs, MiscByteProbeLoadsTheSerialRegisterBitByBit) {
  insert("misc-byte-probe");
  const std::string out = captured([] { misc_byte_probe(); });
  EXPECT_EQ(out, "Misc byte: 00\nMisc byte: 01\nMisc byte: 02\nMisc byte: 03\nMisc byte: 03\n");
  // The reset, then per value five writes to $8000 carrying its bits from the lowest up and
  // one misc-byte request; one more request at the end.
  std::vector<std::pair<uint8_t, uint8_t>> expected = {{5, 0x80}};
  for (uint8_t v = 0; v < 4; ++v) {
    for (int s = 0; s < 5; ++s) expected.push_back({5, static_cast<uint8_t>(v >> s)});
    expected.push_back({18, 0});
  }
  expected.push_back({18, 0});
  std::vector<std::pair<uint8_t, uint8_t>> sent;
  for (const auto& file : command_files()) {
    ASSERT_EQ(file.data.size(), 512u);
    const uint8_t* p = file.data.data();
    if (p[2] == 5) {
      EXPECT_EQ(p[4] | (p[5] << 8), 0x8000);
    }
    sent.push_back({p[2], p[2] == 5 ? p[12] : uint8_t{0}});
  }
  EXPECT_EQ(sent, expected);
}

TEST_F(NesRomJobs, RunnerExitCodes) {
  write_whole_file(folder.path("game.nes"), rom_file(1, 1, 0x6000));
  write_whole_file(folder.path("short.nes"), rom_file(1, 1, 0x100));
  struct Case {
    const char* cartridge;
    vdev::CartridgeOptions options;
    std::vector<std::string> args;
    int exit_code;
  } cases[] = {
      {"ginga", {}, {"ginga-dump"}, 0},
      {"ginga", {{"wrong-cartridge", "yes"}}, {"ginga-dump"}, 1},
      {"flash-rom-file", {{"erase-polls", "0"}}, {"flash-rom-file", "game.nes"}, 0},
      {"flash-rom-file",
       {{"erase-polls", "0"}, {"stuck-bit", "0x10:1:0"}},
       {"flash-rom-file", "game.nes"},
       1},
      {"flash-rom-file", {}, {"flash-rom-file"}, 2},  // no gac.nes here
      {"flash-rom-file", {}, {"flash-rom-file", "short.nes"}, 2},
      {"flash-rom-file", {}, {"flash-rom-file", "a", "b"}, 2},
      {"misc-byte-probe", {}, {"misc-byte-probe"}, 0},
      {"f90", {}, {"save-ram-dump"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.cartridge + " " + std::to_string(c.exit_code));
    TearDown();
    SetUp();
    write_whole_file(folder.path("game.nes"), rom_file(1, 1, 0x6000));
    write_whole_file(folder.path("short.nes"), rom_file(1, 1, 0x100));
    insert(c.cartridge, c.options);
    std::string out, err;
    EXPECT_EQ(run_cli(c.args, &out, &err), c.exit_code) << out << err;
  }
  EXPECT_EQ(read_whole_file(folder.path("f90.sav")).size(), 8320u);
}

}  // namespace
