// Every PRG and CHR flash job against its board: afterwards the chip holds the image where the
// job writes it, and the console shows what the job's rules prescribe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "nes/chr_flash.h"
#include "nes/flash_id.h"
#include "nes/prg_flash.h"
#include "tests/flash_job_support.h"

namespace {

using Job = std::function<bool(const uint8_t*, uint32_t)>;

// Progress of one unfinished erase poll: a dot, or the polled bytes 0 and 1 (a busy chip
// read through the window shows 00 with its toggle bit still).
const std::string kDot = ".";
const std::string kBusyBytes = "00 00\r";
constexpr uint32_t kPolls = 2;  // the chips' default busy reads per erase

struct JobCase {
  const char* cartridge;
  Job job;
  bool chr;
  uint32_t image_size;
  uint32_t bank_size;
  std::vector<std::string> unit_messages;  // printed after each erase unit ("" for none)
  std::string after_erase;
  std::string progress;
  uint32_t pause_ms;
  std::string closing;
};

std::vector<std::string> window_messages(uint32_t step) {
  std::vector<std::string> out;
  for (uint32_t s = 0; s < 1024; s += step)
    out.push_back("\nErase bank " + std::to_string(s / 16 + 8) + ".\n");
  return out;
}

std::vector<JobCase> job_cases() {
  const std::string chr_erase = "\nErase.\n";
  return {
      {"prg-flash-7000-pair",
       [](const uint8_t* d, uint32_t) { return prg_flash_7000_pair(d); },
       false,
       0x10000,
       0x8000,
       {"\nErase bank OK.\n"},
       "",
       kBusyBytes,
       0,
       "\n\n"},
      {"prg-flash-5116-window", prg_flash_5116_window, false, 0x10000, 0x2000, window_messages(64),
       "", kDot, 10, "\n\n"},
      {"prg-flash-8000-bank",
       prg_flash_8000_bank,
       false,
       0x40000,
       0x2000,
       {"\nErase bank0.\n", "\nErase bank1.\n"},
       "",
       kDot,
       100,
       "\n\n"},
      {"prg-flash-8001-one-sector",
       prg_flash_8001_one_sector,
       false,
       0x10000,
       0x2000,
       {"\nErase bank0.\n"},
       "",
       kDot,
       100,
       "\n\n"},
      {"prg-flash-8001-two-sectors",
       prg_flash_8001_two_sectors,
       false,
       0x40000,
       0x2000,
       {"", "\nErase bank0.\n"},
       "",
       kDot,
       100,
       "\n\n"},
      {"prg-flash-8001-two-sectors-5000",
       prg_flash_8001_two_sectors_5000,
       false,
       0x40000,
       0x2000,
       {"", "\nErase bank0.\n"},
       "",
       kDot,
       100,
       "\n\n"},
      // 130 banks: bank 128 goes through $5000 = 1 into the chip's second MiB.
      {"prg-flash-8001-chip-5000",
       prg_flash_8001_chip_5000,
       false,
       130 * 0x2000,
       0x2000,
       {"\nErase bank OK.\n"},
       "",
       kBusyBytes,
       0,
       "\n"},
      {"chr-flash-8001-boot-sectors",
       [](const uint8_t* d, uint32_t) { return chr_flash_8001_boot_sectors(d); },
       true,
       0x40000,
       0x2000,
       {"\nErase bank6.\n", "\nErase bank5.\n", "\nErase bank4.\n", "\nErase bank3.\n",
        "\nErase bank2.\n", "\nErase bank1.\n", "\nErase bank0.\n"},
       "",
       kDot,
       0,
       "\n\n"},
      // 34 banks: 32 and 33 need the high registers.
      {"chr-flash-9000-1k",
       chr_flash_9000_1k,
       true,
       34 * 0x2000,
       0x2000,
       {chr_erase},
       "",
       kBusyBytes,
       100,
       "\n\n"},
      {"chr-flash-4100-2k1k",
       chr_flash_4100_2k1k,
       true,
       34 * 0x2000,
       0x2000,
       {chr_erase},
       "",
       kBusyBytes,
       100,
       "\n\n"},
      // 66 banks of 4 KiB: 64 and 65 go through the $1000 window.
      {"chr-flash-4k-upper",
       chr_flash_4k_upper,
       true,
       66 * 0x1000,
       0x1000,
       {chr_erase},
       "",
       kBusyBytes,
       100,
       "\n\n"},
      {"chr-flash-4k-inverted",
       chr_flash_4k_inverted,
       true,
       66 * 0x1000,
       0x1000,
       {chr_erase},
       "",
       kBusyBytes,
       100,
       "\n\n"},
      {"chr-flash-5120-1k",
       chr_flash_5120_1k,
       true,
       34 * 0x2000,
       0x2000,
       {chr_erase},
       chr_erase,
       kBusyBytes,
       100,
       "\n\n"},
  };
}

class NesFlashJobs : public FlashJobTest {
 protected:
  // The whole console output of a clean run, from the job's rules.
  static std::string clean_output(const JobCase& c, const std::vector<uint16_t>& id) {
    std::string out = id_line(id, false);
    for (const auto& message : c.unit_messages) out += repeat(c.progress, kPolls) + message;
    out += c.after_erase + "Flash......\n";
    out += repeat(".", c.image_size / c.bank_size);
    if (std::string(c.cartridge) == "prg-flash-5116-window") out += ".";  // the last block
    return out + c.closing;
  }

