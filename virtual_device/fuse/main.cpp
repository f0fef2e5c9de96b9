// cartlink-virtual: mounts one virtual device as a FUSE file system, so that the unchanged
// cartlink (and cartlink.exe under wine) finds it as a removable drive. The drive's root holds
// "T-DRIVER.DMP", "DUMP.ROM" and the command files; a command file is carried out when its
// writer closes it, which is when the kernel sends the flush request.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fuse.h>
#include <getopt.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/nes_boards.h"

namespace {

constexpr const char* kProgram = "cartlink-virtual";
constexpr const char* kReplyFile = "T-DRIVER.DMP";
constexpr const char* kDumpFile = "DUMP.ROM";
constexpr size_t kMaxNameSize = 256;
constexpr size_t kMaxDateSize = 8;

// Every cartridge kind of the table, with its options.
std::string cartridge_help() {
  std::string out = "Cartridge kinds:\n";
  for (const auto& kind : vdev::cartridge_kinds()) {
    out += "  " + std::string(kind.name) + "\n      " + kind.description + "\n";
    for (const auto& o : kind.options) {
      std::string left = "--" + std::string(o.name) + " " + o.value;
      if (left.size() < 22) left.resize(22, ' ');
      out += "    " + left + " " + o.help + "\n";
    }
  }
  return out;
}

void usage(std::FILE* out) {
  std::fprintf(out,
      "Usage: %s [options] MOUNTPOINT\n"
      "\n"
      "Mounts a virtual cartridge reader/writer on the empty directory MOUNTPOINT. Its root\n"
      "holds T-DRIVER.DMP, DUMP.ROM and the command files CMD0.CMD..CMD3.CMD; the mount's\n"
      "type is fuse.cartlink-virtual, which cartlink counts as a removable drive.\n"
      "Unmount with Ctrl-C or SIGTERM (in the foreground) or 'fusermount3 -u MOUNTPOINT'.\n"
      "\n"
      "Device:\n"
      "  --name TEXT            text of the status sector before an identity command\n"
      "                         (default NES_HWRKA_FW400)\n"
      "  --identity TEXT        identity text after an identity command (default NES_HWRKA_FW400)\n"
      "  --key HEX              the device's 8 key bytes as 16 hex digits\n"
      "  --key-source SOURCE    where discovery finds the key: 'status' (\"BOOT\" in the status\n"
      "                         sector, the default) or 'request' (the family 240 request)\n"
      "  --date DIGITS          date digits of the status sector, up to 8 (default 20211001)\n"
      "  --status-file STATE    'present' (default), 'missing' or 'short' T-DRIVER.DMP\n"
      "  --delay MS             each command file takes MS milliseconds to carry out (a slow\n"
      "                         device; default 0, at most 10000)\n"
      "\n"
      "Cartridge:\n"
      "  --cartridge KIND       the cartridge in the slot (default f90); its options follow\n"
      "  --save-dir DIR         at unmount, save the cartridge's memories there as NAME.bin\n"
      "\n"
      "%s"
      "\n"
      "Program:\n"
      "  --trace FILE           one line per command file and reply read ('-': standard error)\n"
      "  -f, --foreground       stay in the foreground instead of running in the background\n"
      "  --fuse-debug           print every FUSE request (implies --foreground)\n"
      "  -h, --help             this text\n",
      kProgram, cartridge_help().c_str());
}

// Everything the command line asks for, checked before anything is mounted.
struct Options {
  vdev::DeviceConfig config;
  std::string kind = "f90";
  vdev::CartridgeOptions cartridge_options;
  std::optional<std::string> trace_file, save_dir;
  std::string mountpoint;
  uint32_t delay_ms = 0;
  bool foreground = false;
  bool fuse_debug = false;
};

bool fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return false;
}

bool parse_key(const std::string& text, std::array<uint8_t, 8>& key) {
  if (text.size() != 16) return false;
  for (size_t i = 0; i < 8; ++i) {
    unsigned value = 0;
    for (size_t j = 0; j < 2; ++j) {
      char c = text[2 * i + j];
      unsigned digit;
      if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
      else return false;
      value = value * 16 + digit;
    }
    key[i] = static_cast<uint8_t>(value);
  }
  return true;
}

