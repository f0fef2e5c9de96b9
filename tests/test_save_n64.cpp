// backup-save and restore-save n64 against the retail N64 cartridge: each save type found at
// its place and size without changing it, refusals before anything is sent or written, the
// pre-restore backup, read-back failures, and what a backup costs on the wire.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sleep.h"
#include "tests/fault_ops.h"
#include "tests/n64_support.h"
#include "virtual_device/n64_rom_cart.h"
#include "virtual_device/n64_rom_image.h"

namespace n64_test {
namespace {

using vdev::N64SaveType;

void no_sleep(uint32_t) {}

class SaveN64 : public VirtualDeviceTest {
 protected:
  vdev::N64RomCart& insert(N64SaveType type, std::vector<uint8_t> save = {},
                           const std::string& identity = "N64_HWRKB_FW400",
                           uint32_t busy_polls = 3) {
    vdev::N64RomCartConfig config;
    config.rom = vdev::make_n64_image(0x100000, "SAVE TEST", "NSTE");
    config.save_type = type;
    config.save = std::move(save);
    config.flash_busy_polls = busy_polls;
    auto cart = std::make_unique<vdev::N64RomCart>(std::move(config));
    vdev::N64RomCart& ref = *cart;
    device.insert(std::move(cart));
    device.config().name = identity;
    device.config().identity = identity;
    plat_install_sleep(no_sleep);
    return ref;
  }

  int run(const std::vector<std::string>& args) {
    out.clear();
    err.clear();
    return run_cli(args, &out, &err);
  }

  // Packets of family 16 with sub-command `sub` sent so far.
  size_t packets_of(uint8_t sub) const {
    size_t n = 0;
    for (const auto& p : sent_packets(3)) n += p[1] == kFamilyN64 && p[2] == sub;
    return n;
  }
  // Bus writes (sub-command 4) whose first data bytes are a flash save command of `op`.
  size_t flash_commands(uint8_t op) const {
    size_t n = 0;
    for (const auto& p : sent_packets(16)) {
      n += p[2] == kN64SubWrite && le32(p.data() + 3) == 0x08010000 && p[9] == op;
    }
    return n;
  }