  // PRG jobs are run after identify_flash, as the runner and the ROM-file job run them.
  bool run(const JobCase& c, const std::vector<uint8_t>& image) {
    if (!c.chr) captured([] { identify_flash(); });
    return c.job(image.data(), static_cast<uint32_t>(image.size()));
  }
};

TEST_F(NesFlashJobs, EveryJobProgramsItsBoardAndPrintsItsOutput) {
  for (const JobCase& c : job_cases()) {
    SCOPED_TRACE(c.cartridge);
    TearDown();
    SetUp();
    insert(c.cartridge);
    std::vector<uint8_t>& chip = memory(c.chr ? "chr" : "prg");
    // Old contents everywhere: only an erase lets the image verify.
    std::fill(chip.begin(), chip.end(), 0x00);
    const auto image = flash_image(c.image_size);
    bool verified = false;
    const std::string out = captured([&] { verified = run(c, image); });

    EXPECT_TRUE(verified);
    EXPECT_EQ(out, clean_output(c, {0x0001, 0x00A4}));
    ASSERT_GE(chip.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));
    const size_t polls = c.unit_messages.size() * kPolls;
    EXPECT_EQ(recorded_pauses(), std::vector<uint32_t>(c.pause_ms ? polls : 0, c.pause_ms));
  }
}

TEST_F(NesFlashJobs, WindowJobWritesTheLastBlockAtTheEndOfTheFirstMegabyte) {
  insert("prg-flash-5116-window");
  const auto image = flash_image(0x6000);
  captured([] { identify_flash(); });
  bool verified = false;
  captured([&] { verified = prg_flash_5116_window(image.data(), 0x6000); });
  EXPECT_TRUE(verified);
  const auto& chip = memory("prg");
  // Three whole banks from 0, then the last 16 KiB once more in banks 0x7E and 0x7F.
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));
  EXPECT_TRUE(std::equal(image.end() - 0x4000, image.end(), chip.begin() + 0xFC000));
}