bool parse_options(int argc, char** argv, Options& o) {
  enum {
    kName = 1000, kIdentity, kKey, kKeySource, kDate, kStatusFile, kDelay, kCartridge, kSaveDir,
    kTrace, kFuseDebug, kCartridgeOption = 2000
  };
  std::vector<option> long_options = {
      {"name", required_argument, nullptr, kName},
      {"identity", required_argument, nullptr, kIdentity},
      {"key", required_argument, nullptr, kKey},
      {"key-source", required_argument, nullptr, kKeySource},
      {"date", required_argument, nullptr, kDate},
      {"status-file", required_argument, nullptr, kStatusFile},
      {"delay", required_argument, nullptr, kDelay},
      {"cartridge", required_argument, nullptr, kCartridge},
      {"save-dir", required_argument, nullptr, kSaveDir},
      {"trace", required_argument, nullptr, kTrace},
      {"foreground", no_argument, nullptr, 'f'},
      {"fuse-debug", no_argument, nullptr, kFuseDebug},
      {"help", no_argument, nullptr, 'h'},
  };
  // Every option of every cartridge kind; which kind takes it is checked once all are read.
  std::vector<std::string> cartridge_option_names;
  for (const auto& kind : vdev::cartridge_kinds()) {
    for (const auto& o : kind.options) {
      if (std::find(cartridge_option_names.begin(), cartridge_option_names.end(), o.name) ==
          cartridge_option_names.end()) {
        cartridge_option_names.push_back(o.name);
      }
    }
  }
  for (size_t i = 0; i < cartridge_option_names.size(); ++i) {
    long_options.push_back({cartridge_option_names[i].c_str(), required_argument, nullptr,
                            kCartridgeOption + static_cast<int>(i)});
  }
  long_options.push_back({nullptr, 0, nullptr, 0});
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":fh", long_options.data(), nullptr)) != -1) {
    if (c >= kCartridgeOption) {
      o.cartridge_options[cartridge_option_names[static_cast<size_t>(c - kCartridgeOption)]] =
          optarg ? optarg : "";
      continue;
    }
    std::string arg = optarg ? optarg : "";
    switch (c) {
      case kName:
      case kIdentity:
        if (arg.size() > kMaxNameSize) {
          return fail(std::string(c == kName ? "--name" : "--identity") +
                      ": the text is longer than " + std::to_string(kMaxNameSize) + " bytes");
        }
        (c == kName ? o.config.name : o.config.identity) = arg;
        break;
      case kKey:
        if (!parse_key(arg, o.config.key)) {
          return fail("--key '" + arg + "': give the 8 key bytes as exactly 16 hex digits");
        }
        break;
      case kKeySource:
        if (arg == "status") o.config.key_source = vdev::KeySource::status_sector;
        else if (arg == "request") o.config.key_source = vdev::KeySource::request;
        else return fail("--key-source '" + arg + "': use 'status' or 'request'");
        break;
      case kDate:
        if (arg.size() > kMaxDateSize) {
          return fail("--date '" + arg + "': at most " + std::to_string(kMaxDateSize) +
                      " characters");
        }
        o.config.date_digits = arg;
        break;
      case kStatusFile:
        if (arg == "present") o.config.status_file = vdev::StatusFile::present;
        else if (arg == "missing") o.config.status_file = vdev::StatusFile::missing;
        else if (arg == "short") o.config.status_file = vdev::StatusFile::short_file;
        else return fail("--status-file '" + arg + "': use 'present', 'missing' or 'short'");
        break;
      case kDelay: {
        char* end = nullptr;
        errno = 0;
        unsigned long ms = std::strtoul(arg.c_str(), &end, 10);
        if (arg.empty() || *end || errno || arg[0] == '-' || ms > 10000) {
          return fail("--delay '" + arg + "': give milliseconds from 0 to 10000");
        }
        o.delay_ms = static_cast<uint32_t>(ms);
        break;
      }
      case kCartridge:
        if (!vdev::find_cartridge_kind(arg)) {
          std::string known;
          for (const auto& kind : vdev::cartridge_kinds()) {
            known += (known.empty() ? "" : ", ") + std::string(kind.name);
          }
          return fail("--cartridge '" + arg + "': unknown kind; known kinds are " + known);
        }
        o.kind = arg;
        break;
      case kSaveDir: o.save_dir = arg; break;
      case kTrace: o.trace_file = arg; break;
      case 'f': o.foreground = true; break;
      case kFuseDebug: o.fuse_debug = o.foreground = true; break;
      case 'h': usage(stdout); std::exit(0);
      case ':': return fail(std::string(argv[optind - 1]) + " needs a value (see --help)");
      default: return fail("unknown option " + std::string(argv[optind - 1]) + " (see --help)");
    }
  }
  if (optind + 1 != argc) {
    return fail(optind == argc ? "no mount point given (see --help)"
                               : "give exactly one mount point (see --help)");
  }
  o.mountpoint = argv[optind];
  const vdev::CartridgeKind* kind = vdev::find_cartridge_kind(o.kind);
  for (const auto& [name, value] : o.cartridge_options) {
    bool offered = false;
    for (const auto& option : kind->options) offered = offered || name == option.name;
    if (offered) continue;
    if (kind->options.empty()) {
      return fail("--" + name + " and the other cartridge options need a cartridge, but "
                  "--cartridge is '" + o.kind + "'");
    }
    return fail("--" + name + " is not an option of cartridge '" + o.kind + "' (see --help)");
  }
  if (o.save_dir) {
    char* full = realpath(o.save_dir->c_str(), nullptr);
    struct stat st {};
    if (!full || stat(full, &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::free(full);
      return fail("--save-dir " + *o.save_dir + ": not a folder");
    }
    // The background process works from '/': keep the folder's full name.
    o.save_dir = full;
    std::free(full);
  }
  return true;
}

