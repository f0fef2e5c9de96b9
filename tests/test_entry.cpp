// The entry's job, run in a child process as the program runs it: real standard output, real
// exit, "f90.sav" in a fresh working folder.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/entry.h"
#include "tests/support.h"
#include "virtual_device/nes_boards.h"

namespace {

struct EntryRun {
  int exit_code = -1;
  std::string output;
};

// Runs save_ram_dump in a child whose working folder is `folder` and whose standard input
// holds `input`; the parent's virtual devices are the child's too.
EntryRun run_entry(const TempDir& folder, const std::string& input) {
  std::string out_path = folder.path(".stdout"), in_path = folder.path(".stdin");
  write_whole_file(in_path, std::vector<uint8_t>(input.begin(), input.end()));
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        chdir(folder.root().c_str()) != 0) {
      _exit(99);
    }
    save_ram_dump();
  }
  EntryRun run;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  }
  auto bytes = read_whole_file(out_path);
  run.output.assign(bytes.begin(), bytes.end());
  std::filesystem::remove(out_path);
  std::filesystem::remove(in_path);
  return run;
}

std::string expected_listing(const std::array<uint8_t, 128>& ram) {
  std::string text;
  char piece[8];
  for (size_t i = 0; i < ram.size(); ++i) {
    if (i % 16 == 0) {
      std::snprintf(piece, sizeof piece, "\n%.3X:", static_cast<unsigned>(i));
      text += piece;
    }
    std::snprintf(piece, sizeof piece, "%.2X ", ram[i]);
    text += piece;
  }
  return text + "\n";
}

class EntryTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    auto board = std::make_unique<vdev::F90Board>();
    ram = board->expansion_ram();
    device.insert_nes(std::move(board));
  }

  void expect_main_job(const EntryRun& run) {
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, "Device: " + device.config().name + "\n" + expected_listing(ram) +
                              "Save to file f90.sav\nPlease press any key to exit...\n");
    std::vector<uint8_t> expected(8192, 0);
    expected.insert(expected.end(), ram.begin(), ram.end());
    EXPECT_EQ(read_whole_file(folder.path("f90.sav")), expected);
  }

  TempDir folder;
  std::array<uint8_t, 128> ram{};
};

TEST_F(EntryTest, DumpsTheExpansionRamWithTheKeyFromTheStatusSector) {
  device.config().key_source = vdev::KeySource::status_sector;
  expect_main_job(run_entry(folder, "\n"));
}

TEST_F(EntryTest, DumpsTheExpansionRamWithTheKeyFetchedByRequest) {
  device.config().key_source = vdev::KeySource::request;
  device.config().identity = "NES_Q3V8_FW403";
  expect_main_job(run_entry(folder, ""));  // end of input counts as the key
}

TEST_F(EntryTest, NoDeviceSaysSoAndWritesNothing) {
  vdev::attach({});
  EntryRun run = run_entry(folder, "x");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "Open device error.\nPlease press any key to exit...\n");
  EXPECT_FALSE(std::filesystem::exists(folder.path("f90.sav")));
}

TEST_F(EntryTest, FailedSaveIsReportedAndKeepsTheOlderFile) {
  std::vector<uint8_t> older(8320, 0xAB);
  write_whole_file(folder.path("f90.sav"), older);
  std::filesystem::create_directory(folder.path("f90.sav.tmp"));  // the save cannot be written
  EntryRun run = run_entry(folder, "\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output.find("Save to file f90.sav"), std::string::npos);
  EXPECT_NE(run.output.find("Could not save f90.sav"), std::string::npos);
  EXPECT_EQ(read_whole_file(folder.path("f90.sav")), older);
}

}  // namespace