TEST_F(NesFlashJobs, WindowEraseStepFollowsTheChipSize) {
  struct Case {
    const char* chip_size;
    uint32_t step;
  } cases[] = {{"8M", 64}, {"16M", 128}, {"32M", 128}, {"1M", 64}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chip_size);
    TearDown();
    SetUp();
    insert("prg-flash-5116-window", {{"chip-size", c.chip_size}, {"erase-polls", "0"}});
    const auto image = flash_image(0x4000);
    captured([] { identify_flash(); });
    const std::string out = captured([&] { prg_flash_5116_window(image.data(), 0x4000); });
    std::string messages;
    for (const auto& m : window_messages(c.step)) messages += m;
    EXPECT_NE(out.find(messages + "Flash......\n"), std::string::npos) << out;
    auto* board = dynamic_cast<vdev::FlashBoard*>(device.nes());
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->prg_chip()->erases_started(), 1024 / c.step);
  }
}

// A worn bit in bank 3: the PRG job reports it and programs the rest, the CHR job stops.
TEST_F(NesFlashJobs, VerifyErrorGoesOnInPrgJobsAndStopsChrJobs) {
  struct Case {
    const char* cartridge;
    bool chr;
    Job job;
  } cases[] = {{"prg-flash-8001-two-sectors", false, prg_flash_8001_two_sectors},
               {"chr-flash-9000-1k", true, chr_flash_9000_1k}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cartridge);
    TearDown();
    SetUp();
    const uint32_t bad = 3 * 0x2000 + 5;
    insert(c.cartridge, {{"stuck-bit", std::to_string(bad) + ":0x01:0"}, {"erase-polls", "0"}});
    auto image = flash_image(8 * 0x2000);
    image[bad] |= 0x01;  // the stuck bit cannot hold what the image has there
    if (!c.chr) captured([] { identify_flash(); });
    bool verified = true;
    const std::string out = captured([&] { verified = c.job(image.data(), 8 * 0x2000); });
    EXPECT_FALSE(verified);

    std::vector<uint8_t> read_back(image.begin() + 3 * 0x2000, image.begin() + 3 * 0x2000 + 16);
    read_back[5] &= 0xFE;
    const std::string error = "error.3\n" + hex_line(read_back.data());
    const std::string after_erase = c.chr ? "\nErase.\n" : "\nErase bank0.\n";
    std::string expected = after_erase + "Flash......\n...";
    if (c.chr) {
      expected += error + "\n\n";
    } else {
      expected += error + ".....\n\n";
    }
    ASSERT_GE(out.size(), expected.size());
    EXPECT_EQ(out.substr(out.size() - expected.size()), expected);

    const auto& chip = memory(c.chr ? "chr" : "prg");
    const bool later_banks_programmed =
        std::equal(image.begin() + 4 * 0x2000, image.end(), chip.begin() + 4 * 0x2000);
    EXPECT_EQ(later_banks_programmed, !c.chr);
    if (c.chr) {
      EXPECT_TRUE(std::all_of(chip.begin() + 4 * 0x2000, chip.begin() + 8 * 0x2000,
                              [](uint8_t b) { return b == 0xFF; }));
    }
  }
}

TEST_F(NesFlashJobs, CipheredBlockProgramBelowLevel403LandsRightOnTheChip) {
  for (const char* cartridge : {"prg-flash-8001-one-sector", "chr-flash-5120-1k"}) {
    SCOPED_TRACE(cartridge);
    TearDown();
    SetUp();
    use_old_firmware();
    insert(cartridge, {{"erase-polls", "1"}});
    const bool chr = cartridge[0] == 'c';
    const auto image = flash_image(0x6000, 0x5C);
    bool verified = false;
    captured([&] {
      if (!chr) identify_flash();
      verified = chr ? chr_flash_5120_1k(image.data(), 0x6000)
                     : prg_flash_8001_one_sector(image.data(), 0x6000);
    });
    EXPECT_TRUE(verified);
    const auto& chip = memory(chr ? "chr" : "prg");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));
  }
}

