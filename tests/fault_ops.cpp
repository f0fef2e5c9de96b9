#include "tests/fault_ops.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/seam.h"

namespace {

struct Shared {
  uint32_t candidates;
  bool injected;
};

Shared* shared() {
  static Shared* memory = [] {
    void* p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                   -1, 0);
    return p == MAP_FAILED ? new Shared{} : static_cast<Shared*>(p);
  }();
  return memory;
}

PlatformOps g_inner{};
const PlatformOps* g_restore = nullptr;
Fault g_fault = Fault::none;
uint32_t g_nth = 0;
std::string g_root;
bool g_gone = false;

enum class Kind { write, read, rename, other };

bool under_device(const char* name) {
  return name && !g_root.empty() && std::strncmp(name, g_root.c_str(), g_root.size()) == 0;
}

bool is_reply_file(const char* name) {
  return under_device(name) && std::strcmp(name + g_root.size(), "T-DRIVER.DMP") == 0;
}

bool applies(Kind kind, const char* name) {
  switch (g_fault) {
    case Fault::none: return false;
    case Fault::open_failure:
    case Fault::device_gone: return true;
    case Fault::short_write:
    case Fault::write_error:
    case Fault::no_space:
    case Fault::fsync_failure: return kind == Kind::write;
    case Fault::rename_failure: return kind == Kind::rename;
    case Fault::short_read:
    case Fault::read_error: return kind == Kind::read;
    case Fault::reply_missing: return kind == Kind::read && is_reply_file(name);
  }
  return false;
}

// Counts the operation; true when it is the one to fail.
bool strike(Kind kind, const char* name) {
  if (!applies(kind, name)) return false;
  Shared& s = *shared();
  ++s.candidates;
  if (g_nth == 0 || s.candidates != g_nth) return false;
  s.injected = true;
  return true;
}

// Whether the operation must fail because the device is gone (or its reply file is).
bool gone(Kind kind, const char* name) {
  const bool hit = strike(kind, name);
  if (g_fault == Fault::device_gone) {
    g_gone = g_gone || hit;
    return g_gone && under_device(name);
  }
  if (g_fault == Fault::reply_missing) {
    g_gone = g_gone || hit;
    return g_gone && is_reply_file(name);
  }
  return false;
}

bool persistent() { return g_fault == Fault::device_gone || g_fault == Fault::reply_missing; }

uint32_t x_write(const char* name, const uint8_t* data, uint32_t count, int32_t offset,
                 bool whole_file) {
  auto inner = [&](uint32_t n) {
    return whole_file ? g_inner.write_file(name, data, n) : g_inner.write_at(name, data, n, offset);
  };
  if (persistent()) return gone(Kind::write, name) ? 0 : inner(count);
  if (!strike(Kind::write, name)) return inner(count);
  switch (g_fault) {
    case Fault::open_failure: return 0;
    case Fault::short_write: return inner(count / 2);
    case Fault::write_error: inner(0); return 0;
    case Fault::no_space: inner(count / 3); return 0;
    case Fault::fsync_failure: inner(count); return 0;
    default: return inner(count);
  }
}

uint32_t f_write_file(const char* name, const uint8_t* data, uint32_t count) {
  return x_write(name, data, count, 0, true);
}

uint32_t f_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  return x_write(name, data, count, offset, false);
}

uint32_t f_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                   bool unbuffered) {
  if (persistent()) return gone(Kind::read, name) ? 0 : g_inner.read_at(name, buffer, count, offset, unbuffered);
  if (!strike(Kind::read, name)) return g_inner.read_at(name, buffer, count, offset, unbuffered);
  // Whatever the buffer held is not data: fill it so that a reader that uses it anyway shows.
  if (buffer) std::memset(buffer, 0xEE, count);
  switch (g_fault) {
    case Fault::short_read: {
      const uint32_t got = g_inner.read_at(name, buffer, count, offset, unbuffered);
      // Whole sectors stay whole: an unbuffered read never ends mid-sector.
      uint32_t half = got / 2;
      if (unbuffered) half = half / 512 * 512;
      if (buffer && half < count) std::memset(buffer + half, 0xEE, count - half);
      return half;
    }
    default: return 0;
  }
}

