// cartlink-run on the slots of families 20, 19, 2, 17, 7 and 3: reads hand over exactly the
// cartridge's bytes, writes land on it, the refusals, and the command-port jobs.
#include <functional>
#include <string>

#include "tests/fams_support.h"

namespace {

class RunnerFamsTest : public FamilyTest {
 protected:
  std::string out_path() const { return folder.path("out.bin"); }
  std::string in_path() const { return folder.path("in.bin"); }

  // Inserts the slot's cartridge over `memory`; for family 20, with `port`.
  void insert_slot(const std::string& slot, const Bytes& memory, vdev::PortConfig port = {}) {
    if (slot == "fam20") insert(std::make_unique<vdev::Fam20Cartridge>(memory, port));
    if (slot == "fam19") insert(std::make_unique<vdev::Fam19Cartridge>(memory));
    if (slot == "fam2") insert(std::make_unique<vdev::Fam2Cartridge>(memory));
    if (slot == "fam17") insert(std::make_unique<vdev::Fam17Cartridge>(memory));
    if (slot == "fam7") insert(std::make_unique<vdev::Fam7Cartridge>(memory));
    if (slot == "fam3") insert(std::make_unique<vdev::Fam3Cartridge>(memory));
  }

  TempDir folder;
};

TEST_F(RunnerFamsTest, ReadsHandOverTheCartridgesBytes) {
  const struct {
    const char* slot;
    uint64_t size;
    const char* address;
    uint64_t at;
    const char* length;
    uint64_t count;
  } cases[] = {
      {"fam20", 0x1000000, "0x00F001", 0xF001, "20000", 20000},
      {"fam19", 0x1000000, "0x200000", 0x200000, "64K", 0x10000},
      {"fam19", 0x1000000, "3", 3, "5000", 5000},
      {"fam2", 0x10000, "0x400", 0x400, "4K", 4096},
      {"fam2", 0x10000, "0x123", 0x123, "20000", 20000},
      {"fam17", 0x1000000, "0x123456", 0x123456, "70000", 70000},
      {"fam7", 0x1000000, "0xFFB000", 0xFFB000, "20000", 20000},
      {"fam3", 0x1000000, "0xFFF000", 0xFFF000, "20000", 20000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.slot) + " " + c.address);
    const Bytes memory = vdev::pattern_memory(c.size);
    insert_slot(c.slot, memory);
    std::string out;
    ASSERT_EQ(run_cli({"read", c.slot, c.address, c.length, out_path()}, &out), 0);
    EXPECT_EQ(out.rfind("Device: ", 0), 0u);
    const Bytes file = read_whole_file(out_path());
    ASSERT_EQ(file.size(), c.count);
    for (uint64_t i = 0; i < c.count; ++i) {
      const uint64_t a = c.at + i;
      ASSERT_EQ(file[i], a < memory.size() ? memory[a] : 0xFF) << "byte " << i;
    }
  }
}

TEST_F(RunnerFamsTest, WritesLandOnTheCartridge) {
  const Bytes data = pattern_bytes(3000, 7);
  write_whole_file(in_path(), data);
  const struct {
    const char* slot;
    uint64_t size;
    const char* address;
    uint64_t at;
  } cases[] = {
      {"fam20", 0x1000000, "0x01FF80", 0x01FF80},
      {"fam19", 0x1000000, "0x1002", 0x1002},
      {"fam2", 0x10000, "0xF000", 0xF000},
      {"fam17", 0x1000000, "0xABCDEF", 0xABCDEF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot);
    insert_slot(c.slot, Bytes(c.size, 0));
    ASSERT_EQ(run_cli({"write", c.slot, c.address, in_path()}), 0);
    const auto memories = device.memories();
    ASSERT_EQ(memories.size(), 1u);
    const Bytes& memory = *memories[0].bytes;
    EXPECT_EQ(Bytes(memory.begin() + c.at, memory.begin() + c.at + data.size()), data);
    EXPECT_EQ(memory[c.at - 1], 0);
    EXPECT_EQ(memory[c.at + data.size()], 0);
  }
}

TEST_F(RunnerFamsTest, RefusesReadOnlySlotsAndOddWordWrites) {
  write_whole_file(in_path(), pattern_bytes(100));
  write_whole_file(folder.path("odd.bin"), pattern_bytes(101));
  insert_slot("fam19", Bytes(0x1000000, 0));
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"write", "fam7", "0", in_path()}, "read-only"},
      {{"write", "fam3", "0", in_path()}, "read-only"},
      {{"write", "fam19", "0x1001", in_path()}, "whole 2-byte words"},
      {{"write", "fam19", "0x1000", folder.path("odd.bin")}, "whole 2-byte words"},
      {{"read", "fam2", "0xFF00", "0x101", out_path()}, "past the end"},
      {{"read", "fam20", "0xFFFFFF", "2", out_path()}, "past the end"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_EQ(run_cli(c.args, nullptr, &err), 2) << c.message;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
  EXPECT_TRUE(command_files().empty());
}

TEST_F(RunnerFamsTest, PortJobsPrintTheirResult) {
  const struct {
    const char* job;
    vdev::PortConfig port;
    int code;
    const char* line;
  } cases[] = {
      {"port-wake", {2, false, true}, 0, "port_wake: true\n"},
      {"port-wake", {0, true, false}, 1, "port_wake: false\n"},
      {"port-check", {0, false, false}, 0, "port_check: true\n"},
      {"port-check", {4, false, false}, 1, "port_check: false\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    insert_slot("fam20", Bytes(0x1000000, 0), c.port);
    std::string out;
    EXPECT_EQ(run_cli({c.job}, &out), c.code);
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
  }
}

}  // namespace