TEST_F(NesFlashJobs, ProtectionIsClearedOnlyWhenIdentificationByte4IsSet) {
  for (bool is_protected : {true, false}) {
    SCOPED_TRACE(is_protected);
    TearDown();
    SetUp();
    insert("prg-flash-8001-one-sector",
           {{"protected", is_protected ? "yes" : "no"}, {"erase-polls", "0"}});
    std::vector<uint8_t>& chip = memory("prg");
    std::fill(chip.begin(), chip.begin() + 0x10000, 0x00);
    const auto image = flash_image(0x4000);
    captured([] { identify_flash(); });
    device.clear_trace();
    bool verified = false;
    const std::string out =
        captured([&] { verified = prg_flash_8001_one_sector(image.data(), 0x4000); });
    EXPECT_TRUE(verified);
    EXPECT_EQ(out.substr(0, 49), id_line({0x0001, 0x00A4}, is_protected));
    // The clearing sequence's 0xC0 goes to $8AAA through the flash command write.
    bool sent_c0 = false;
    for (const auto& file : command_files()) {
      const uint8_t* p = file.data.data();
      if (file.data.size() == 512 && p[2] == 6 && p[4] == 0xAA && p[5] == 0x8A && p[12] == 0xC0) {
        sent_c0 = true;
      }
    }
    EXPECT_EQ(sent_c0, is_protected);
    auto* board = dynamic_cast<vdev::FlashBoard*>(device.nes());
    EXPECT_FALSE(board->prg_chip()->is_protected());
  }
}

TEST_F(NesFlashJobs, PrgJobWithoutIdentificationErasesNothing) {
  insert("prg-flash-8001-one-sector");
  const auto image = flash_image(0x4000);
  bool verified = true;
  const std::string out =
      captured([&] { verified = prg_flash_8001_one_sector(image.data(), 0x4000); });
  EXPECT_FALSE(verified);
  EXPECT_EQ(out, "No PRG program command chosen: identify the flash chip first.\n");
  EXPECT_TRUE(command_files().empty());
}

TEST_F(NesFlashJobs, WindowJobRefusesAnImageShorterThanItsLastBlock) {
  for (uint32_t length : {0u, 0x2000u, 0x3FFFu}) {
    SCOPED_TRACE(length);
    TearDown();
    SetUp();
    insert("prg-flash-5116-window");
    captured([] { identify_flash(); });
    device.clear_trace();
    const auto image = flash_image(0x4000);
    bool verified = true;
    const std::string out =
        captured([&] { verified = prg_flash_5116_window(image.data(), length); });
    EXPECT_FALSE(verified);
    EXPECT_EQ(out, "Image too short: " + std::to_string(length) +
                       " bytes, the last block needs 16384. Nothing erased.\n");
    EXPECT_TRUE(command_files().empty());
  }
}

TEST_F(NesFlashJobs, ShortImagesProgramWholeBanksOnly) {
  insert("prg-flash-8001-one-sector", {{"erase-polls", "0"}});
  captured([] { identify_flash(); });
  const auto image = flash_image(0x3000);
  const std::string out = captured([&] { prg_flash_8001_one_sector(image.data(), 0x3000); });
  EXPECT_EQ(out.substr(49), "\nErase bank0.\nFlash......\n.\n\n");
  const auto& chip = memory("prg");
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x2000, chip.begin()));
  EXPECT_TRUE(std::all_of(chip.begin() + 0x2000, chip.begin() + 0x3000,
                          [](uint8_t b) { return b == 0xFF; }));
}

// Polling has no limit: a slow chip gets one progress output and one pause per busy read.
TEST_F(NesFlashJobs, ErasePollingWaitsAsLongAsTheChipIsBusy) {
  insert("prg-flash-8001-one-sector", {{"erase-polls", "500"}});
  captured([] { identify_flash(); });
  const auto image = flash_image(0x2000);
  const std::string out = captured([&] { prg_flash_8001_one_sector(image.data(), 0x2000); });
  EXPECT_EQ(out.substr(49), repeat(".", 500) + "\nErase bank0.\nFlash......\n.\n\n");
  EXPECT_EQ(recorded_pauses(), std::vector<uint32_t>(500, 100));
}

}  // namespace
