#include "virtual_device/fuse/options.h"

#include <dirent.h>
#include <getopt.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/drives.h"

namespace {

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
      "  --read-speed MIBS      the device's files read at MIBS MiB/s, as USB would deliver\n"
      "                         them (default: as fast as the host can; 1 to 1000)\n"
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

}  // namespace

bool fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return false;
}

bool parse_options(int argc, char** argv, Options& o) {
  enum {
    kName = 1000, kIdentity, kKey, kKeySource, kDate, kStatusFile, kDelay, kReadSpeed,
    kCartridge, kSaveDir,
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
      {"read-speed", required_argument, nullptr, kReadSpeed},
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
      case kReadSpeed: {
        char* end = nullptr;
        errno = 0;
        unsigned long speed = std::strtoul(arg.c_str(), &end, 10);
        if (arg.empty() || *end || errno || arg[0] == '-' || speed < 1 || speed > 1000) {
          return fail("--read-speed '" + arg + "': give MiB per second from 1 to 1000");
        }
        o.read_speed = static_cast<uint32_t>(speed);
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
