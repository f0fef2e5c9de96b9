// Every job that keeps or changes a user's data, run once for every file operation it makes
// with that operation failing in each way a file system or an unplugged device can fail: it
// ends, says so where the user's data is at stake, never reports a save or a write as done
// when it is not, and never destroys an older output file.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "nes/nes_family.h"
#include "platform/sleep.h"
#include "tests/fault_ops.h"
#include "tests/support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/nes_boards.h"

namespace {

const std::vector<uint8_t> kOlderFile(777, 0xAB);

// A cartlink-run command whose success means bytes landed somewhere: in the output file ("$OUT"
// in `args`) or on the cartridge (from "$IN", which holds `input`). A flash job joins the
// table as one more row: its arguments, its cartridge kind and the memory it programs.
struct RunnerRow {
  const char* name;
  std::vector<std::string> args;
  const char* identity;  // the firmware the device reports
  const char* memory;    // the cartridge memory the command reads or writes (see memory())
  uint32_t offset;       // where in that memory its bytes begin
  uint32_t input_size;   // bytes of "$IN" (0: the command reads into "$OUT" or erases)
  // A kind of the cartridge table with its options ("$ROM": a file of patterned contents);
  // nullptr: the F90 board.
  const char* cartridge = nullptr;
  vdev::CartridgeOptions options = {};
  uint32_t erased = 0;  // an erase: the bytes from `offset` that read 0xFF once it is done
  // A job that reports its failures on standard output, in lines holding one of these words.
  std::vector<std::string> job_failure_words = {};
};

// Flash cartridges of the erase rows: 1 MiB chips filled from "$ROM", so an erase shows.
const vdev::CartridgeOptions kFlashCart = {{"chip-size", "1M"}, {"rom", "$ROM"}};

const RunnerRow kRunnerRows[] = {
    {"read prg, reply file", {"read", "nes-cpu", "0x8000", "5000", "$OUT"}, "NES_HWRKA_FW400",
     "f90-prg", 0, 0},
    {"read prg, window", {"read", "nes-cpu", "0x8003", "0x2001", "$OUT"}, "NES_HWRKA_FW403",
     "f90-prg", 3, 0},
    {"read chr", {"read", "nes-ppu", "0", "8K", "$OUT"}, "NES_HWRKA_FW400", "f90-chr", 0, 0},
    {"write work ram", {"write", "nes-cpu", "0x6000", "$IN"}, "NES_HWRKA_FW400", "f90-wram", 0,
     3000},
    {"write work ram, fast", {"write", "nes-cpu", "0x6100", "$IN"}, "NES_HWRKA_FW403", "f90-wram",
     0x100, 700},
    // Every slot that erases, and one NES flash job: done means the flash holds what it must.
    {"erase sfc sector", {"erase", "sfc", "0x10000"}, "SFC_HWRKA_FW308", "sfc_flash", 0x10000, 0,
     "sfc", kFlashCart, 0x10000},
    {"erase sfc chip", {"erase", "sfc"}, "SFC_HWRKA_FW308", "sfc_flash", 0, 0, "sfc", kFlashCart,
     0x100000},
    {"erase wsc sector", {"erase", "wsc", "0x20000"}, "WSC_HWRKA_FW400", "wsc_flash", 0x20000, 0,
     "wsc", kFlashCart, 0x10000},
    {"erase wsc chip", {"erase", "wsc"}, "WSC_HWRKA_FW400", "wsc_flash", 0, 0, "wsc", kFlashCart,
     0x100000},
    {"erase n64 sector", {"erase", "n64", "0x10020000"}, "N64_HWRKB_FW400", "N64_ROM", 0x20000, 0,
     "n64", kFlashCart, 0x10000},
    {"prg flash job", {"prg-flash-8001-one-sector", "$IN"}, "NES_HWRKA_FW403", "prg", 0, 0x2000,
     "prg-flash-8001-one-sector", {{"erase-polls", "1"}}, 0, {"error.", "was not confirmed"}},
};

// A cartridge memory by name: the F90 board's own, or any the inserted cartridge lists.
std::vector<uint8_t>* memory(vdev::Device& device, const std::string& name) {
  if (auto* f90 = dynamic_cast<vdev::F90Board*>(device.nes())) {
    if (name == "f90-prg") return &f90->prg_rom();
    if (name == "f90-chr") return &f90->chr_rom();
    if (name == "f90-wram") return &f90->work_ram();
  }
  for (auto& m : device.memories()) {
    if (m.name == name) return m.bytes;
  }
  return nullptr;
}

class FaultTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    insert_board();
  }
  void TearDown() override {
    fault_remove();
    VirtualDeviceTest::TearDown();
  }
  // The row's cartridge, its "$ROM" option naming a file of patterned contents.
  void insert_cartridge(const RunnerRow& row) {
    device.insert(nullptr);  // one cartridge at a time: the last row's leaves the slot
    if (!row.cartridge) {
      insert_board();
      return;
    }
    vdev::CartridgeOptions options = row.options;
    for (auto& [name, value] : options) {
      if (value != "$ROM") continue;
      value = folder.path("rom.bin");
      if (!std::filesystem::exists(value)) write_whole_file(value, pattern_bytes(0x100000, 9));
    }
    std::string error;
    ASSERT_TRUE(vdev::find_cartridge_kind(row.cartridge)->build(device, options, error)) << error;
  }
  void insert_board() {
    vdev::F90Contents contents;
    for (uint32_t i = 0; i < 0x8000; ++i) {
      contents.prg.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
    }
    for (uint32_t i = 0; i < 0x2000; ++i) contents.chr.push_back(static_cast<uint8_t>(i * 3 + 1));
    device.insert_nes(std::make_unique<vdev::F90Board>(contents));
  }

  // Runs `job` with no fault to count the operations `fault` applies to, then once for each of
  // them failing, calling `check` after every run.
  void each_step(Fault fault, const std::function<void()>& prepare,
                 const std::function<void(uint32_t nth)>& run_and_check) {
    prepare();
    fault_install(fault, 0, kVirtualRoot);
    run_and_check(0);
    fault_remove();
    const uint32_t steps = fault_candidates();
    RecordProperty(std::string("steps: ") + fault_name(fault), static_cast<int>(steps));
    for (uint32_t n = 1; n <= steps; ++n) {
      prepare();
      fault_install(fault, n, kVirtualRoot);
      run_and_check(n);
      fault_remove();
    }
  }

  // Thousands of runs each sync their outputs: a memory-backed folder keeps that quick.
  TempDir folder{"/dev/shm"};
};

