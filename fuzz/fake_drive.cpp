#include "fuzz/fake_drive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/seam.h"

namespace fuzz {

namespace {

FakeDrive* g_drive = nullptr;

std::vector<uint8_t>* find(const char* name) {
  if (!g_drive || !name) return nullptr;
  auto it = g_drive->files.find(name);
  return it == g_drive->files.end() ? nullptr : &it->second;
}

uint32_t f_write_file(const char* name, const uint8_t* data, uint32_t count) {
  if (!g_drive || !name) return 0;
  g_drive->files[name].assign(data, data + count);
  if (g_drive->on_write) g_drive->on_write(name, data, count);
  return count;
}

uint32_t f_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset, bool) {
  const std::vector<uint8_t>* file = find(name);
  if (!file || !buffer || offset < 0 || static_cast<size_t>(offset) >= file->size()) return 0;
  const size_t n = std::min<size_t>(count, file->size() - static_cast<size_t>(offset));
  std::memcpy(buffer, file->data() + offset, n);
  return static_cast<uint32_t>(n);
}

uint32_t f_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  std::vector<uint8_t>* file = find(name);
  if (!file || !data || offset < 0) return 0;
  const size_t end = static_cast<size_t>(offset) + count;
  if (file->size() < end) file->resize(end);
  std::memcpy(file->data() + offset, data, count);
  return count;
}

uint32_t f_file_size(const char* name) {
  const std::vector<uint8_t>* file = find(name);
  return file ? static_cast<uint32_t>(file->size()) : 0;
}

bool f_replace_file(const char* from, const char* to) {
  std::vector<uint8_t>* file = find(from);
  if (!file || !to) return false;
  std::vector<uint8_t> moved = std::move(*file);
  g_drive->files.erase(from);
  g_drive->files[to] = std::move(moved);
  return true;
}

bool f_remove_file(const char* name) { return g_drive && name && g_drive->files.erase(name) > 0; }

bool f_resize_file(const char* name, uint32_t size) {
  if (!g_drive || !name) return false;
  g_drive->files[name].resize(size);
  return true;
}

bool f_sync_file(const char* name) { return find(name) != nullptr; }

bool f_file_exists(const char* name) { return find(name) != nullptr; }

uint32_t f_list_drive_roots(char* buffer, uint32_t capacity) {
  if (!g_drive || !buffer || capacity == 0) return 0;
  uint32_t used = 0;
  for (const auto& root : g_drive->roots) {
    const auto length = static_cast<uint32_t>(root.size());
    if (uint64_t{used} + length + 2 > capacity) break;
    std::memcpy(buffer + used, root.c_str(), length + 1);
    used += length + 1;
  }
  buffer[used] = '\0';
  return used;
}

bool f_drive_is_removable(const char*) { return true; }

const PlatformOps kFakeOps = {f_write_file,   f_read_at,        f_write_at,
                              f_file_size,    f_replace_file,   f_remove_file,
                              f_resize_file,  f_sync_file,      f_file_exists,
                              f_list_drive_roots, f_drive_is_removable};

}  // namespace

void install(FakeDrive* drive) {
  g_drive = drive;
  plat_install_ops(drive ? &kFakeOps : nullptr);
}

void silence_output() {
  static std::FILE* nowhere = std::fopen("/dev/null", "w");
  if (!nowhere) return;
  stdout = nowhere;
  stderr = nowhere;
}

std::vector<uint8_t> Input::bytes(size_t count) {
  const size_t n = std::min(count, size_ - std::min(at_, size_));
  std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
  at_ += n;
  return out;
}

}  // namespace fuzz
