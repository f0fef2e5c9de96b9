// The NES ROM-file loader and its 16-byte header as the flash job reads them: a user's file of
// any size (held in memory), programmed into the in-process virtual device with the flash board
// of this job. The platform's pause is stood in, so erase polling never waits. (Never without a
// device: erase polling has no limit by design, and a drive that answers nothing never reads
// erased.) Input: one settings byte, then the file (cut to 32 KiB so a run
// stays short; the header's sizes still reach far past it).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fake_drive.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "nes/flash_id.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"
#include "nes/rom_file.h"
#include "platform/seam.h"
#include "platform/sleep.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/inprocess.h"

namespace {

constexpr const char* kDriveRoot = "/fuzz-device/E/";
constexpr const char* kRomName = "/fuzz/user/game.nes";
constexpr size_t kFileMax = 0x8000;
// What the job may touch of the image buffer for a file of kFileMax bytes: the file, the
// identification reads and the work-RAM patterns.
constexpr size_t kImageTouched = 0x20000;

// The user's file, served beside the virtual device's drive.
const std::vector<uint8_t>* g_rom = nullptr;
const PlatformOps* g_device_ops = nullptr;

bool is_rom(const char* name) { return name && std::strcmp(name, kRomName) == 0; }

uint32_t r_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                   bool unbuffered) {
  if (!is_rom(name)) return g_device_ops->read_at(name, buffer, count, offset, unbuffered);
  if (!buffer || offset < 0 || static_cast<size_t>(offset) >= g_rom->size()) return 0;
  const size_t n = std::min<size_t>(count, g_rom->size() - static_cast<size_t>(offset));
  std::memcpy(buffer, g_rom->data() + offset, n);
  return static_cast<uint32_t>(n);
}

uint32_t r_file_size(const char* name) {
  return is_rom(name) ? static_cast<uint32_t>(g_rom->size()) : g_device_ops->file_size(name);
}

uint32_t r_write_file(const char* n, const uint8_t* d, uint32_t c) {
  return g_device_ops->write_file(n, d, c);
}
uint32_t r_write_at(const char* n, const uint8_t* d, uint32_t c, int32_t o) {
  return g_device_ops->write_at(n, d, c, o);
}
bool r_replace_file(const char* f, const char* t) { return g_device_ops->replace_file(f, t); }
bool r_remove_file(const char* n) { return g_device_ops->remove_file(n); }
bool r_resize_file(const char* n, uint32_t s) { return g_device_ops->resize_file(n, s); }
bool r_sync_file(const char* n) { return g_device_ops->sync_file(n); }
bool r_file_exists(const char* n) { return is_rom(n) || g_device_ops->file_exists(n); }
uint32_t r_list_drive_roots(char* b, uint32_t c) { return g_device_ops->list_drive_roots(b, c); }
bool r_drive_is_removable(const char* r) { return g_device_ops->drive_is_removable(r); }

const PlatformOps kRomOps = {r_write_file,   r_read_at,        r_write_at,
                             r_file_size,    r_replace_file,   r_remove_file,
                             r_resize_file,  r_sync_file,      r_file_exists,
                             r_list_drive_roots, r_drive_is_removable};

void no_sleep(uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const std::vector<uint8_t> rom = in.bytes(kFileMax);

  link_reset_state();
  cipher_reset_state();
  nes_reset_state();
  flash_reset_state();
  std::memset(g_image_buffer, 0, kImageTouched);
  plat_install_sleep(no_sleep);
  std::strcpy(g_link.root_path, kDriveRoot);
  g_link.protocol_level = (settings & 0x02) ? kNesFastLevel : 400;

  vdev::Device device;
  const vdev::CartridgeKind* kind = vdev::find_cartridge_kind("flash-rom-file");
  std::string error;
  // Chips just large enough for any file the job accepts here (the smallest size that still
  // answers the identification with a size), so a run does not fill megabytes.
  const vdev::CartridgeOptions chips = {{"chip-size", "512K"}, {"chr-chip-size", "64K"}};
  if (!kind || !kind->build(device, chips, error)) std::abort();
  vdev::attach({{kDriveRoot, true, &device}});
  g_device_ops = plat_installed_ops();
  g_rom = &rom;
  plat_install_ops(&kRomOps);

  const RomFileResult result = flash_rom_file_run(kRomName);
  if (rom.empty() && result != RomFileResult::read_error) std::abort();

  vdev::detach();
  g_rom = nullptr;
  plat_install_sleep(nullptr);
  return 0;
}