uint32_t f_file_size(const char* name) {
  if (persistent()) return gone(Kind::other, name) ? 0 : g_inner.file_size(name);
  return strike(Kind::other, name) ? 0 : g_inner.file_size(name);
}

bool f_replace_file(const char* from, const char* to) {
  if (persistent()) return gone(Kind::rename, from) ? false : g_inner.replace_file(from, to);
  return strike(Kind::rename, from) ? false : g_inner.replace_file(from, to);
}

bool f_remove_file(const char* name) {
  if (persistent()) return gone(Kind::other, name) ? false : g_inner.remove_file(name);
  return strike(Kind::other, name) ? false : g_inner.remove_file(name);
}

// Making an output's file and syncing it are writes: any write fault fails them.
bool f_resize_file(const char* name, uint32_t size) {
  if (persistent()) return gone(Kind::write, name) ? false : g_inner.resize_file(name, size);
  return strike(Kind::write, name) ? false : g_inner.resize_file(name, size);
}

bool f_sync_file(const char* name) {
  if (persistent()) return gone(Kind::write, name) ? false : g_inner.sync_file(name);
  return strike(Kind::write, name) ? false : g_inner.sync_file(name);
}

bool f_file_exists(const char* name) {
  if (persistent()) return gone(Kind::other, name) ? false : g_inner.file_exists(name);
  return strike(Kind::other, name) ? false : g_inner.file_exists(name);
}

uint32_t f_list_drive_roots(char* buffer, uint32_t capacity) {
  const uint32_t length = g_inner.list_drive_roots(buffer, capacity);
  if (!(g_gone && g_fault == Fault::device_gone) || !buffer) return length;
  // The gone drive is no longer listed.
  std::vector<char> kept;
  for (uint32_t at = 0; at < length && buffer[at] != '\0';) {
    const std::string root(buffer + at);
    at += static_cast<uint32_t>(root.size()) + 1;
    if (root != g_root) kept.insert(kept.end(), root.c_str(), root.c_str() + root.size() + 1);
  }
  std::copy(kept.begin(), kept.end(), buffer);
  buffer[kept.size()] = '\0';
  return static_cast<uint32_t>(kept.size());
}

bool f_drive_is_removable(const char* root) { return g_inner.drive_is_removable(root); }

const PlatformOps kFaultOps = {f_write_file,   f_read_at,        f_write_at,
                               f_file_size,    f_replace_file,   f_remove_file,
                               f_resize_file,  f_sync_file,      f_file_exists,
                               f_list_drive_roots, f_drive_is_removable};

}  // namespace

const char* fault_name(Fault fault) {
  switch (fault) {
    case Fault::none: return "none";
    case Fault::open_failure: return "open failure";
    case Fault::short_write: return "short write";
    case Fault::write_error: return "write error";
    case Fault::no_space: return "no space";
    case Fault::fsync_failure: return "fsync failure";
    case Fault::rename_failure: return "rename failure";
    case Fault::short_read: return "short read";
    case Fault::read_error: return "read error";
    case Fault::device_gone: return "device gone";
    case Fault::reply_missing: return "reply file missing";
  }
  return "?";
}

void fault_install(Fault fault, uint32_t nth, const std::string& device_root) {
  g_restore = &plat_current_ops();
  g_inner = *g_restore;
  g_fault = fault;
  g_nth = nth;
  g_root = device_root;
  g_gone = false;
  *shared() = Shared{};
  plat_install_ops(&kFaultOps);
}

void fault_remove() {
  plat_install_ops(g_restore == &plat_os_ops() ? nullptr : g_restore);
  g_fault = Fault::none;
  g_gone = false;
}

uint32_t fault_candidates() { return shared()->candidates; }

bool fault_injected() { return shared()->injected; }
