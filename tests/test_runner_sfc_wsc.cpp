// cartlink-run's sfc and wsc slots and identity jobs, judged by what ends up in the output file,
// on the virtual cartridge and on the console.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/sleep.h"
#include "tests/slot_family_support.h"
#include "virtual_device/sfc_cart.h"
#include "virtual_device/wsc_cart.h"

namespace {

uint32_t g_pauses = 0;
void count_pause(uint32_t) { ++g_pauses; }

class RunnerSlots : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    g_pauses = 0;
    plat_install_sleep(count_pause);
  }
  void TearDown() override {
    plat_install_sleep(nullptr);
    VirtualDeviceTest::TearDown();
  }

  vdev::SfcCartridge* insert_sfc(const std::string& identity, vdev::FlashChipConfig flash = {}) {
    device.config().name = identity;
    device.config().identity = identity;
    vdev::SfcCartConfig config;
    flash.size = 0x400000;
    config.flash = flash;
    config.rom = rom = byte_pattern(0x400000, 0x31);
    auto cartridge = std::make_unique<vdev::SfcCartridge>(device.config(), config);
    auto* cart = cartridge.get();
    device.insert(std::move(cartridge));
    return cart;
  }

  vdev::WscCartridge* insert_wsc(const std::string& identity, vdev::FlashChipConfig flash = {}) {
    device.config().name = identity;
    device.config().identity = identity;
    vdev::WscCartConfig config;
    flash.size = 0x100000;
    flash.word_mode = true;
    config.flash = flash;
    config.rom = rom = byte_pattern(0x100000, 0x47);
    auto cartridge = std::make_unique<vdev::WscCartridge>(device.config(), config);
    auto* cart = cartridge.get();
    device.insert(std::move(cartridge));
    return cart;
  }

  std::string out_path() const { return folder.path("out.bin"); }
  std::string in_path() const { return folder.path("in.bin"); }

  TempDir folder;
  std::vector<uint8_t> rom;
};

