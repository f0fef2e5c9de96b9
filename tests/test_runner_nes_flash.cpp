// cartlink-run's NES flash jobs in-process: exit codes, the refusals that come before any
// erase, identification before a PRG job, and what ends up on the chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/flash_job_support.h"

namespace {

class RunnerNesFlash : public FlashJobTest {
 protected:
  std::string image_path(const std::vector<uint8_t>& image) {
    const std::string path = folder.path("image.bin");
    write_whole_file(path, image);
    return path;
  }
  // Sub-command 6 writes (flash commands) that the device saw.
  size_t flash_commands() const {
    size_t n = 0;
    for (const auto& p : device.packets()) n += p.family == 14 && p.sub == 6;
    return n;
  }
  TempDir folder;
};

TEST_F(RunnerNesFlash, ProgramsAPrgImageAfterIdentifyingTheChip) {
  insert("prg-flash-8001-one-sector", {{"chip-id", "01,7E"}, {"erase-polls", "0"}});
  const auto image = flash_image(0x4000);
  std::string out, err;
  EXPECT_EQ(run_cli({"prg-flash-8001-one-sector", image_path(image)}, &out, &err), 0) << err;
  const std::string id = id_line({0x0001, 0x007E}, false);
  // A 128 KiB chip's CFI size code (17) is below the smallest the decoder takes.
  const std::string identification = id + "29GL\nFlash chip size: 0\n";
  EXPECT_EQ(out, "Device: NES_HWRKA_FW403\n" + identification + id +
                     "\nErase bank0.\nFlash......\n..\n\n");
  EXPECT_EQ(err, "");
  const auto& chip = memory("prg");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));
}

TEST_F(RunnerNesFlash, ExitCodesForVerifyErrorsAndRamFaults) {
  struct Case {
    const char* cartridge;
    vdev::CartridgeOptions options;
    std::vector<std::string> args;  // "IMAGE" is replaced by an image file's path
    int exit_code;
  } cases[] = {
      {"chr-flash-5120-1k", {{"erase-polls", "0"}}, {"chr-flash-5120-1k", "IMAGE"}, 0},
      {"chr-flash-5120-1k",
       {{"erase-polls", "0"}, {"stuck-bit", "0x10:0x01:0"}},
       {"chr-flash-5120-1k", "IMAGE"},
       1},
      {"prg-flash-8000-bank",
       {{"erase-polls", "0"}, {"stuck-bit", "0x2010:0x01:0"}},
       {"prg-flash-8000-bank", "IMAGE"},
       1},
      {"work-ram-test", {}, {"work-ram-test"}, 0},
      {"work-ram-test", {{"ram-stuck-bit", "5:0x02:0"}}, {"work-ram-test"}, 1},
      {"identify-flash", {}, {"identify-flash"}, 0},
  };
  auto image = flash_image(0x4000);
  for (uint8_t& b : image) b |= 0x03;  // the stuck bits cannot hold these bytes
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cartridge + std::string(" ") + std::to_string(c.exit_code));
    TearDown();
    SetUp();
    insert(c.cartridge, c.options);
    std::vector<std::string> args = c.args;
    for (auto& a : args) {
      if (a == "IMAGE") a = image_path(image);
    }
    std::string out, err;
    EXPECT_EQ(run_cli(args, &out, &err), c.exit_code) << out << err;
  }
}

// Images a job cannot take are refused before any flash command is sent.
TEST_F(RunnerNesFlash, RefusesUnusableImagesBeforeErasing) {
  struct Case {
    const char* job;
    uint32_t size;  // 0: no such file
    const char* message;
  } cases[] = {
      {"prg-flash-7000-pair", 0xFFFF, "needs at least 65536"},
      {"chr-flash-8001-boot-sectors", 0x3FFFF, "needs at least 262144"},
      {"prg-flash-5116-window", 0x3FFF, "needs at least 16384"},
      {"prg-flash-8001-chip-5000", 0x1FFF, "needs at least 8192"},
      {"chr-flash-4k-upper", 0xFFF, "needs at least 4096"},
      {"chr-flash-9000-1k", 0, "cannot read"},
      {"prg-flash-8000-bank", 0x1FFF, "needs at least 8192"},
      {"prg-flash-8001-one-sector", 0x1FFF, "needs at least 8192"},
      {"prg-flash-8001-two-sectors", 0, "cannot read"},
      {"prg-flash-8001-two-sectors-5000", 0x1FFF, "needs at least 8192"},
      {"chr-flash-4100-2k1k", 0x1FFF, "needs at least 8192"},
      {"chr-flash-4k-inverted", 0xFFF, "needs at least 4096"},
      {"chr-flash-5120-1k", 0x1FFF, "needs at least 8192"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job);
    TearDown();
    SetUp();
    insert("prg-flash-5116-window");
    std::string path = folder.path("missing.bin");
    if (c.size != 0) path = image_path(flash_image(c.size));
    std::string out, err;
    EXPECT_EQ(run_cli({c.job, path}, &out, &err), 2);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    // Refused before the device is opened: not even the identification went out.
    EXPECT_EQ(out, "");
    EXPECT_TRUE(device.trace().empty());
    EXPECT_EQ(flash_commands(), 0u);
    EXPECT_EQ(dynamic_cast<vdev::FlashBoard*>(device.nes())->prg_chip()->erases_started(), 0u);
  }
}

TEST_F(RunnerNesFlash, UsageAndNoDevice) {
  std::string out, err;
  EXPECT_EQ(run_cli({"prg-flash-8000-bank"}, &out, &err), 2);
  EXPECT_EQ(run_cli({"identify-flash", "extra"}, &out, &err), 2);
  vdev::detach();
  vdev::attach({});
  EXPECT_EQ(run_cli({"identify-flash"}, &out, &err), 3);
  EXPECT_NE(err.find("Open device error."), std::string::npos);
}

TEST_F(RunnerNesFlash, WarnsAboutBytesPastTheLastWholeBank) {
  insert("chr-flash-9000-1k", {{"erase-polls", "0"}});
  const auto image = flash_image(0x2800);
  std::string out, err;
  EXPECT_EQ(run_cli({"chr-flash-9000-1k", image_path(image)}, &out, &err), 0);
  EXPECT_NE(err.find("the last 2048 bytes"), std::string::npos) << err;
  const auto& chip = memory("chr");
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x2000, chip.begin()));
  EXPECT_EQ(chip[0x2000], 0xFF);
}

TEST_F(RunnerNesFlash, ListNamesEveryFlashJob) {
  std::string out;
  EXPECT_EQ(run_cli({"list"}, &out), 0);
  for (const char* job :
       {"identify-flash", "work-ram-test", "prg-flash-7000-pair FILE", "prg-flash-5116-window",
        "prg-flash-8000-bank", "prg-flash-8001-one-sector", "prg-flash-8001-two-sectors ",
        "prg-flash-8001-two-sectors-5000", "prg-flash-8001-chip-5000",
        "chr-flash-8001-boot-sectors", "chr-flash-9000-1k", "chr-flash-4100-2k1k",
        "chr-flash-4k-upper", "chr-flash-4k-inverted", "chr-flash-5120-1k"}) {
    EXPECT_NE(out.find(job), std::string::npos) << job;
  }
}

}  // namespace