TEST_F(FaultTest, RunnerCommandsNeverReportUnfinishedWorkAsDone) {
  const std::string in = folder.path("in.bin"), out = folder.path("out.bin");
  for (const auto& row : kRunnerRows) {
    std::vector<uint8_t> input(row.input_size);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 11 + 5);
    std::vector<std::string> args = row.args;
    for (auto& a : args) a = a == "$IN" ? in : a == "$OUT" ? out : a;
    for (Fault fault : kAllFaults) {
      auto prepare = [&] {
        reset_program_state();
        plat_install_sleep([](uint32_t) {});  // polls need no real pauses here
        device.clear_trace();
        device.config().name = device.config().identity = row.identity;
        insert_cartridge(row);
        write_whole_file(in, input);
        write_whole_file(out, kOlderFile);
      };
      each_step(fault, prepare, [&](uint32_t n) {
        const std::string where = std::string(row.name) + ", " + fault_name(fault) + " at " +
                                  std::to_string(n);
        std::string out_text, err;
        const int code = run_cli(args, &out_text, &err);
        std::vector<uint8_t>* mem = memory(device, row.memory);
        ASSERT_NE(mem, nullptr) << where;
        if (n == 0) {
          ASSERT_EQ(code, 0) << where << ": " << err;
        }
        if (code == 0) {
          // Done means done: the output holds the cartridge's bytes, the cartridge the input's,
          // or the flash reads erased.
          if (row.erased != 0) {
            ASSERT_LE(row.offset + row.erased, mem->size()) << where;
            EXPECT_TRUE(std::all_of(mem->begin() + row.offset,
                                    mem->begin() + row.offset + row.erased,
                                    [](uint8_t b) { return b == 0xFF; })) << where;
          } else if (row.input_size == 0) {
            const auto file = read_whole_file(out);
            ASSERT_LE(row.offset + file.size(), mem->size()) << where;
            EXPECT_TRUE(file.size() > 0 && std::equal(file.begin(), file.end(),
                                                      mem->begin() + row.offset)) << where;
          } else {
            EXPECT_TRUE(std::equal(input.begin(), input.end(), mem->begin() + row.offset))
                << where;
          }
        } else {
          // A failure is never silent: the runner says so, or the job in its own words.
          const bool job_said = std::any_of(
              row.job_failure_words.begin(), row.job_failure_words.end(),
              [&](const std::string& w) { return out_text.find(w) != std::string::npos; });
          EXPECT_TRUE(!err.empty() || job_said) << where << ": " << out_text;
          EXPECT_EQ(read_whole_file(out), kOlderFile) << where;
        }
        if (fault != Fault::open_failure) {
          EXPECT_FALSE(std::filesystem::exists(out + ".tmp")) << where;
        }
        EXPECT_EQ(read_whole_file(in), input) << where;  // an input is only ever read
      });
    }
  }
}