TEST_F(RunnerSlots, ReadSfcGivesTheCartridgeBytes) {
  struct Case {
    const char* identity;
    const char* address;
    const char* length;
    uint32_t first;
    uint32_t size;
  } cases[] = {
      {"SFC_HWRKA_FW308", "0", "4M", 0, 0x400000},
      {"GEN_HWRKA_FW320", "0", "4M", 0, 0x400000},
      {"SFC_Q3V8_FW412", "0x123457", "5000", 0x123457, 5000},
      {"SFC_HWRKA_FW308", "0x3FFC00", "1K", 0x3FFC00, 0x400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    insert_sfc(c.identity);
    std::string out;
    ASSERT_EQ(run_cli({"read", "sfc", c.address, c.length, out_path()}, &out), 0);
    EXPECT_EQ(out.rfind("Device: ", 0), 0u);
    const auto file = read_whole_file(out_path());
    EXPECT_EQ(file, std::vector<uint8_t>(rom.begin() + c.first, rom.begin() + c.first + c.size));
  }
}

TEST_F(RunnerSlots, SfcEraseWriteAndReadBack) {
  auto* cart = insert_sfc("SFC_HWRKA_FW308");
  ASSERT_EQ(run_cli({"erase", "sfc", "0x20000"}), 0);
  auto& cells = cart->flash().bytes();
  for (uint32_t i = 0; i < 0x400000; ++i) {
    const bool inside = i >= 0x20000 && i < 0x30000;
    ASSERT_EQ(cells[i], inside ? 0xFF : rom[i]) << i;
  }
  const auto data = byte_pattern(70000, 4);
  write_whole_file(in_path(), std::vector<uint8_t>(data.begin(), data.begin() + 0x10000));
  ASSERT_EQ(run_cli({"write", "sfc", "0x20000", in_path()}), 0);
  ASSERT_EQ(run_cli({"read", "sfc", "0x20000", "64K", out_path()}), 0);
  EXPECT_EQ(read_whole_file(out_path()),
            std::vector<uint8_t>(data.begin(), data.begin() + 0x10000));

  ASSERT_EQ(run_cli({"erase", "sfc"}), 0);
  EXPECT_EQ(cells, std::vector<uint8_t>(0x400000, 0xFF));
  // A write of more than one batch lands whole.
  write_whole_file(in_path(), data);
  ASSERT_EQ(run_cli({"write", "sfc", "0x100", in_path()}), 0);
  EXPECT_EQ(std::vector<uint8_t>(cells.begin() + 0x100, cells.begin() + 0x100 + 70000), data);
}

TEST_F(RunnerSlots, EraseThatNeverEndsFailsAfterItsPolls) {
  struct Case {
    const char* slot;
    std::vector<std::string> args;
    uint32_t pauses;  // one before every status read but the first
  } cases[] = {
      {"sfc", {"erase", "sfc", "0x10000"}, 100},
      {"sfc", {"erase", "sfc"}, 3000},
      {"wsc", {"erase", "wsc", "0x10000"}, 51},
      {"wsc", {"erase", "wsc"}, 3000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size());
    if (std::string(c.slot) == "sfc") {
      insert_sfc("SFC_HWRKA_FW308", {.erase_never_finishes = true});
    } else {
      insert_wsc("WSC_HWRKA_FW400", {.erase_never_finishes = true});
    }
    g_pauses = 0;
    std::string err;
    EXPECT_EQ(run_cli(c.args, nullptr, &err), 1);
    EXPECT_NE(err.find("did not read back erased"), std::string::npos) << err;
    EXPECT_EQ(g_pauses, c.pauses);
  }
}

// An erase that is still busy for exactly as many status reads as the runner pauses for ends
// at its last read; one more and the runner gives up.
TEST_F(RunnerSlots, EraseThatEndsAtTheLastPollSucceeds) {
  struct Case {
    const char* slot;
    std::vector<std::string> args;
    uint32_t busy_reads;
    int exit_code;
  } cases[] = {
      {"sfc", {"erase", "sfc", "0x10000"}, 100, 0},
      {"sfc", {"erase", "sfc", "0x10000"}, 101, 1},
      {"sfc", {"erase", "sfc"}, 3000, 0},
      {"sfc", {"erase", "sfc"}, 3001, 1},
      {"wsc", {"erase", "wsc", "0x10000"}, 50, 0},
      {"wsc", {"erase", "wsc", "0x10000"}, 51, 1},
      {"wsc", {"erase", "wsc"}, 3000, 0},
      {"wsc", {"erase", "wsc"}, 3001, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.slot) + " " + std::to_string(c.args.size()) + " " +
                 std::to_string(c.busy_reads));
    if (std::string(c.slot) == "sfc") {
      insert_sfc("SFC_HWRKA_FW308", {.erase_polls = c.busy_reads});
    } else {
      insert_wsc("WSC_HWRKA_FW400", {.erase_polls = c.busy_reads});
    }
    std::string err;
    EXPECT_EQ(run_cli(c.args, nullptr, &err), c.exit_code) << err;
  }
}

