#include "virtual_device/fuse/drive_fs.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

Drive* g_drive = nullptr;

namespace {

constexpr const char* kReplyFile = "T-DRIVER.DMP";
constexpr const char* kDumpFile = "DUMP.ROM";

bool same_name(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// "CMD0.CMD" .. "CMD3.CMD" in any case, given back in the case the drive shows.
std::optional<std::string> command_name(const char* name) {
  if (std::strlen(name) != 8) return std::nullopt;
  if (strncasecmp(name, "CMD", 3) != 0 || name[3] < '0' || name[3] > '3' ||
      !same_name(name + 4, ".CMD")) {
    return std::nullopt;
  }
  return std::string("CMD") + name[3] + ".CMD";
}

enum class Entry { none, root, reply, dump, command };

// Names are looked up without regard to case, as on the device's FAT drive.
Entry lookup(const char* path, std::string* canonical = nullptr) {
  if (std::strcmp(path, "/") == 0) return Entry::root;
  if (path[0] != '/' || std::strchr(path + 1, '/')) return Entry::none;
  const char* name = path + 1;
  if (same_name(name, kReplyFile)) {
    if (canonical) *canonical = kReplyFile;
    return g_drive->device.exists(kReplyFile) ? Entry::reply : Entry::none;
  }
  if (same_name(name, kDumpFile)) {
    if (canonical) *canonical = kDumpFile;
    return g_drive->device.exists(kDumpFile) ? Entry::dump : Entry::none;
  }
  if (auto cmd = command_name(name)) {
    if (canonical) *canonical = *cmd;
    return Entry::command;
  }
  return Entry::none;
}

OpenCommand* open_command(fuse_file_info* fi) {
  if (!fi || fi->fh == 0) return nullptr;
  auto it = g_drive->opens.find(fi->fh);
  return it == g_drive->opens.end() ? nullptr : it->second.get();
}

void fill_stat(struct stat* st, mode_t mode, uint64_t size) {
  std::memset(st, 0, sizeof *st);
  st->st_mode = mode;
  st->st_nlink = S_ISDIR(mode) ? 2 : 1;
  st->st_uid = g_drive->uid;
  st->st_gid = g_drive->gid;
  st->st_size = static_cast<off_t>(size);
  st->st_blksize = 512;
  st->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
  st->st_atim = st->st_mtim = st->st_ctim = g_drive->mounted;
}

void* fs_init(fuse_conn_info*, fuse_config* cfg) {
  // Nothing may be cached: every read must see what the device presents now.
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  cfg->auto_cache = 0;
  cfg->hard_remove = 1;
  return nullptr;
}

int fs_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  std::string name;
  switch (lookup(path, &name)) {
    case Entry::root: fill_stat(st, S_IFDIR | 0755, 0); return 0;
    case Entry::reply:
    case Entry::dump: fill_stat(st, S_IFREG | 0644, g_drive->device.size(name)); return 0;
    case Entry::command: {
      if (OpenCommand* open = open_command(fi)) {
        fill_stat(st, S_IFREG | 0644, open->data.size());
        return 0;
      }
      auto it = g_drive->command_files.find(name);
      if (it == g_drive->command_files.end()) return -ENOENT;
      fill_stat(st, S_IFREG | 0644, it->second.size());
      return 0;
    }
    case Entry::none: break;
  }
  return -ENOENT;
}

int fs_readdir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*,
               fuse_readdir_flags) {
  if (lookup(path) != Entry::root) return -ENOTDIR;
  filler(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
  filler(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
  for (const char* name : {kReplyFile, kDumpFile}) {
    if (g_drive->device.exists(name)) filler(buf, name, nullptr, 0, fuse_fill_dir_flags{});
  }
  for (const auto& [name, data] : g_drive->command_files) {
    filler(buf, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
  }
  return 0;
}

int start_command(const std::string& name, bool truncate, bool created, fuse_file_info* fi) {
  auto open = std::make_unique<OpenCommand>();
  open->name = name;
  auto it = g_drive->command_files.find(name);
  if (!truncate && it != g_drive->command_files.end()) open->data = it->second;
  open->pending = truncate || created;
  if (created || truncate) g_drive->command_files[name] = {};
  fi->fh = g_drive->next_handle++;
  g_drive->opens[fi->fh] = std::move(open);
  fi->direct_io = 1;
  return 0;
}

int fs_create(const char* path, mode_t, fuse_file_info* fi) {
  std::string name;
  Entry e = lookup(path, &name);
  if (e == Entry::reply || e == Entry::dump) {
    return (fi->flags & O_EXCL) ? -EEXIST : -EACCES;
  }
  // The device's root takes command files only.
  if (e != Entry::command) return -EACCES;
  if ((fi->flags & O_EXCL) && g_drive->command_files.count(name)) return -EEXIST;
  return start_command(name, true, true, fi);
}

int fs_open(const char* path, fuse_file_info* fi) {
  std::string name;
  Entry e = lookup(path, &name);
  int access = fi->flags & O_ACCMODE;
  switch (e) {
    case Entry::reply:
    case Entry::dump:
      if (access != O_RDONLY) return -EACCES;
      fi->direct_io = 1;
      fi->fh = 0;
      return 0;
    case Entry::command: {
      bool exists = g_drive->command_files.count(name) != 0;
      if (!exists && !(fi->flags & O_CREAT)) return -ENOENT;
      bool truncate = access != O_RDONLY && (fi->flags & O_TRUNC);
      return start_command(name, truncate, !exists, fi);
    }
    case Entry::root: return -EISDIR;
    case Entry::none: break;
  }
  return -ENOENT;
}

// Sleeps through the time that `bytes` take at the drive's read speed, so that benchmarks see
// the host's own cost beside a device that, like the real one, is slower than the host.
void pace(uint32_t bytes) {
  if (!g_drive->read_speed || !bytes) return;
  const uint64_t ns = static_cast<uint64_t>(bytes) * 1000000000ull /
                      (static_cast<uint64_t>(g_drive->read_speed) << 20);
  timespec pause{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

int fs_read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (offset < 0) return -EINVAL;
  std::string name;
  switch (lookup(path, &name)) {
    case Entry::reply:
    case Entry::dump: {
      // Every read of the device's files is a direct read here (direct_io: nothing is cached,
      // the reader's offset and length arrive as asked), and the tool reads them only
      // unbuffered. So Windows' rule holds for all of them: whole sectors, or the read fails as
      // it would there. Wine opens without O_DIRECT, so the open flags cannot tell.
      uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX));
      const uint32_t refused = g_drive->device.refused_reads();
      const uint32_t got = g_drive->device.read_direct(name, static_cast<uint64_t>(offset),
                                                       reinterpret_cast<uint8_t*>(buf), count,
                                                       false);
      if (g_drive->device.refused_reads() != refused) return -EINVAL;
      pace(got);
      return static_cast<int>(got);
    }
    case Entry::command: {
      const std::vector<uint8_t>* data = nullptr;
      if (OpenCommand* open = open_command(fi)) data = &open->data;
      auto it = g_drive->command_files.find(name);
      if (!data && it != g_drive->command_files.end()) data = &it->second;
      if (!data) return -ENOENT;
      if (static_cast<uint64_t>(offset) >= data->size()) return 0;
      size_t n = std::min(size, data->size() - static_cast<size_t>(offset));
      std::memcpy(buf, data->data() + offset, n);
      return static_cast<int>(n);
    }
    case Entry::root: return -EISDIR;
    case Entry::none: break;
  }
  return -ENOENT;
}

// A command file is far smaller than this; the bound keeps a runaway writer from eating memory.
constexpr uint64_t kMaxCommandFile = 16u << 20;

int fs_write(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  OpenCommand* open = open_command(fi);
  if (!open) return -EACCES;
  if (offset < 0) return -EINVAL;
  uint64_t end = static_cast<uint64_t>(offset) + size;
  if (end > kMaxCommandFile) return -EFBIG;
  if (open->data.size() < end) open->data.resize(end);
  std::memcpy(open->data.data() + offset, buf, size);
  open->pending = true;
  return static_cast<int>(size);
}

int fs_truncate(const char* path, off_t size, fuse_file_info* fi) {
  if (size < 0) return -EINVAL;
  if (static_cast<uint64_t>(size) > kMaxCommandFile) return -EFBIG;
  std::string name;
  Entry e = lookup(path, &name);
  if (e == Entry::reply || e == Entry::dump) return -EACCES;
  if (e != Entry::command) return -ENOENT;
  if (OpenCommand* open = open_command(fi)) {
    open->data.resize(static_cast<size_t>(size));
    open->pending = true;
    return 0;
  }
  auto it = g_drive->command_files.find(name);
  if (it == g_drive->command_files.end()) return -ENOENT;
  it->second.resize(static_cast<size_t>(size));
  return 0;
}

// close() waits for this: the command is on the device and carried out before the writer
// goes on to read the answer.
int fs_flush(const char*, fuse_file_info* fi) {
  OpenCommand* open = open_command(fi);
  if (!open || !open->pending) return 0;
  open->pending = false;
  g_drive->command_files[open->name] = open->data;
  g_drive->device.take_command_file(open->name, open->data.data(), open->data.size());
  if (g_drive->delay_ms) {
    timespec pause{static_cast<time_t>(g_drive->delay_ms / 1000),
                   static_cast<long>(g_drive->delay_ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }
  return 0;
}

int fs_release(const char* path, fuse_file_info* fi) {
  // A writer that never closed (killed, or its last fd dropped without flush) still delivered
  // its data; carry it out rather than lose it.
  fs_flush(path, fi);
  g_drive->opens.erase(fi->fh);
  fi->fh = 0;
  return 0;
}

int fs_fsync(const char*, int, fuse_file_info*) { return 0; }

int fs_unlink(const char* path) {
  std::string name;
  Entry e = lookup(path, &name);
  if (e == Entry::command) {
    return g_drive->command_files.erase(name) ? 0 : -ENOENT;
  }
  return e == Entry::none ? -ENOENT : -EACCES;
}

int fs_utimens(const char* path, const timespec[2], fuse_file_info*) {
  return lookup(path) == Entry::none ? -ENOENT : 0;
}

int fs_chmod(const char* path, mode_t, fuse_file_info*) {
  return lookup(path) == Entry::none ? -ENOENT : 0;
}

int fs_statfs(const char*, struct statvfs* st) {
  std::memset(st, 0, sizeof *st);
  st->f_bsize = st->f_frsize = 512;
  st->f_blocks = 65536;  // a small removable medium
  st->f_bfree = st->f_bavail = 32768;
  st->f_files = 16;
  st->f_ffree = 8;
  st->f_namemax = 255;
  return 0;
}

}  // namespace

fuse_operations make_operations() {
  fuse_operations ops{};
  ops.init = fs_init;
  ops.getattr = fs_getattr;
  ops.readdir = fs_readdir;
  ops.create = fs_create;
  ops.open = fs_open;
  ops.read = fs_read;
  ops.write = fs_write;
  ops.truncate = fs_truncate;
  ops.flush = fs_flush;
  ops.release = fs_release;
  ops.fsync = fs_fsync;
  ops.unlink = fs_unlink;
  ops.utimens = fs_utimens;
  ops.chmod = fs_chmod;
  ops.statfs = fs_statfs;
  return ops;
}
