// The slot-independent save rules over a save area in memory: which files a restore takes,
// where its backup goes, and the order backup, write and read-back keep whatever goes wrong.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cartridge/save.h"
#include "tests/support.h"

namespace {

const SaveShape kEeprom4k = {"eeprom4k", "4 Kbit EEPROM", 512,
                             {{2048, SavePadding::Kind::fill, 0xFF, "emulator"},
                              {2048, SavePadding::Kind::mirror, 0, "16 Kbit read"}}};

std::vector<uint8_t> repeated(const std::vector<uint8_t>& save, size_t times) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), save.begin(), save.end());
  return out;
}

TEST(SaveMatch, ExactSizeAndPaddingsThatHoldAreTakenOthersRefused) {
  const auto save = pattern_bytes(512, 3);
  auto ff_padded = save;
  ff_padded.resize(2048, 0xFF);
  auto ff_one_off = ff_padded;
  ff_one_off[2047] = 0xFE;  // the last padding byte
  auto zero_padded = save;
  zero_padded.resize(2048, 0x00);
  auto mirror_one_off = repeated(save, 4);
  mirror_one_off[512] ^= 1;  // the first mirrored byte
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool accepted;
    const char* note;  // part of the note
  };
  const std::vector<Case> cases = {
      {"exact", save, true, ""},
      {"0xFF padding", ff_padded, true, "padded with 0xFF"},
      {"mirrored", repeated(save, 4), true, "repeated"},
      {"padding with one byte off", ff_one_off, false, "these are not"},
      {"zero padding (not a padding of this save)", zero_padded, false, "these are not"},
      {"mirror with one byte off", mirror_one_off, false, "these are not"},
      {"one byte short", std::vector<uint8_t>(save.begin(), save.end() - 1), false, "511 bytes"},
      {"two mirrors", repeated(save, 2), false, "1024 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SaveFileMatch m = save_match_file(kEeprom4k, c.file);
    EXPECT_EQ(m.accepted, c.accepted);
    EXPECT_NE(m.note.find(c.note), std::string::npos) << m.note;
    if (c.accepted) {
      EXPECT_EQ(m.data, save);
    }
  }
}

TEST(SaveMatch, SizesPossibleBeforeTheDeviceIsOpened) {
  const std::vector<SaveShape> shapes = {kEeprom4k, {"sram", "32 KiB SRAM", 0x8000, {}}};
  std::string why;
  EXPECT_TRUE(save_size_possible(shapes, 512, why));
  EXPECT_TRUE(save_size_possible(shapes, 2048, why));
  EXPECT_TRUE(save_size_possible(shapes, 0x8000, why));
  EXPECT_FALSE(save_size_possible(shapes, 20 * 1024, why));
  EXPECT_NE(why.find("512, 2048, 32768"), std::string::npos) << why;
}

TEST(SaveBackupName, BesideTheFileNeverATakenName) {
  struct Case {
    std::string infile;
    std::set<std::string> taken;
    std::string expected;
  };
  const std::string s = "20250102-030405";
  const std::vector<Case> cases = {
      {"dir/game.sra", {}, "dir/game.before-restore-" + s + ".sav"},
      {"game", {}, "game.before-restore-" + s + ".sav"},
      {"a.b/game", {}, "a.b/game.before-restore-" + s + ".sav"},
      {"dir/.sav", {}, "dir/.sav.before-restore-" + s + ".sav"},
      {"x.tar.sav", {}, "x.tar.before-restore-" + s + ".sav"},
      {"g.eep", {"g.before-restore-" + s + ".sav"}, "g.before-restore-" + s + "-2.sav"},
      {"g.eep",
       {"g.before-restore-" + s + ".sav", "g.before-restore-" + s + "-2.sav"},
       "g.before-restore-" + s + "-3.sav"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.infile);
    EXPECT_EQ(save_backup_name(c.infile, s,
                               [&](const std::string& n) { return c.taken.count(n) != 0; }),
              c.expected);
  }
  EXPECT_EQ(save_backup_name("g.eep", s, [](const std::string&) { return true; }), "");
}

// A save in memory with faults: reads that differ, a cell that does not take a write.
struct FakeSave {
  std::vector<uint8_t> cells = pattern_bytes(4096, 9);
  uint32_t flaky_at = UINT32_MAX;  // reads of this cell alternate ...
  uint32_t flaky_until = UINT32_MAX;  // ... before this read
  uint32_t stuck_at = UINT32_MAX;  // writes leave this cell alone
  uint32_t reads = 0;
  bool written = false;
  std::function<void()> on_write;

