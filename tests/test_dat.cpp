// Known-good lists: what is accepted and refused (with the line named), the lookup by size,
// CRC-32 and SHA-1, and reading the file within its size bound.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "formats/dat.h"
#include "tests/hash_dat_cases.h"
#include "tests/support.h"

namespace {

bool parse(const std::string& text, Dat& dat, std::string& error) {
  return dat_parse(text.data(), text.size(), "test.dat", dat, error);
}

TEST(Dat, AcceptsOrRefusesNamingTheLine) {
  for (const DatTextCase& c : dat_text_cases()) {
    SCOPED_TRACE(c.what);
    Dat dat;
    std::string error;
    bool ok = parse(c.text, dat, error);
    if (c.error.empty()) {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(dat.roms.size(), c.roms);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      EXPECT_TRUE(dat.roms.empty());
    }
  }
}

TEST(Dat, ReadsNamesSizesAndHashes) {
  Dat dat;
  std::string error;
  ASSERT_TRUE(parse(kGoodDat, dat, error)) << error;
  ASSERT_EQ(dat.roms.size(), 3u);
  EXPECT_EQ(dat.roms[0].game, "Alpha & Beta (World)");
  EXPECT_EQ(dat.roms[0].rom_name, "Alpha & Beta (World).sfc");
  EXPECT_EQ(dat.roms[0].size, 9u);
  EXPECT_EQ(dat.roms[0].crc32, 0xCBF43926u);
  EXPECT_TRUE(dat.roms[0].has_sha1);
  EXPECT_EQ(dat.roms[0].sha1[0], 0xF7);
  EXPECT_EQ(dat.roms[0].sha1[19], 0x41);
  EXPECT_EQ(dat.roms[1].game, "Gamma \xCE\xB3 (Japan)");  // UTF-8 of the character reference
  EXPECT_EQ(dat.roms[1].crc32, 0x352441C2u);
  EXPECT_FALSE(dat.roms[2].has_sha1);
}

TEST(Dat, FindsBySizeCrcAndSha1) {
  Dat dat;
  std::string error;
  ASSERT_TRUE(parse(kGoodDat, dat, error)) << error;
  const uint8_t check_sha1[kSha1Size] = {0xf7, 0xc3, 0xbc, 0x1d, 0x80, 0x8e, 0x04,
                                         0x73, 0x2a, 0xdf, 0x67, 0x99, 0x65, 0xcc,
                                         0xc3, 0x4c, 0xa7, 0xae, 0x34, 0x41};
  uint8_t other_sha1[kSha1Size];
  std::memcpy(other_sha1, check_sha1, kSha1Size);
  other_sha1[19] ^= 1;
  struct Lookup {
    const char* what;
    uint64_t size;
    uint32_t crc;
    const uint8_t* sha1;
    const char* game;  // nullptr: no entry
  };
  const Lookup lookups[] = {
      {"hit", 9, 0xCBF43926u, check_sha1, "Alpha & Beta (World)"},
      {"size differs", 10, 0xCBF43926u, check_sha1, nullptr},
      {"crc differs", 9, 0xCBF43927u, check_sha1, nullptr},
      {"sha1 differs in its last byte", 9, 0xCBF43926u, other_sha1, nullptr},
      {"no sha1 given where the entry has one", 9, 0xCBF43926u, nullptr, nullptr},
      {"entry without sha1: size and crc decide", 0, 0, other_sha1, "Gamma \xCE\xB3 (Japan)"},
      {"a never-dumped rom matches nothing", 512, 0, other_sha1, nullptr},
  };
  for (const Lookup& lookup : lookups) {
    SCOPED_TRACE(lookup.what);
    const DatRom* found = dat_find(dat, lookup.size, lookup.crc, lookup.sha1);
    if (!lookup.game) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->game, lookup.game);
    }
  }
}

// A file of `size` bytes that takes no room on the disk: only its last byte is written.
void make_sparse(const std::string& path, uint64_t size) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, "\n", 1, static_cast<off_t>(size - 1)), 1);
  close(fd);
}

TEST(Dat, LoadsAFileWithinItsSizeBound) {
  TempDir dir;
  const std::string good = dir.path("good.dat");
  write_whole_file(good, std::vector<uint8_t>(kGoodDat, kGoodDat + std::strlen(kGoodDat)));
  const std::string empty = dir.path("empty.dat");
  write_whole_file(empty, {});
  const std::string at_bound = dir.path("at-bound.dat");
  make_sparse(at_bound, 256ull << 20);
  const std::string past_bound = dir.path("past-bound.dat");
  make_sparse(past_bound, (256ull << 20) + 1);
  // Its size's low 32 bits say 100 bytes.
  const std::string past_4g = dir.path("past-4g.dat");
  make_sparse(past_4g, (1ull << 32) + 100);

  struct Load {
    const std::string& path;
    const char* error;  // nullptr: loads
  };
  const std::string missing = dir.path("missing.dat");
  const Load loads[] = {
      {good, nullptr},
      {missing, "missing.dat: cannot be read, or is empty"},
      {empty, "empty.dat: cannot be read, or is empty"},
      {at_bound, "at-bound.dat line 1: not well-formed XML"},  // read whole, then parsed
      {past_bound, "past-bound.dat: 268435457 bytes, larger than a known-good list may be"},
      {past_4g, "past-4g.dat: larger than a known-good list may be"},
  };
  for (const Load& load : loads) {
    SCOPED_TRACE(load.path);
    Dat dat;
    std::string error;
    bool ok = dat_load(load.path.c_str(), dat, error);
    if (!load.error) {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(dat.roms.size(), 3u);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_NE(error.find(load.error), std::string::npos) << error;
    }
  }
}

}  // namespace
