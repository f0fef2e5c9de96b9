// The POSIX platform layer against real files and the real mount table.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "platform/files.h"
#include "tests/support.h"

namespace {

std::vector<uint8_t> pattern(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
  return data;
}

TEST(PosixFiles, UnbufferedReadsTakeWholeSectorsOnly) {
  TempDir dir;
  std::string name = dir.path("T-DRIVER.DMP");
  auto data = pattern(9216);
  write_whole_file(name, data);

  std::vector<uint8_t> got(2048, 0);
  EXPECT_EQ(plat_read_at(name.c_str(), got.data(), 1024, 8192, true), 1024u);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 1024, data.begin() + 8192));

  EXPECT_EQ(plat_read_at(name.c_str(), got.data(), 1000, 0, true), 0u) << "length off-sector";
  EXPECT_EQ(plat_read_at(name.c_str(), got.data(), 1024, 100, true), 0u) << "offset off-sector";
  EXPECT_EQ(plat_read_at(name.c_str(), got.data(), 1024, -512, true), 0u);
  // A buffered read has no such rule.
  EXPECT_EQ(plat_read_at(name.c_str(), got.data(), 3, 100, false), 3u);
  EXPECT_EQ(got[0], data[100]);
}

TEST(PosixFiles, UnbufferedReadFillsAnyCallerBufferAndStopsAtEndOfFile) {
  TempDir dir;
  std::string name = dir.path("DUMP.ROM");
  auto data = pattern(4096 + 512);
  write_whole_file(name, data);
  // The caller's buffer need not be aligned: the bounce buffer is.
  std::vector<uint8_t> storage(8192 + 1, 0);
  uint8_t* odd = storage.data() + 1;
  EXPECT_EQ(plat_read_at(name.c_str(), odd, 8192, 0, true), 4096u + 512u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), odd));
  EXPECT_EQ(plat_read_at(dir.path("missing").c_str(), odd, 512, 0, true), 0u);
}

TEST(PosixFiles, UnbufferedReadWorksWhereDirectIoIsRefused) {
  // tmpfs refuses O_DIRECT; the read then drops the cache and reads normally.
  if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm here";
  std::string name = "/dev/shm/cartlink-test-" + std::to_string(getpid());
  auto data = pattern(1024);
  write_whole_file(name, data);
  std::vector<uint8_t> got(1024, 0);
  EXPECT_EQ(plat_read_at(name.c_str(), got.data(), 1024, 0, true), 1024u);
  EXPECT_EQ(got, data);
  std::filesystem::remove(name);
}

TEST(PosixFiles, WrittenFileIsCompleteWhenTheCallReturns) {
  TempDir dir;
  std::string name = dir.path("CMD0.CMD");
  write_whole_file(name, pattern(4096));  // an older, longer command is truncated away
  auto data = pattern(1536);
  std::reverse(data.begin(), data.end());
  EXPECT_EQ(plat_write_file(name.c_str(), data.data(), 1536), 1536u);
  EXPECT_EQ(read_whole_file(name), data);
  EXPECT_EQ(plat_file_size(name.c_str()), 1536u);
  EXPECT_EQ(plat_write_file(dir.path("no/such/folder").c_str(), data.data(), 1), 0u);
}

TEST(PosixFiles, WriteAtAndReplace) {
  TempDir dir;
  std::string a = dir.path("a"), b = dir.path("b");
  write_whole_file(a, {1, 2, 3, 4});
  write_whole_file(b, {9});
  uint8_t two[2] = {7, 8};
  EXPECT_EQ(plat_write_at(a.c_str(), two, 2, 1), 2u);
  EXPECT_EQ(plat_write_at(dir.path("missing").c_str(), two, 2, 0), 0u) << "never creates";
  EXPECT_TRUE(plat_replace_file(a.c_str(), b.c_str()));
  EXPECT_EQ(read_whole_file(b), (std::vector<uint8_t>{1, 7, 8, 4}));
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_TRUE(plat_remove_file(b.c_str()));
  EXPECT_FALSE(plat_remove_file(b.c_str()));
}

TEST(PosixDrives, RootsAreSortedMountPointsWithATrailingSlash) {
  char roots[16384];
  uint32_t used = plat_list_drive_roots(roots, sizeof roots);
  ASSERT_GT(used, 0u);
  std::vector<std::string> list;
  for (uint32_t at = 0; at < used;) {
    std::string root(roots + at);
    at += static_cast<uint32_t>(root.size()) + 1;
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), '/');
    list.push_back(root);
  }
  EXPECT_EQ(roots[used], '\0');
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
  EXPECT_NE(std::find(list.begin(), list.end(), "/"), list.end());
  EXPECT_FALSE(plat_drive_is_removable("/proc/"));
  EXPECT_FALSE(plat_drive_is_removable("/no-such-mount/"));

  // A list that does not fit keeps whole entries and its terminator.
  char small[8];
  uint32_t cut = plat_list_drive_roots(small, sizeof small);
  EXPECT_LT(cut, sizeof small);
  EXPECT_EQ(small[cut], '\0');
}

}  // namespace
