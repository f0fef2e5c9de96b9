// cartlink-run's contract: what it refuses before anything is sent, its exit codes, and that a
// slot read hands the user exactly the cartridge's bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "link/link_state.h"
#include "runner/args.h"
#include "tests/support.h"
#include "virtual_device/nes_boards.h"

namespace {

TEST(RunnerArgs, NumbersAndSizes) {
  struct Case {
    const char* text;
    bool size;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", false, true, 0},         {"4096", false, true, 4096},
      {"0x8001", false, true, 0x8001}, {"0XfFfF", false, true, 0xFFFF},
      {"18446744073709551615", false, true, UINT64_MAX},
      {"18446744073709551616", false, false, 0},
      {"0x", false, false, 0},       {"", false, false, 0},
      {"-1", false, false, 0},       {"12a", false, false, 0},
      {"4K", false, false, 0},       {"4K", true, true, 4096},
      {"8M", true, true, 0x800000},  {"0x10K", true, false, 0},
      {"K", true, false, 0},         {"17592186044416M", true, false, 0},
  };
  for (const auto& c : cases) {
    uint64_t v = 0;
    const bool ok = c.size ? parse_size(c.text, v) : parse_number(c.text, v);
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(RunnerArgs, JobWordsSplitOptionsAnywhere) {
  const std::vector<JobOption> options = {{"dat", true}, {"force", false}};
  struct Case {
    std::vector<std::string> words;
    bool ok;
    size_t positional;
  } cases[] = {
      {{"sfc", "--dat", "a.dat", "out.sfc", "--force"}, true, 2},
      {{"--force", "--", "--dat"}, true, 1},  // after "--" a word is positional
      {{"sfc", "--dat"}, false, 0},           // value missing
      {{"--force", "--force"}, false, 0},     // given twice
      {{"--passes", "2"}, false, 0},          // not an option of this job
      {{"-", "--"}, true, 1},
  };
  for (const auto& c : cases) {
    JobWords w;
    testing::internal::CaptureStderr();
    const bool ok = split_job_words(c.words, options, w);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.ok) << c.words[0];
    if (ok) {
      EXPECT_EQ(w.positional.size(), c.positional) << c.words[0];
    }
  }
  JobWords w;
  ASSERT_TRUE(split_job_words({"x", "--dat", "--force"}, options, w));
  ASSERT_NE(w.value("dat"), nullptr);
  EXPECT_EQ(*w.value("dat"), "--force");  // a value is taken as given, even one with dashes
  EXPECT_FALSE(w.has("force"));
}

class RunnerTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    for (uint32_t i = 0; i < 0x8000; ++i) {
      contents.prg.push_back(static_cast<uint8_t>(i * 13 + (i >> 9)));
    }
    device.insert_nes(std::make_unique<vdev::F90Board>(contents));
  }
  std::string out_path() const { return folder.path("out.bin"); }

  TempDir folder;
  vdev::F90Contents contents;
};

TEST_F(RunnerTest, ReadsOddSpansOfTheCpuBusAtBothLevels) {
  for (const char* identity : {"NES_HWRKA_FW400", "NES_HWRKA_FW403"}) {
    device.config().identity = identity;
    std::string out;
    ASSERT_EQ(run_cli({"read", "nes-cpu", "0x8001", "2049", out_path()}, &out), 0) << identity;
    EXPECT_EQ(out.rfind("Device: ", 0), 0u);
    const auto file = read_whole_file(out_path());
    ASSERT_EQ(file.size(), 2049u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), contents.prg.begin() + 1)) << identity;
  }
}

TEST_F(RunnerTest, RefusesBeforeAnythingIsSent) {
  write_whole_file(folder.path("in.bin"), std::vector<uint8_t>(0x100, 0x42));
  write_whole_file(out_path(), {1, 2, 3});
  const std::string in = folder.path("in.bin");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"read", "nes-cpu", "0xFFFF", "2", out_path()}, "past the end"},
      {{"read", "nes-ppu", "0x4000", "1", out_path()}, "outside slot"},
      {{"read", "nes-cpu", "0", "0", out_path()}, "not a length"},
      {{"read", "nes-cpu", "zero", "1", out_path()}, "not an address"},
      {{"read", "snes", "0", "1", out_path()}, "unknown slot"},
      {{"read", "nes-cpu", "0", "1"}, "usage"},
      {{"write", "nes-cpu", "0xFF01", in}, "past the end"},
      {{"write", "nes-cpu", "0", folder.path("missing.bin")}, "cannot read"},
      {{"erase", "nes-cpu"}, "no erase"},
      {{"frobnicate"}, "unknown job"},
      {{}, "Usage"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_EQ(run_cli(c.args, nullptr, &err), 2) << c.message;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
  EXPECT_TRUE(command_files().empty());
  EXPECT_EQ(read_whole_file(out_path()), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(RunnerTest, WritesWorkRamAndReportsNoDevice) {
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ 0x5A);
  write_whole_file(folder.path("in.bin"), data);
  ASSERT_EQ(run_cli({"write", "nes-cpu", "0x6003", folder.path("in.bin")}), 0);
  auto* board = static_cast<vdev::F90Board*>(device.nes());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), board->work_ram().begin() + 3));

  vdev::attach({});  // no drives at all, whatever else this machine has mounted
  std::string err;
  EXPECT_EQ(run_cli({"read", "nes-cpu", "0", "16", out_path()}, nullptr, &err), 3);
  EXPECT_NE(err.find("Open device error."), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(out_path()));
}

}  // namespace

namespace {

// The families return nothing; a device that stops answering mid-read must still never give the
// user a file of bytes the cartridge did not hold.
TEST_F(RunnerTest, ADeviceThatStopsAnsweringFailsTheReadAndKeepsTheOldFile) {
  // A cartridge whose first bus read unplugs the device: its reply file is gone from then on.
  struct Unplugging : vdev::NesBoard {
    explicit Unplugging(vdev::Device& d) : device(d) {}
    uint8_t cpu_read(uint16_t) override {
      device.config().status_file = vdev::StatusFile::missing;
      return 0x42;
    }
    void cpu_write(uint16_t, uint8_t) override {}
    uint8_t ppu_read(uint16_t) override { return 0; }
    void ppu_write(uint16_t, uint8_t) override {}
    vdev::Device& device;
  };
  device.insert_nes(std::make_unique<Unplugging>(device));
  write_whole_file(out_path(), {7, 7, 7});
  std::string err;
  EXPECT_EQ(run_cli({"read", "nes-cpu", "0x8000", "0x1000", out_path()}, nullptr, &err), 1);
  EXPECT_NE(err.find("was not written"), std::string::npos) << err;
  EXPECT_EQ(read_whole_file(out_path()), (std::vector<uint8_t>{7, 7, 7}));
}

}  // namespace
