// cartlink-run's N64 jobs and slots against the virtual N64 cartridge: what lands on the
// cartridge, what the user gets in files and on the console, and refusals before sending.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sleep.h"
#include "tests/n64_support.h"
#include "virtual_device/n64_cart.h"

namespace n64_test {
namespace {

constexpr uint32_t kChip = 0x100000;

uint32_t g_sleeps = 0;
void count_sleep(uint32_t) { ++g_sleeps; }

class N64Runner : public VirtualDeviceTest {
 protected:
  vdev::N64Cart& insert(const std::string& identity, vdev::N64CartConfig config = {}) {
    config.chip.size = kChip;
    if (config.rom.empty()) config.rom = pattern_bytes(kChip, 0x2D);
    auto cart = std::make_unique<vdev::N64Cart>(std::move(config));
    vdev::N64Cart& ref = *cart;
    device.insert(std::move(cart));
    device.config().name = identity;
    device.config().identity = identity;
    g_sleeps = 0;
    plat_install_sleep(count_sleep);
    return ref;
  }

  int run(const std::vector<std::string>& args) { return run_cli(args, &out, &err); }

  size_t packets_of(uint8_t sub) const {
    size_t n = 0;
    for (const auto& p : sent_packets()) n += p[1] == kFamilyN64 && p[2] == sub;
    return n;
  }

