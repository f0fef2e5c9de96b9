#include "platform/seam.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/drives.h"
#include "platform/files.h"
#include "platform/os.h"
#include "platform/sleep.h"

namespace {
const PlatformOps kOsOps = {os_write_file,   os_read_at,       os_write_at,
                             os_file_size,    os_replace_file,  os_remove_file,
                             os_resize_file,  os_sync_file,     os_file_exists,
                             os_list_drive_roots, os_drive_is_removable};
const PlatformOps* g_ops = nullptr;
void (*g_sleep)(uint32_t) = nullptr;

const PlatformOps& ops() { return g_ops ? *g_ops : plat_os_ops(); }

// Alignment of the buffer an unbuffered read lands in: a page, which is a whole number of
// sectors on every drive.
constexpr uintptr_t kReadAlign = 4096;
// Up to this size the aligned room is kept from one read to the next.
constexpr size_t kKeptRoomMax = 0x800000;

// Room of at least `size` bytes starting at an aligned address, inside `storage`.
uint8_t* aligned_room(std::unique_ptr<uint8_t[]>& storage, size_t size) {
  storage.reset(new (std::nothrow) uint8_t[size + kReadAlign]);
  if (!storage) return nullptr;
  const auto at = reinterpret_cast<uintptr_t>(storage.get());
  return storage.get() + (kReadAlign - at % kReadAlign) % kReadAlign;
}

// An unbuffered read into a buffer that is not aligned goes through aligned room: Windows
// refuses such a read outright, and the rule is kept on every platform alike.
uint32_t read_unbuffered_aligned(const char* name, uint8_t* buffer, uint32_t count,
                                 int32_t offset) {
  static std::unique_ptr<uint8_t[]> kept_storage;
  static uint8_t* kept = nullptr;
  static size_t kept_size = 0;
  std::unique_ptr<uint8_t[]> fresh_storage;
  uint8_t* room = nullptr;
  if (count <= kept_size) {
    room = kept;
  } else if (count <= kKeptRoomMax) {
    kept = aligned_room(kept_storage, kKeptRoomMax);
    kept_size = kept ? kKeptRoomMax : 0;
    room = kept;
  } else {
    room = aligned_room(fresh_storage, count);
  }
  if (!room) return 0;
  const uint32_t got = std::min(ops().read_at(name, room, count, offset, true), count);
  std::memcpy(buffer, room, got);
  return got;
}
}  // namespace

const PlatformOps& plat_os_ops() { return kOsOps; }

const PlatformOps& plat_current_ops() { return ops(); }

void plat_install_ops(const PlatformOps* ops) { g_ops = ops; }

const PlatformOps* plat_installed_ops() { return g_ops; }

uint32_t plat_write_file(const char* name, const uint8_t* data, uint32_t count) {
  return ops().write_file(name, data, count);
}

uint32_t plat_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                      bool unbuffered) {
  // Unbuffered reads take whole sectors only. Checked here rather than left to the OS, which
  // does not enforce it everywhere (some file systems, wine), so that every platform and the
  // virtual device behave alike.
  if (unbuffered && (offset < 0 || offset % kSectorSize != 0 || count % kSectorSize != 0)) {
    return 0;
  }
  if (unbuffered && buffer && reinterpret_cast<uintptr_t>(buffer) % kReadAlign != 0) {
    return read_unbuffered_aligned(name, buffer, count, offset);
  }
  return ops().read_at(name, buffer, count, offset, unbuffered);
}

uint32_t plat_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  return ops().write_at(name, data, count, offset);
}

uint32_t plat_file_size(const char* name) { return ops().file_size(name); }

bool plat_replace_file(const char* from, const char* to) { return ops().replace_file(from, to); }

bool plat_remove_file(const char* name) { return ops().remove_file(name); }

bool plat_resize_file(const char* name, uint32_t size) { return ops().resize_file(name, size); }

bool plat_sync_file(const char* name) { return ops().sync_file(name); }

bool plat_file_exists(const char* name) { return ops().file_exists(name); }

uint32_t plat_list_drive_roots(char* buffer, uint32_t capacity) {
  return ops().list_drive_roots(buffer, capacity);
}

bool plat_drive_is_removable(const char* root) { return ops().drive_is_removable(root); }

void plat_install_sleep(void (*sleep)(uint32_t milliseconds)) { g_sleep = sleep; }

void plat_sleep_ms(uint32_t milliseconds) {
  if (g_sleep) {
    g_sleep(milliseconds);
  } else {
    os_sleep_ms(milliseconds);
  }
}
