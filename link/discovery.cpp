#include "link/discovery.h"

#include <cstdint>
#include <cstring>

#include "link/link_state.h"
#include "link/text.h"
#include "link/transport.h"
#include "platform/drives.h"

namespace {

// Room for the drive list: 26 drive letters on Windows, many more mount points on Linux.
constexpr uint32_t kDriveListSize = 16384;

constexpr uint32_t kBootOffset = 256;
constexpr uint32_t kKeyOffset = 512;
constexpr uint32_t kDateOffset = 1016;

bool is_device_name_start(uint8_t c) { return c >= 'A' && c <= 'Z'; }

}  // namespace

bool probe_hid() {
  // The HID transport is not part of this build yet: no device is found this way.
  return false;
}

bool probe_drive() {
  static char roots[kDriveListSize];
  std::memset(roots, 0, sizeof roots);
  uint32_t length = plat_list_drive_roots(roots, sizeof roots - 1);
  if (length == 0) return false;
  for (uint32_t at = 0; at < length && roots[at] != '\0';) {
    const char* root = roots + at;
    size_t root_length = std::strlen(root);
    at += static_cast<uint32_t>(root_length) + 1;
    if (root_length >= sizeof g_link.root_path) continue;
    std::memcpy(g_link.root_path, root, root_length + 1);
    if (!plat_drive_is_removable(g_link.root_path)) continue;

    uint8_t sector[kStatusSectorSize] = {};
    if (read_reply(kStatusSectorOffset, sector, sizeof sector) != sizeof sector) continue;
    if (!is_device_name_start(sector[0])) continue;

    copy_text(g_link.device_name, kDeviceNameMax, sector, sizeof sector);
    g_link.date_number = static_cast<uint32_t>(
        parse_decimal(sector + kDateOffset, sizeof sector - kDateOffset));
    if (std::memcmp(sector + kBootOffset, "BOOT", 4) == 0) {
      std::memcpy(g_link.key_data, sector + kKeyOffset, sizeof g_link.key_data);
    } else {
      // Ask for the device data: the status sector buffer itself becomes the request packet.
      sector[1] = kFamilySystem;
      sector[2] = 4;
      send_command(sector, kPacketSize);
      read_reply(0, sector, sizeof sector);
      std::memcpy(g_link.key_data, sector, sizeof g_link.key_data);
    }
    return true;
  }
  return false;
}

bool open_device() {
  g_link.hid_link = false;
  g_link.date_number = 0;
  std::memset(g_link.device_name, 0, sizeof g_link.device_name);
  if (probe_hid()) {
    g_link.hid_link = true;
    return true;
  }
  if (probe_drive()) {
    g_link.hid_link = false;
    return true;
  }
  return false;
}

void close_device() {}