// Saves each memory of the cartridge as DIR/NAME.bin, written whole before it takes the name.
void save_memories(vdev::Device& device, const std::string& dir) {
  for (const auto& memory : device.memories()) {
    const std::string path = dir + "/" + memory.name + ".bin";
    const std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f != nullptr;
    if (f) {
      ok = std::fwrite(memory.bytes->data(), 1, memory.bytes->size(), f) == memory.bytes->size();
      ok = std::fclose(f) == 0 && ok;
    }
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
      std::remove(temporary.c_str());
      std::fprintf(stderr, "%s: cannot save %s\n", kProgram, path.c_str());
    }
  }
}

// The drive list is the mount table, each point with a trailing '/'.
bool is_mount_point(const std::string& path) {
  static char roots[65536];
  const uint32_t used = plat_list_drive_roots(roots, sizeof roots);
  const std::string wanted = path.back() == '/' ? path : path + "/";
  for (uint32_t at = 0; at < used;) {
    const std::string root(roots + at);
    if (root == wanted) return true;
    at += static_cast<uint32_t>(root.size()) + 1;
  }
  return false;
}

// The mount point must be an empty directory that nothing is mounted on yet: mounting over
// files would hide them, and a second device on one point would hide the first.
bool check_mountpoint(std::string& mountpoint) {
  struct stat st {};
  if (stat(mountpoint.c_str(), &st) != 0) {
    if (errno == ENOTCONN) {
      return fail(mountpoint + " is a mount whose file system has gone away; unmount it "
                  "first with 'fusermount3 -u " + mountpoint + "'");
    }
    return fail("cannot use the mount point " + mountpoint + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) return fail("the mount point " + mountpoint + " is not a directory");
  char resolved[PATH_MAX];
  if (!realpath(mountpoint.c_str(), resolved)) {
    return fail("cannot use the mount point " + mountpoint + ": " + std::strerror(errno));
  }
  if (is_mount_point(resolved)) {
    return fail(std::string(resolved) +
                " is already a mount point; unmount it first or choose another directory");
  }
  DIR* dir = opendir(resolved);
  if (!dir) {
    return fail("cannot read the mount point " + std::string(resolved) + ": " +
                std::strerror(errno));
  }
  bool empty = true;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(dir);
  if (!empty) {
    return fail("the mount point " + std::string(resolved) +
                " is not empty; mounting would hide its files");
  }
  mountpoint = resolved;
  return true;
}

// ---- The file system -------------------------------------------------------------------

// One open of a command file: its own buffer, carried out once when the writer closes it.
struct OpenCommand {
  std::string name;
  std::vector<uint8_t> data;
  bool pending = false;  // written, created or truncated since the last flush
};

struct Drive {
  Drive(const vdev::DeviceConfig& config, uint32_t delay) : device(config), delay_ms(delay) {}
  vdev::Device device;
  std::map<std::string, std::vector<uint8_t>> command_files;  // last contents per name
  // Open command files by handle; the drive owns them, so an unmount that cuts off a writer
  // before its release frees them all the same.
  std::map<uint64_t, std::unique_ptr<OpenCommand>> opens;
  uint64_t next_handle = 1;
  uint32_t delay_ms = 0;
  uid_t uid = getuid();
  gid_t gid = getgid();
  timespec mounted{};
};

Drive* g_drive = nullptr;

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

int fs_read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (offset < 0) return -EINVAL;
  std::string name;
  switch (lookup(path, &name)) {
    case Entry::reply:
    case Entry::dump: {
      uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX));
      return static_cast<int>(g_drive->device.read(name, static_cast<uint64_t>(offset),
                                                   reinterpret_cast<uint8_t*>(buf), count));
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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, options)) return 2;
  Drive drive(options.config, options.delay_ms);
  std::string error;
  if (!vdev::find_cartridge_kind(options.kind)->build(drive.device, options.cartridge_options,
                                                       error)) {
    fail(error);
    return 2;
  }
  if (!check_mountpoint(options.mountpoint)) return 2;

  std::FILE* trace = nullptr;
  if (options.trace_file) {
    if (*options.trace_file == "-") {
      trace = stderr;
    } else {
      // Opened before going to the background, so a relative name means the caller's folder.
      trace = std::fopen(options.trace_file->c_str(), "w");
      if (!trace) {
        fail("cannot write the trace file " + *options.trace_file + ": " + std::strerror(errno));
        return 2;
      }
    }
    std::setvbuf(trace, nullptr, _IOLBF, 0);
  }

  clock_gettime(CLOCK_REALTIME, &drive.mounted);
  drive.device.set_trace_log(trace);
  g_drive = &drive;

  std::vector<std::string> args_text = {
      kProgram, "-o", "fsname=cartlink-virtual,subtype=cartlink-virtual"};
  if (options.fuse_debug) args_text.push_back("-d");
  std::vector<char*> args_ptrs;
  for (auto& a : args_text) args_ptrs.push_back(a.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(args_ptrs.size()), args_ptrs.data());

  fuse_operations ops = make_operations();
  fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr);
  if (!fs) {
    fuse_opt_free_args(&args);
    std::fprintf(stderr, "%s: cannot set up the file system\n", kProgram);
    return 1;
  }
  if (fuse_mount(fs, options.mountpoint.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot mount on %s (is /dev/fuse there and fusermount3 installed?)\n",
                 kProgram, options.mountpoint.c_str());
    fuse_destroy(fs);
    fuse_opt_free_args(&args);
    return 1;
  }
  fuse_session* session = fuse_get_session(fs);
  int status = 1;
  // A shell starts background jobs with SIGINT ignored, and libfuse leaves ignored signals
  // alone; an interrupt sent on purpose must still unmount.
  std::signal(SIGINT, SIG_DFL);
  if (fuse_set_signal_handlers(session) != 0) {
    std::fprintf(stderr, "%s: cannot install the signal handlers\n", kProgram);
  } else if (fuse_daemonize(options.foreground ? 1 : 0) != 0) {
    std::fprintf(stderr, "%s: cannot go to the background\n", kProgram);
    fuse_remove_signal_handlers(session);
  } else {
    // One thread: the device model serves one request at a time, as the real device does.
    status = fuse_loop(fs) < 0 ? 1 : 0;
    fuse_remove_signal_handlers(session);
  }
  fuse_unmount(fs);
  fuse_destroy(fs);
  fuse_opt_free_args(&args);
  drive.device.set_trace_log(nullptr);
  if (options.save_dir) save_memories(drive.device, *options.save_dir);
  if (trace && trace != stderr) std::fclose(trace);
  g_drive = nullptr;
  return status;
}
