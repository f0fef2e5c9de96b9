// The transport's reads of "T-DRIVER.DMP" and "DUMP.ROM" at any offset and length, served by a
// file of fuzzed size: exactly the bytes asked for (or fewer where the file ends), never a byte
// past the caller's buffer. Input: flags (1 byte: file, size range), offset (4), count (4), file size (4), then the
// bytes the file repeats.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fake_drive.h"
#include "link/link_state.h"
#include "link/transport.h"

namespace {
// The largest file and read: past one 4 MiB piece of a covering read, small enough to be quick.
constexpr uint32_t kSizeLimit = (1u << 22) + 4096;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t flags = in.u8();
  const bool dump = flags & 1;
  // Large spans (past one piece of a covering read) are slow to serve: one input in a few.
  const uint32_t limit = (flags & 0xFE) == 0xFE ? kSizeLimit : 0x8000;
  auto offset = static_cast<int32_t>(in.u32());
  const uint32_t count = in.u32() % (limit + 1);
  const uint32_t file_size = in.u32() % (limit + 1);
  std::vector<uint8_t> pattern = in.rest();
  if (pattern.empty()) pattern.push_back(0x5A);
  // Offsets mostly near the file, where the interesting edges are.
  if ((offset & 0x40000000) == 0) offset = static_cast<int32_t>(offset % (kSizeLimit + 4096));

  link_reset_state();
  std::strcpy(g_link.root_path, fuzz::kRoot);
  fuzz::FakeDrive drive;
  std::vector<uint8_t>& file =
      drive.files[std::string(fuzz::kRoot) + (dump ? "DUMP.ROM" : "T-DRIVER.DMP")];
  file.resize(file_size);
  // The pattern repeated, by doubling what is already there.
  size_t filled = std::min<size_t>(pattern.size(), file_size);
  if (filled) std::memcpy(file.data(), pattern.data(), filled);
  while (filled < file_size) {
    const size_t more = std::min<size_t>(filled, file_size - filled);
    std::memcpy(file.data() + filled, file.data(), more);
    filled += more;
  }
  // Each sector starts with its own number, so that a sector delivered in place of another shows.
  for (uint32_t at = 0; at + 4 <= file_size; at += 512) std::memcpy(file.data() + at, &at, 4);
  fuzz::install(&drive);

  // Exactly `count` bytes of room, so that one byte more is caught.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[count ? count : 1]);
  const uint32_t got = dump ? read_dump(offset, buffer.get(), count)
                            : read_reply(offset, buffer.get(), count);
  if (got > count) std::abort();
  // What came is the file's own bytes from `offset` on. (A short answer read as one block
  // reports `count` even past the file's end; those bytes are zero.)
  if (got > 0) {
    const uint64_t from = static_cast<uint64_t>(offset);
    const uint64_t in_file = from < file.size() ? std::min<uint64_t>(got, file.size() - from) : 0;
    if (in_file && std::memcmp(buffer.get(), file.data() + from, in_file) != 0) std::abort();
    for (uint64_t i = in_file; i < got; ++i) {
      if (buffer[i] != 0) std::abort();
    }
  }
  fuzz::install(nullptr);
  return 0;
}