TEST_F(RunnerSlots, ReadWscByWindowOrChunks) {
  struct Case {
    const char* address;
    const char* length;
    uint32_t first, size;
    bool window;
  } cases[] = {
      {"0", "1M", 0, 0x100000, true},
      {"0x400", "3K", 0x400, 0xC00, true},
      {"0x401", "1024", 0x401, 1024, false},
      {"0xFFF00", "256", 0xFFF00, 256, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    insert_wsc("WSC_HWRKA_FW400");
    device.clear_trace();
    ASSERT_EQ(run_cli({"read", "wsc", c.address, c.length, out_path()}), 0);
    EXPECT_EQ(read_whole_file(out_path()),
              std::vector<uint8_t>(rom.begin() + c.first, rom.begin() + c.first + c.size));
    size_t chunk_packets = 0;
    for (const auto& p : device.packets()) chunk_packets += p.family == 10 && p.sub == 4;
    EXPECT_EQ(chunk_packets == 0, c.window);
  }
}

TEST_F(RunnerSlots, WscEraseWriteAndReadBack) {
  auto* cart = insert_wsc("WSC_Q3V8_FW400");
  ASSERT_EQ(run_cli({"erase", "wsc", "0x30000"}), 0);
  auto& cells = cart->flash().bytes();
  for (uint32_t i = 0; i < 0x100000; ++i) {
    ASSERT_EQ(cells[i], i >= 0x30000 && i < 0x40000 ? 0xFF : rom[i]) << i;
  }
  const auto data = byte_pattern(4001, 8);
  write_whole_file(in_path(), data);
  ASSERT_EQ(run_cli({"write", "wsc", "0x30001", in_path()}), 0);
  ASSERT_EQ(run_cli({"read", "wsc", "0x30001", "4001", out_path()}), 0);
  EXPECT_EQ(read_whole_file(out_path()), data);
  ASSERT_EQ(run_cli({"erase", "wsc"}), 0);
  EXPECT_EQ(cells, std::vector<uint8_t>(0x100000, 0xFF));
}

// A write that does not take (onto bytes that were not erased, or onto a protected chip) ends
// as a failure; the same write onto erased flash is done.
TEST_F(RunnerSlots, WriteThatDoesNotTakeFails) {
  struct Case {
    const char* name;
    bool sfc;
    bool erased;
    bool protect;
    int exit;
  } cases[] = {
      {"sfc onto erased flash", true, true, false, 0},
      {"sfc onto the old game", true, false, false, 1},
      {"sfc onto a protected chip", true, true, true, 1},
      {"wsc onto erased flash", false, true, false, 0},
      {"wsc onto the old game", false, false, false, 1},
      {"wsc onto a protected chip", false, true, true, 1},
  };
  const auto data = byte_pattern(3000, 6);
  write_whole_file(in_path(), data);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const vdev::FlashChipConfig flash{.protect = c.protect};
    auto& cells = c.sfc ? insert_sfc("SFC_HWRKA_FW308", flash)->flash().bytes()
                        : insert_wsc("WSC_HWRKA_FW400", flash)->flash().bytes();
    if (c.erased) std::fill(cells.begin() + 0x20000, cells.begin() + 0x30000, 0xFF);
    std::string err;
    EXPECT_EQ(run_cli({"write", c.sfc ? "sfc" : "wsc", "0x20001", in_path()}, nullptr, &err),
              c.exit);
    if (c.exit == 0) {
      EXPECT_EQ(std::vector<uint8_t>(cells.begin() + 0x20001, cells.begin() + 0x20001 + 3000),
                data);
    } else {
      EXPECT_NE(err.find("reads back"), std::string::npos) << err;
    }
  }
}

TEST_F(RunnerSlots, IdentityJobsSayWhatWasDecided) {
  struct Case {
    bool sfc;
    const char* identity;
    std::vector<const char*> lines;
  } cases[] = {
      {true, "SFC_HWRKA_FW308", {"SFC level: 308\n", "sub-command 4"}},
      {true, "GEN_HWRKA_FW320", {"SFC level: 320\n", "the whole 16 MiB bus"}},
      {true, "NES_HWRKA_FW400", {"SFC level: 0\n"}},
      {false, "WSC_HWRKA_FW400", {"WSC cipher flag: off"}},
      {false, "WSC_HWRKA_FW310", {"WSC cipher flag: on"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    if (c.sfc) {
      insert_sfc(c.identity);
    } else {
      insert_wsc(c.identity);
    }
    std::string out;
    ASSERT_EQ(run_cli({c.sfc ? "sfc-identify" : "wsc-identify"}, &out), 0);
    for (const char* line : c.lines) EXPECT_NE(out.find(line), std::string::npos) << out;
  }
}

TEST_F(RunnerSlots, RefusedBeforeAnythingIsSent) {
  insert_sfc("SFC_HWRKA_FW308");
  write_whole_file(in_path(), std::vector<uint8_t>(0x200, 1));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"read", "sfc", "0xFFFFFF", "2", "x.bin"}, "past the end"},
      {{"read", "sfc", "0x1000000", "1", "x.bin"}, "outside slot"},
      {{"write", "wsc", "0xFFF00", "IN"}, "past the end"},
      {{"erase", "wsc", "0x100000"}, "outside slot"},
      {{"erase", "sfc", "0x1000000"}, "outside slot"},
  };
  for (auto c : cases) {
    for (auto& a : c.args) {
      if (a == "IN") a = in_path();
      if (a == "x.bin") a = out_path();
    }
    device.clear_trace();
    std::string err;
    EXPECT_EQ(run_cli(c.args, nullptr, &err), 2) << c.args[0];
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(command_files().empty());
  }
}

}  // namespace
