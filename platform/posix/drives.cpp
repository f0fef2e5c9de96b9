// Drive roots on Linux: the mount points of /proc/self/mounts. A mount is removable media when
// it is a mounted virtual device or its block device is removable or sits on a USB bus.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "platform/os.h"

namespace {

constexpr const char* kVirtualDeviceType = "fuse.cartlink-virtual";

struct Mount {
  std::string root;  // with a trailing '/'
  std::string type;
};

// /proc/self/mounts writes space, tab, newline and backslash as octal escapes ("\040").
std::string decode_mount_field(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
        field[i + 3] >= '0' && field[i + 3] <= '7') {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::vector<Mount> read_mounts() {
  std::vector<Mount> mounts;
  std::ifstream in("/proc/self/mounts");
  std::string line;
  while (std::getline(in, line)) {
    char device[4096], point[4096], type[256];
    if (std::sscanf(line.c_str(), "%4095s %4095s %255s", device, point, type) != 3) continue;
    Mount m{decode_mount_field(point), type};
    if (m.root.empty() || m.root.back() != '/') m.root.push_back('/');
    // A root must fit the link state's path field with room for the longest file name.
    if (m.root.size() + sizeof("T-DRIVER.DMP") > kRootPathSize) continue;
    mounts.push_back(std::move(m));
  }
  std::stable_sort(mounts.begin(), mounts.end(),
            [](const Mount& a, const Mount& b) { return a.root < b.root; });
  // A point mounted twice counts once; the later mount is the one that is seen.
  std::vector<Mount> unique;
  for (auto& m : mounts) {
    if (!unique.empty() && unique.back().root == m.root) {
      unique.back() = std::move(m);
    } else {
      unique.push_back(std::move(m));
    }
  }
  return unique;
}

bool read_flag(const std::string& path) {
  std::ifstream in(path);
  int value = 0;
  return (in >> value) && value != 0;
}

// The sysfs folder of a block device, and of the whole disk when it is a partition.
bool block_device_removable(dev_t dev) {
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(dev), minor(dev));
  char resolved[4096];
  if (!realpath(link, resolved)) return false;
  std::string path(resolved);
  if (path.find("/usb") != std::string::npos) return true;
  if (read_flag(path + "/removable")) return true;
  std::string parent = path.substr(0, path.rfind('/'));
  return access((path + "/partition").c_str(), F_OK) == 0 && read_flag(parent + "/removable");
}

}  // namespace

uint32_t os_list_drive_roots(char* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  uint32_t used = 0;
  for (const Mount& m : read_mounts()) {
    uint32_t need = static_cast<uint32_t>(m.root.size()) + 1;
    if (used + need + 1 > capacity) break;
    std::memcpy(buffer + used, m.root.c_str(), need);
    used += need;
  }
  buffer[used] = '\0';
  return used;
}

bool os_drive_is_removable(const char* root) {
  for (const Mount& m : read_mounts()) {
    if (m.root != root) continue;
    if (m.type == kVirtualDeviceType) return true;
    struct stat st {};
    if (stat(root, &st) != 0 || major(st.st_dev) == 0) return false;
    return block_device_removable(st.st_dev);
  }
  return false;
}
