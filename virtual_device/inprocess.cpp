#include "virtual_device/inprocess.h"

#include <cstring>

#include "platform/seam.h"
#include "virtual_device/hid_device.h"

namespace vdev {

namespace {

std::vector<VirtualDrive> g_drives;

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// A path under one of the drives: the drive and the file name within its root.
struct Target {
  const VirtualDrive* drive = nullptr;
  std::string_view file;
};

// The drive whose root starts `path` (the longest, should roots nest). Drive letters and
// names on a FAT drive do not care about case.
Target find(const char* path) {
  Target t;
  if (!path) return t;
  const std::string_view p(path);
  size_t best = 0;
  for (const auto& d : g_drives) {
    if (d.root.empty() || d.root.size() > p.size() || d.root.size() < best) continue;
    if (!same_text(p.substr(0, d.root.size()), d.root)) continue;
    best = d.root.size();
    t.drive = &d;
    t.file = p.substr(d.root.size());
  }
  return t;
}

// The device's files lie in the root itself; a name with a separator is none of them.
Device* device_for(const Target& t) {
  if (!t.drive || !t.drive->device || t.file.empty()) return nullptr;
  if (t.file.find_first_of("/\\") != std::string_view::npos) return nullptr;
  return t.drive->device;
}

uint32_t v_write_file(const char* name, const uint8_t* data, uint32_t count) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().write_file(name, data, count);
  Device* d = device_for(t);
  if (!d) return 0;
  d->take_command_file(t.file, data, count);
  return count;
}

uint32_t v_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                   bool unbuffered) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().read_at(name, buffer, count, offset, unbuffered);
  Device* d = device_for(t);
  if (!d || !buffer || offset < 0) return 0;
  // Unbuffered reads keep Windows' rule (whole sectors into an aligned buffer), so that every
  // test runs under it.
  if (unbuffered) return d->read_direct(t.file, static_cast<uint64_t>(offset), buffer, count);
  return d->read(t.file, static_cast<uint64_t>(offset), buffer, count);
}

uint32_t v_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().write_at(name, data, count, offset);
  Device* d = device_for(t);
  if (!d || !data || offset < 0) return 0;
  return d->write(t.file, static_cast<uint64_t>(offset), data, count);
}

uint32_t v_file_size(const char* name) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().file_size(name);
  Device* d = device_for(t);
  if (!d || !d->exists(t.file)) return 0;
  return static_cast<uint32_t>(d->size(t.file));
}

bool v_replace_file(const char* from, const char* to) {
  const Target a = find(from);
  const Target b = find(to);
  if (!a.drive && !b.drive) return plat_os_ops().replace_file(from, to);
  // Within one device only; the virtual drives and the OS do not share files.
  Device* d = device_for(a);
  if (!d || a.drive != b.drive || !device_for(b)) return false;
  return d->rename(a.file, b.file);
}

bool v_remove_file(const char* name) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().remove_file(name);
  Device* d = device_for(t);
  return d && d->remove(t.file);
}

// The device's drive holds only its own files and what a command writes: outputs are never
// made there.
bool v_resize_file(const char* name, uint32_t size) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().resize_file(name, size);
  return false;
}

bool v_sync_file(const char* name) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().sync_file(name);
  Device* d = device_for(t);
  return d && d->exists(t.file);
}

bool v_file_exists(const char* name) {
  const Target t = find(name);
  if (!t.drive) return plat_os_ops().file_exists(name);
  Device* d = device_for(t);
  return d && d->exists(t.file);
}

uint32_t v_list_drive_roots(char* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  uint32_t used = 0;
  for (const auto& d : g_drives) {
    const auto length = static_cast<uint32_t>(d.root.size());
    // Room for this root, its terminator and the final empty text.
    if (uint64_t{used} + length + 2 > capacity) continue;
    std::memcpy(buffer + used, d.root.c_str(), length + 1);
    used += length + 1;
  }
  buffer[used] = '\0';
  return used;
}

bool v_drive_is_removable(const char* root) {
  if (!root) return false;
  for (const auto& d : g_drives) {
    if (same_text(d.root, root)) return d.removable;
  }
  return false;  // the attached drives are all the drives there are
}

const PlatformOps kVirtualOps = {v_write_file,   v_read_at,        v_write_at,
                                 v_file_size,    v_replace_file,   v_remove_file,
                                 v_resize_file,  v_sync_file,      v_file_exists,
                                 v_list_drive_roots, v_drive_is_removable};

}  // namespace

void attach(std::vector<VirtualDrive> drives) {
  g_drives = std::move(drives);
  plat_install_ops(&kVirtualOps);
  install_virtual_hid();
}

void detach() {
  plat_install_ops(nullptr);
  g_drives.clear();
  detach_hid();
}

}  // namespace vdev
