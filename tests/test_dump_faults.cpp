// cartlink-run dump run once for every file operation it makes, with that operation failing in
// each way a file system or an unplugged device can fail: it never reports a dump as done when
// its file does not hold the cartridge, never leaves a temporary file, and never touches an
// older file of the output's name unless it replaces it with a finished dump.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/fault_ops.h"
#include "tests/support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/rom_images.h"

namespace {

const std::vector<uint8_t> kOlderFile(777, 0xAB);

class DumpFaultTest : public VirtualDeviceTest {
 protected:
  void TearDown() override {
    fault_remove();
    VirtualDeviceTest::TearDown();
  }
  TempDir folder{"/dev/shm"};
};

TEST_F(DumpFaultTest, NeverReportsAnUnfinishedDumpAsDone) {
  struct Row {
    const char* kind;
    const char* identity;
    std::vector<std::string> args;
    std::vector<uint8_t> image;
  } rows[] = {
      {"nes-nrom", "NES_HWRKA_FW403", {"nes", "--mapper", "0"},
       vdev::make_ines_image(0, 0x8000, 0x2000, NesMirroring::horizontal)},
      {"sfc-lorom", "SFC_Q3V8_FW412", {"sfc"},
       vdev::make_sfc_image(SfcMap::lorom, 0x40000, 0, "FAULTS")},
  };
  const std::string out = folder.path("out.bin");
  const std::string rom = folder.path("rom.bin");
  for (const auto& row : rows) {
    write_whole_file(rom, row.image);
    std::vector<std::string> args = {"dump"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.insert(args.end(), {out, "--force"});
    for (Fault fault : kAllFaults) {
      auto prepare = [&] {
        reset_program_state();
        device.clear_trace();
        device.config().name = device.config().identity = row.identity;
        std::string error;
        ASSERT_TRUE(vdev::find_cartridge_kind(row.kind)->build(device, {{"rom", rom}}, error))
            << error;
        write_whole_file(out, kOlderFile);
      };
      auto run = [&](uint32_t n) {
        const std::string where = std::string(row.kind) + ", " + fault_name(fault) + " at " +
                                  std::to_string(n);
        std::string err;
        const int code = run_cli(args, nullptr, &err);
        if (n == 0) {
          ASSERT_EQ(code, 0) << where << ": " << err;
        }
        if (code == 0) {
          EXPECT_EQ(read_whole_file(out), row.image) << where;
        } else {
          EXPECT_FALSE(err.empty()) << where;
          EXPECT_EQ(read_whole_file(out), kOlderFile) << where << ": " << err;
        }
        if (fault != Fault::open_failure) {
          EXPECT_FALSE(std::filesystem::exists(out + ".tmp")) << where;
        }
      };
      prepare();
      fault_install(fault, 0, kVirtualRoot);
      run(0);
      fault_remove();
      const uint32_t steps = fault_candidates();
      for (uint32_t n = 1; n <= steps; ++n) {
        prepare();
        fault_install(fault, n, kVirtualRoot);
        run(n);
        fault_remove();
      }
    }
  }
}

}  // namespace