// The entry's job in a child process, as the program runs it; its output and exit.
struct EntryRun {
  bool exited = false;
  std::string output;
};

EntryRun run_entry(const TempDir& folder) {
  const std::string out_path = folder.path(".stdout"), in_path = folder.path(".stdin");
  write_whole_file(in_path, {'\n'});
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    alarm(60);  // a hang fails the test instead of stopping the suite
    // The job ends with exit(0) and prints nothing after its last flush: end there, without
    // the test program's exit handlers (and a leak check of it) in each of thousands of runs.
    std::atexit([] {
      std::fflush(stdout);
      _exit(0);
    });
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        chdir(folder.root().c_str()) != 0) {
      _exit(99);
    }
    save_ram_dump();
  }
  EntryRun run;
  int status = 0;
  run.exited = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
  const auto bytes = read_whole_file(out_path);
  run.output.assign(bytes.begin(), bytes.end());
  return run;
}

TEST_F(FaultTest, MainJobNeverLosesTheRamOrAnOlderSave) {
  auto* board = dynamic_cast<vdev::F90Board*>(device.nes());
  ASSERT_NE(board, nullptr);
  const auto ram = board->expansion_ram();
  std::vector<uint8_t> saved(8192 + ram.size(), 0);
  std::copy(ram.begin(), ram.end(), saved.begin() + 8192);
  const std::string save = folder.path("f90.sav");
  for (Fault fault : kAllFaults) {
    auto prepare = [&] {
      // The state a start has; the 16 MiB image buffer is left alone (the job writes the same
      // bytes of it each time), which keeps thousands of forks quick.
      link_reset_state();
      cipher_reset_state();
      nes_reset_state();
      device.clear_trace();
      write_whole_file(save, kOlderFile);
    };
    each_step(fault, prepare, [&](uint32_t n) {
      const std::string where = std::string(fault_name(fault)) + " at " + std::to_string(n);
      const EntryRun run = run_entry(folder);
      ASSERT_TRUE(run.exited) << where << ": " << run.output;
      EXPECT_NE(run.output.find("Please press any key to exit...\n"), std::string::npos) << where;
      if (run.output.find("Save to file f90.sav") != std::string::npos) {
        EXPECT_EQ(read_whole_file(save), saved) << where;
      } else {
        EXPECT_NE(n, 0u) << run.output;
        EXPECT_TRUE(run.output.find("Could not save f90.sav") != std::string::npos ||
                    run.output.find("f90.sav was not written") != std::string::npos ||
                    run.output.find("Open device error.") != std::string::npos)
            << where << ": " << run.output;
        EXPECT_EQ(read_whole_file(save), kOlderFile) << where;
      }
    });
  }
}

}  // namespace