  TempDir folder;
  std::string out, err;
};

struct TypeCase {
  const char* name;
  N64SaveType type;
  uint32_t size;
  const char* found;  // part of what detection says
};
const std::vector<TypeCase> kTypes = {
    {"eeprom4k", N64SaveType::eeprom4k, 512, "00 80 00"},
    {"eeprom16k", N64SaveType::eeprom16k, 2048, "00 C0 00"},
    {"sram", N64SaveType::sram, 0x8000, "repeat at 0x080C0000"},
    {"sram96k", N64SaveType::sram96k, 0x18000, "fourth bank"},
    {"flash", N64SaveType::flash, 0x20000, "11 11 80 01 00 C2 00 1E"},
};

// Found at every firmware's read forms, saved whole, and the cartridge's save unchanged by
// detection (the flash save takes no erase or program, the SRAM keeps its first bytes).
TEST_F(SaveN64, BackupFindsEachTypeAndLeavesTheSaveAlone) {
  for (const char* identity : {"N64_HWRKB_FW400", "N64_HWRKB_FW319", "N64_Q3V6_FW400"}) {
    for (const auto& t : kTypes) {
      SCOPED_TRACE(std::string(identity) + " " + t.name);
      reset_program_state();
      const auto save = pattern_bytes(t.size, 0x31);
      auto& cart = insert(t.type, save, identity);
      const std::string file = folder.path(std::string(t.name) + identity + ".sav");
      ASSERT_EQ(run({"backup-save", "n64", file}), 0) << err;
      EXPECT_EQ(read_whole_file(file), save);
      EXPECT_EQ(cart.save(), save);
      EXPECT_NE(out.find(t.found), std::string::npos) << out;
      if (auto* flash = cart.flash_save()) {
        EXPECT_EQ(flash->ignored_commands(), 0u);
      }
    }
  }
}

// SRAM whose first bytes look like the open bus or like a flash save's status register, a flash
// save left showing its status, and no save at all: told apart without changing anything, or
// refused with the reason.
TEST_F(SaveN64, LookalikesAreToldApart) {
  auto open_bus_start = pattern_bytes(0x8000, 5);
  for (uint8_t i = 0; i < 8; ++i) open_bus_start[i] = (i & 1) ? i - 1 : 0;
  auto status_start = pattern_bytes(0x8000, 6);
  const uint8_t status[8] = {0x11, 0x11, 0x80, 0x01, 0x00, 0xC2, 0x00, 0x1E};
  std::copy(status, status + 8, status_start.begin());
  struct Case {
    const char* name;
    N64SaveType type;
    std::vector<uint8_t> save;
    bool flash_in_status_mode;
    int exit;
  };
  const std::vector<Case> cases = {
      {"SRAM holding the open bus's bytes", N64SaveType::sram, open_bus_start, false, 0},
      {"SRAM holding a status register", N64SaveType::sram, status_start, false, 1},
      {"flash save in status mode", N64SaveType::flash, pattern_bytes(0x20000, 7), true, 0},
      {"no save: the open bus", N64SaveType::none, {}, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_program_state();
    auto& cart = insert(c.type, c.save);
    if (c.flash_in_status_mode) {
      cart.flash_save()->write_word(0x10000, 0xE100);
      cart.flash_save()->write_word(0x10002, 0x0000);
    }
    const std::string file = folder.path(std::string(c.name) + ".sav");
    EXPECT_EQ(run({"backup-save", "n64", file}), c.exit) << err;
    if (c.exit == 0) {
      EXPECT_EQ(read_whole_file(file), c.save);
    }
    if (c.exit != 0) {
      EXPECT_NE(err.find(c.save.empty() ? "no save found" : "--save-type"), std::string::npos)
          << err;
      EXPECT_TRUE(read_whole_file(file).empty());
    }
    EXPECT_EQ(cart.save(), c.save);
  }
}

// What a backup costs: with the type named, the identity and two reads of the save, nothing
// else; detection adds a few small reads and one command file.
TEST_F(SaveN64, ABackupCostsTwoReadsOfTheSave) {
  insert(N64SaveType::sram, pattern_bytes(0x8000, 2));
  ASSERT_EQ(run({"backup-save", "n64", folder.path("a.sra"), "--save-type", "sram"}), 0) << err;
  // 32 KiB in 8 KiB bus reads, twice; before them the NES and N64 identities.
  EXPECT_EQ(packets_of(kN64SubRead), 8u);
  EXPECT_EQ(packets_of(kN64SubWrite), 0u);
  const size_t named = command_files().size();

  device.clear_trace();
  reset_program_state();
  insert(N64SaveType::sram, pattern_bytes(0x8000, 2));
  ASSERT_EQ(run({"backup-save", "n64", folder.path("b.sra")}), 0) << err;
  const size_t found = command_files().size();
  EXPECT_EQ(packets_of(kN64SubWrite), 2u);  // the identification command and its put-back, one file
  EXPECT_LE(found - named, 12u);
  std::printf("backup of 32 KiB SRAM: %zu command files named, %zu found\n", named, found);
}

TEST_F(SaveN64, RestoreRefusesAFileThatDoesNotFitBeforeWriting) {
  struct Case {
    const char* name;
    N64SaveType type;
    std::vector<std::string> options;
    std::vector<uint8_t> file;
    bool sends;  // whether anything was sent (the size is only known from the cartridge)
  };
  auto bad_padding = pattern_bytes(512, 1);
  bad_padding.resize(2048, 0xFF);
  bad_padding[1000] = 0;
  const std::vector<Case> cases = {
      {"20 KiB for SRAM", N64SaveType::sram, {}, pattern_bytes(20 * 1024), false},
      {"2 KiB for 4 Kbit, padding wrong", N64SaveType::eeprom4k, {}, bad_padding, true},
      {"the same, the type named", N64SaveType::eeprom4k, {"--save-type", "eeprom4k"},
       bad_padding, false},
      {"32 KiB for flash", N64SaveType::flash, {}, pattern_bytes(0x8000), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_program_state();
    device.clear_trace();
    const auto save = pattern_bytes(vdev::n64_save_size(c.type), 8);
    auto& cart = insert(c.type, save);
    const std::string infile = folder.path(std::string(c.name) + ".bin");
    write_whole_file(infile, c.file);
    std::vector<std::string> args = {"restore-save", "n64", infile};
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(run(args), 2) << err;
    EXPECT_NE(err.find("does not fit"), std::string::npos) << err;
    EXPECT_EQ(!command_files().empty(), c.sends);
    EXPECT_EQ(cart.save(), save);
    EXPECT_EQ(packets_of(kN64SubWriteChunk), 0u);
    EXPECT_TRUE(folder.files_with("before-restore").empty());
  }
}

// The edited save lands, the previous one is kept beside the file; a padded EEPROM file is
// taken and said so; a flash save erases only the sectors that change.
TEST_F(SaveN64, RestoreWritesReadsBackAndKeepsThePreviousSave) {
  const auto eeprom = pattern_bytes(512, 0x40);
  auto padded = eeprom;
  padded.resize(2048, 0xFF);
  auto flash_old = pattern_bytes(0x20000, 0x50);
  auto flash_new = flash_old;
  flash_new[0x4000 * 5 + 3] ^= 0xFF;  // one sector changes
  struct Case {
    const char* name;
    N64SaveType type;
    std::vector<uint8_t> old, file, expected;
    const char* note;
    size_t erases;
  };
  const std::vector<Case> cases = {
      {"sram", N64SaveType::sram, pattern_bytes(0x8000, 1), pattern_bytes(0x8000, 2),
       pattern_bytes(0x8000, 2), "", 0},
      {"sram96k", N64SaveType::sram96k, pattern_bytes(0x18000, 1), pattern_bytes(0x18000, 2),
       pattern_bytes(0x18000, 2), "", 0},
      {"eeprom4k padded", N64SaveType::eeprom4k, pattern_bytes(512, 3), padded, eeprom,
       "padded with 0xFF", 0},
      {"flash, one sector", N64SaveType::flash, flash_old, flash_new, flash_new, "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_program_state();
    device.clear_trace();
    auto& cart = insert(c.type, c.old);
    const std::string infile = folder.path(std::string(c.name) + ".sav");
    write_whole_file(infile, c.file);
    ASSERT_EQ(run({"restore-save", "n64", infile}), 0) << err;
    EXPECT_EQ(cart.save(), c.expected);
    EXPECT_NE(out.find(c.note), std::string::npos) << out;
    const auto backups = folder.files_with(std::string(c.name) + ".before-restore-");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(read_whole_file(backups[0]), c.old);
    EXPECT_NE(out.find(backups[0]), std::string::npos) << out;
    EXPECT_EQ(flash_commands(0x4B), c.erases);
  }
}

// Read-back failures name the first address and keep the backup: SRAM named over a flash save
// (its plain writes do not program), a flash save that stays busy (polls are bounded).
TEST_F(SaveN64, ReadBackFailuresKeepTheBackup) {
  struct Case {
    const char* name;
    N64SaveType type;
    std::vector<std::string> options;
    uint32_t busy_polls;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"sram named over flash", N64SaveType::flash, {"--save-type", "sram"}, 3,
       "reads back 0xFF at 0x08000000 where"},
      {"flash that stays busy", N64SaveType::flash, {}, 1000000, "stayed busy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_program_state();
    const auto old = std::vector<uint8_t>(0x20000, 0xFF);
    auto& cart = insert(c.type, old, "N64_HWRKB_FW400", c.busy_polls);
    const std::string infile = folder.path(std::string(c.name) + ".sav");
    write_whole_file(infile, pattern_bytes(c.options.empty() ? 0x20000 : 0x8000, 4));
    std::vector<std::string> args = {"restore-save", "n64", infile};
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(run(args), 1);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    const auto backups = folder.files_with(std::string(c.name) + ".before-restore-");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_NE(err.find(backups[0]), std::string::npos) << err;
    EXPECT_EQ(read_whole_file(backups[0]).size(), c.options.empty() ? 0x20000u : 0x8000u);
    EXPECT_EQ(cart.save(), old);
  }
}

// A command file written short: the device carries out the whole packets it got, so a flash
// save command can reach an SRAM's first bytes without its put-back. Whichever write is cut,
// the SRAM ends as it was, and a failure says nothing was written only when that holds.
TEST_F(SaveN64, AShortCommandFileLeavesTheSramAsItWas) {
  auto status_start = pattern_bytes(0x8000, 6);
  const uint8_t status[8] = {0x11, 0x11, 0x80, 0x01, 0x00, 0xC2, 0x00, 0x1E};
  std::copy(status, status + 8, status_start.begin());
  struct Case {
    const char* name;
    std::vector<uint8_t> save;
    std::vector<std::string> options;
  };
  const std::vector<Case> cases = {
      {"status command", pattern_bytes(0x8000, 9), {}},
      {"read-array command over status bytes", status_start, {}},
      {"flash named over SRAM", pattern_bytes(0x8000, 10), {"--save-type", "flash"}},
  };
  for (const auto& c : cases) {
    size_t put_back = 0;
    for (uint32_t n = 1;; ++n) {
      SCOPED_TRACE(std::string(c.name) + ", write " + std::to_string(n));
      reset_program_state();
      auto& cart = insert(N64SaveType::sram, c.save);
      const std::string file = folder.path(std::string(c.name) + std::to_string(n) + ".sav");
      std::vector<std::string> args = {"backup-save", "n64", file};
      args.insert(args.end(), c.options.begin(), c.options.end());
      fault_install(Fault::short_write, n, kVirtualRoot);
      const int code = run(args);
      const bool injected = fault_injected();
      fault_remove();
      if (!injected) break;
      EXPECT_EQ(cart.save(), c.save);
      EXPECT_TRUE(code == 0 || code == 1) << code;
      put_back += err.find("were put back") != std::string::npos;
    }
    EXPECT_GE(put_back, 1u) << c.name;  // the cut that lands between command and put-back
  }
}

// --save-type eeprom4k|eeprom16k takes the EEPROM only when the probe answers one of that size.
TEST_F(SaveN64, ANamedEepromMustAnswerTheProbeAsThatSize) {
  struct Case {
    const char* name;
    N64SaveType cart;
    const char* named;
    int exit;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"4 Kbit as named", N64SaveType::eeprom4k, "eeprom4k", 0, ""},
      {"16 Kbit as named", N64SaveType::eeprom16k, "eeprom16k", 0, ""},
      {"16 Kbit named 4 Kbit", N64SaveType::eeprom16k, "eeprom4k", 1, "00 C0 00"},
      {"4 Kbit named 16 Kbit", N64SaveType::eeprom4k, "eeprom16k", 1, "00 80 00"},
      {"SRAM named EEPROM", N64SaveType::sram, "eeprom4k", 1, "answered no EEPROM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_program_state();
    const auto save = pattern_bytes(vdev::n64_save_size(c.cart), 12);
    auto& cart = insert(c.cart, save);
    const std::string file = folder.path(std::string(c.name) + ".eep");
    EXPECT_EQ(run({"backup-save", "n64", file, "--save-type", c.named}), c.exit) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(read_whole_file(file), c.exit == 0 ? save : std::vector<uint8_t>{});
    const std::string infile = folder.path(std::string(c.name) + ".in");
    write_whole_file(infile, pattern_bytes(c.named == std::string("eeprom4k") ? 512 : 2048, 13));
    EXPECT_EQ(run({"restore-save", "n64", infile, "--save-type", c.named}), c.exit) << err;
    if (c.exit != 0) {
      EXPECT_EQ(cart.save(), save);
      EXPECT_TRUE(folder.files_with(std::string(c.name) + ".before-restore").empty());
    }
  }
}

TEST_F(SaveN64, BackupDoesNotReplaceAFileUnlessForced) {
  insert(N64SaveType::sram, pattern_bytes(0x8000, 2));
  const std::string file = folder.path("kept.sra");
  write_whole_file(file, {1, 2, 3});
  EXPECT_EQ(run({"backup-save", "n64", file}), 2);
  EXPECT_TRUE(command_files().empty());
  EXPECT_EQ(read_whole_file(file), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(run({"backup-save", "n64", file, "--force"}), 0) << err;
  EXPECT_EQ(read_whole_file(file), pattern_bytes(0x8000, 2));
}

}  // namespace
}  // namespace n64_test