  SaveArea area() {
    SaveArea a;
    a.shape = {"fake", "fake save", 4096, {}};
    a.read = [this](uint32_t offset, uint8_t* out, uint32_t length) {
      for (uint32_t i = 0; i < length; ++i) {
        out[i] = cells[offset + i];
        if (offset + i == flaky_at && reads % 2 && reads < flaky_until) out[i] ^= 0x10;
      }
      ++reads;
      return true;
    };
    a.write = [this](const uint8_t* data, const uint8_t*, std::string&,
                     const std::function<void(uint64_t)>&) {
      if (on_write) on_write();
      written = true;
      for (uint32_t i = 0; i < cells.size(); ++i) {
        if (i != stuck_at) cells[i] = data[i];
      }
      return true;
    };
    a.address = [](uint32_t offset) { return "@" + std::to_string(offset); };
    return a;
  }
};

bool exists(const std::string& path) { return !read_whole_file(path).empty(); }

TEST(SaveRestore, BacksUpBeforeTheFirstWriteAndReadsBack) {
  TempDir dir;
  FakeSave fake;
  const auto old = fake.cells;
  const auto file = pattern_bytes(4096, 77);
  const std::string backup = dir.path("new.before-restore-S.sav");
  // At the first write the backup is on disk, whole, and holds the old save.
  fake.on_write = [&] { EXPECT_EQ(read_whole_file(backup), old); };
  const SaveResult r = save_restore(fake.area(), file, dir.path("new.sav"), "S",
                                    [](const std::string& n) { return exists(n); });
  EXPECT_EQ(r.status, SaveStatus::done) << r.message;
  EXPECT_TRUE(fake.written);
  EXPECT_EQ(r.backup, backup);
  EXPECT_EQ(fake.cells, file);
  EXPECT_EQ(fake.reads, 3u);  // two for the backup, one to read back
}

TEST(SaveRestore, FailuresKeepTheBackupOrWriteNothing) {
  struct Case {
    const char* name;
    uint32_t flaky_at, stuck_at;
    bool folder_missing;
    SaveStatus status;
    bool written, backup_kept;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"read back wrong", UINT32_MAX, 1234, false, SaveStatus::failed, true, true,
       "at @1234 where"},
      {"reads differ", 100, UINT32_MAX, false, SaveStatus::failed, false, false, "differ"},
      {"backup cannot be written", UINT32_MAX, UINT32_MAX, true, SaveStatus::failed, false, false,
       "nothing was written to the cartridge"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FakeSave fake;
    fake.flaky_at = c.flaky_at;
    fake.stuck_at = c.stuck_at;
    const auto old = fake.cells;
    const std::string infile = dir.path(c.folder_missing ? "gone/new.sav" : "new.sav");
    const SaveResult r = save_restore(fake.area(), pattern_bytes(4096, 77), infile, "S",
                                      [](const std::string& n) { return exists(n); });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(fake.written, c.written);
    EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
    EXPECT_EQ(!r.backup.empty(), c.backup_kept);
    if (c.backup_kept) {
      EXPECT_NE(r.message.find(r.backup), std::string::npos) << r.message;
      EXPECT_EQ(read_whole_file(r.backup), old);
    }
  }
}

// A byte that read wrong once is read again until it settles, and the backup holds the truth.
TEST(SaveBackup, AByteReadWrongOnceIsSettled) {
  TempDir dir;
  FakeSave fake;
  fake.flaky_at = 3000;
  fake.flaky_until = 2;  // only the second read is wrong
  const SaveResult r = save_backup(fake.area(), dir.path("b.sav"));
  EXPECT_EQ(r.status, SaveStatus::done) << r.message;
  EXPECT_EQ(read_whole_file(dir.path("b.sav")), fake.cells);
  EXPECT_EQ(fake.reads, 4u);  // two, then two of the differing byte to give it the lead
}

TEST(SaveRestore, AWrongFileIsRefusedBeforeAnyRead) {
  TempDir dir;
  FakeSave fake;
  const SaveResult r = save_restore(fake.area(), pattern_bytes(4000), dir.path("x.sav"), "S",
                                    [](const std::string&) { return false; });
  EXPECT_EQ(r.status, SaveStatus::refused);
  EXPECT_EQ(fake.reads, 0u);
  EXPECT_FALSE(fake.written);
}

}  // namespace