  TempDir folder;
  std::string out, err;
};

TEST_F(N64Runner, ReadsTheRomWindowAtEveryFirmware) {
  for (const char* identity : {"N64_HWRKB_FW319", "N64_HWRKB_FW320", "N64_Q3V6_FW400"}) {
    SCOPED_TRACE(identity);
    auto& cart = insert(identity);
    const std::string file = folder.path("rom.z64");
    ASSERT_EQ(run({"read", "n64", "0x10000001", "20001", file}), 0) << err;
    const auto got = read_whole_file(file);
    ASSERT_EQ(got.size(), 20001u);
    for (uint32_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], cart.rom_byte(1 + i)) << i;
  }
}

TEST_F(N64Runner, WritesProgramAndVerify) {
  for (const char* identity : {"N64_HWRKB_FW320", "N64_HWRKB_FW400"}) {
    SCOPED_TRACE(identity);
    vdev::N64CartConfig config;
    config.rom.assign(kChip, 0xFF);
    auto& cart = insert(identity, config);
    const auto data = pattern_bytes(1002, 0x61);
    write_whole_file(folder.path("in.bin"), data);
    ASSERT_EQ(run({"write", "n64", "0x10000100", folder.path("in.bin")}), 0) << err;
    for (uint32_t i = 0; i < data.size(); ++i) ASSERT_EQ(cart.rom_byte(0x100 + i), data[i]) << i;
  }
}

TEST_F(N64Runner, WriteRefusalsAndFailures) {
  insert("N64_HWRKB_FW400");  // the pattern: not erased
  const auto data = pattern_bytes(64, 1);
  write_whole_file(folder.path("in.bin"), data);
  EXPECT_EQ(run({"write", "n64", "0x10000000", folder.path("in.bin")}), 1);
  EXPECT_NE(err.find("the N64 flash at 0x10000001 reads back 0x00, not 0x08 (not erased?)"), std::string::npos) << err;

  device.clear_trace();
  EXPECT_EQ(run({"write", "n64", "0x10000001", folder.path("in.bin")}), 2);
  EXPECT_NE(err.find("multiples of 2"), std::string::npos) << err;
  EXPECT_EQ(packets_of(kN64SubWrite5), 0u);

  // The slot is the cartridge bus from 0x05000000 to 0x1FFFFFFF.
  EXPECT_EQ(run({"write", "n64", "0x1FFFFFF0", folder.path("in.bin")}), 2);
  EXPECT_NE(err.find("past the end"), std::string::npos) << err;
  EXPECT_EQ(run({"read", "n64", "0x04FFFFFF", "1", folder.path("x")}), 2);
  EXPECT_EQ(run({"read", "n64", "0x20000000", "1", folder.path("x")}), 2);
}

TEST_F(N64Runner, EraseSectorAndChip) {
  vdev::N64CartConfig config;
  config.chip.erase_polls = 4;
  auto& cart = insert("N64_HWRKB_FW320", config);
  ASSERT_EQ(run({"erase", "n64", "0x10010000"}), 0) << err;
  EXPECT_EQ(cart.rom_byte(0x10000), 0xFF);
  EXPECT_EQ(cart.rom_byte(0x1FFFF), 0xFF);
  EXPECT_NE(cart.rom_byte(0x20000), 0xFF);
  ASSERT_EQ(run({"erase", "n64"}), 0) << err;
  EXPECT_EQ(cart.rom_byte(0x20000), 0xFF);
  EXPECT_EQ(cart.rom_byte(kChip - 1), 0xFF);
}

TEST_F(N64Runner, EraseThatNeverFinishesFails) {
  vdev::N64CartConfig config;
  config.chip.erase_never_finishes = true;
  insert("N64_HWRKB_FW400", config);
  EXPECT_EQ(run({"erase", "n64", "0x10000000"}), 1);
  EXPECT_NE(err.find("did not read back erased"), std::string::npos) << err;
  EXPECT_EQ(packets_of(kN64SubRead), 52u);
  EXPECT_EQ(g_sleeps, 51u);
}

TEST_F(N64Runner, SaveMemoryWriteAndRead) {
  auto& cart = insert("N64_HWRKB_FW400");
  const auto data = pattern_bytes(0x20000, 0x19);  // two calls of the family: 65408 is the most
  write_whole_file(folder.path("save.bin"), data);
  ASSERT_EQ(run({"write", "n64-save", "0", folder.path("save.bin")}), 0) << err;
  EXPECT_EQ(cart.save_memory(), data);
  EXPECT_EQ(cart.write_starts(), 1u);
  ASSERT_EQ(run({"read", "n64-save", "0", "128K", folder.path("back.bin")}), 0) << err;
  EXPECT_EQ(read_whole_file(folder.path("back.bin")), data);
}

TEST_F(N64Runner, SaveWritesOfPartUnitsAreRefusedBeforeSending) {
  auto& cart = insert("N64_HWRKB_FW400");
  struct Case {
    const char* address;
    size_t size;
  };
  for (const Case c : {Case{"0", 100}, Case{"0", 129}, Case{"0", 1000}, Case{"0x40", 128}}) {
    SCOPED_TRACE(c.size);
    device.clear_trace();
    write_whole_file(folder.path("save.bin"), pattern_bytes(c.size, 2));
    EXPECT_EQ(run({"write", "n64-save", c.address, folder.path("save.bin")}), 2);
    EXPECT_NE(err.find("multiples of 128"), std::string::npos) << err;
    EXPECT_EQ(packets_of(kN64SubWriteStart) + packets_of(kN64SubWriteChunk), 0u);
  }
  EXPECT_EQ(cart.save_memory()[0], 0xFF);
}

TEST_F(N64Runner, IdentifyAndProbeJobs) {
  insert("N64_HWRKB_FW320");
  ASSERT_EQ(run({"n64-identify"}), 0) << err;
  EXPECT_NE(out.find("Device: N64_HWRKB_FW320"), std::string::npos) << out;
  EXPECT_NE(out.find("firmware 320, read chunk 8192"), std::string::npos) << out;
  EXPECT_NE(out.find("n64_set_address       empty"), std::string::npos) << out;
  EXPECT_NE(out.find("n64_read_block        windowed block read"), std::string::npos) << out;
  EXPECT_NE(out.find("n64_write_block_sub5  ciphered (5)"), std::string::npos) << out;
  EXPECT_NE(out.find("n64_read_page         paged read (8)"), std::string::npos) << out;

  ASSERT_EQ(run({"n64-probe"}), 0) << err;
  EXPECT_NE(out.find("Selector: 03\nIdentification: 11 11 80 01 00 C2 00 1E \nStatus: 1\n"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace n64_test
