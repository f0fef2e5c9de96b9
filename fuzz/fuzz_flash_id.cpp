// Flash identification of an NES PRG flash chip: the identification and CFI decoders on a
// fuzzed 1024-byte read (held in a buffer of exactly that size, so one byte more is caught), and
// identify_flash itself, whose reads bring back the input's 1024-byte pieces in turn.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fake_drive.h"
#include "link/link_state.h"
#include "nes/flash_id.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"

namespace {

constexpr size_t kRead = 1024;

std::vector<uint8_t> piece(const std::vector<uint8_t>& bytes, size_t index) {
  std::vector<uint8_t> out(kRead, 0);
  const size_t first = index * kRead;
  if (first < bytes.size()) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(first),
                std::min(kRead, bytes.size() - first), out.begin());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const std::vector<uint8_t> bytes = in.bytes(4 * kRead);

  const auto exact = std::unique_ptr<uint8_t[]>(new uint8_t[kRead]);
  const std::vector<uint8_t> first = piece(bytes, 0);
  std::memcpy(exact.get(), first.data(), kRead);
  const uint32_t size_even = cfi_chip_size(exact.get());
  const uint32_t size_interleaved = cfi_chip_size_interleaved(exact.get());
  is_29gl_id(exact.get());
  for (uint32_t s : {size_even, size_interleaved}) {
    if (s != 0 && (s < 0x80000 || s > 0x10000000 || (s & (s - 1)) != 0)) std::abort();
  }

  link_reset_state();
  nes_reset_state();
  flash_reset_state();
  std::memset(g_image_buffer, 0, kRead);
  std::strcpy(g_link.root_path, fuzz::kRoot);
  g_link.protocol_level = (settings & 1) ? kNesFastLevel : 400;
  fuzz::FakeDrive drive;
  const std::string reply = std::string(fuzz::kRoot) + "T-DRIVER.DMP";
  const std::string window = std::string(fuzz::kRoot) + "DUMP.ROM";
  size_t next = 0;
  drive.files[reply] = piece(bytes, next);
  drive.files[window] = drive.files[reply];
  // Every command moves the answer on to the next piece of the input.
  drive.on_write = [&](const std::string& path, const uint8_t*, uint32_t) {
    if (path == reply || path == window) return;
    next = (next + 1) % 4;
    drive.files[reply] = piece(bytes, next);
    drive.files[window] = drive.files[reply];
  };
  fuzz::install(&drive);
  identify_flash();
  if (prg_program_routine == nullptr) std::abort();
  fuzz::install(nullptr);
  return 0;
}
