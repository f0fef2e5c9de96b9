#include "link/discovery.h"

#include <cstdint>
#include <cstring>

#include "link/device_control.h"
#include "link/link_state.h"
#include "link/text.h"
#include "link/transport.h"
#include "platform/drives.h"
#include "platform/hid.h"

namespace {

// Room for the drive list: 26 drive letters on Windows, many more mount points on Linux.
constexpr uint32_t kDriveListSize = 16384;

constexpr uint32_t kBootOffset = 256;
constexpr uint32_t kKeyOffset = 512;
constexpr uint32_t kDateOffset = 1016;

// The cartridge reader as a USB HID device.
constexpr int32_t kHidVendor = 0x0483;
constexpr int32_t kHidProduct = 0x5750;
constexpr int32_t kAnyUsage = -1;

bool is_device_name_start(uint8_t c) { return c >= 'A' && c <= 'Z'; }

// Walks the removable drives for the first whose status sector starts with an uppercase
// letter; leaves root_path at it (or at the last drive examined) and the sector in `sector`.
bool find_device_drive(uint8_t (&sector)[kStatusSectorSize]) {
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

    std::memset(sector, 0, sizeof sector);
    if (read_reply(kStatusSectorOffset, sector, sizeof sector) != sizeof sector) continue;
    if (!is_device_name_start(sector[0])) continue;
    return true;
  }
  return false;
}

// Over HID the command families still travel as files on the device's drive. Without such a
// drive they would land in the working folder and replies would be read from there, so the
// drive transport is refused instead.
void locate_drive_for_hid_link() {
  uint8_t sector[kStatusSectorSize];
  if (find_device_drive(sector)) return;
  g_link.root_path[0] = '\0';
  g_link.drive_refused = true;
}

}  // namespace

bool probe_hid() {
  if (hid_open_devices(1, kHidVendor, kHidProduct, kAnyUsage, kAnyUsage) > 0) return true;
  return hid_open_devices(1, kHidVendor, kHidProduct, kAnyUsage, kAnyUsage) > 0;
}

bool probe_drive() {
  uint8_t sector[kStatusSectorSize] = {};
  if (!find_device_drive(sector)) return false;
  copy_text(g_link.device_name, kDeviceNameMax, sector, sizeof sector);
  g_link.date_number =
      static_cast<uint32_t>(parse_decimal(sector + kDateOffset, sizeof sector - kDateOffset));
  if (std::memcmp(sector + kBootOffset, "BOOT", 4) == 0) {
    std::memcpy(g_link.key_data, sector + kKeyOffset, sizeof g_link.key_data);
    g_link.key_missing = false;
  } else {
    // Ask for the device data: the status sector buffer itself becomes the request packet.
    sector[1] = kFamilySystem;
    sector[2] = kSysKeyRequest;
    const bool sent = send_command(sector, kPacketSize) == kPacketSize;
    const bool answered = read_reply(0, sector, sizeof sector) == sizeof sector;
    std::memcpy(g_link.key_data, sector, sizeof g_link.key_data);
    // Without the answer these bytes are the request's own: not a key to encipher with.
    g_link.key_missing = !sent || !answered;
  }
  return true;
}

bool open_device() {
  g_link.hid_link = false;
  g_link.date_number = 0;
  g_link.drive_refused = false;
  g_link.name_missing = false;
  std::memset(g_link.device_name, 0, sizeof g_link.device_name);
  if (probe_hid()) {
    g_link.hid_link = true;
    // A device that answers neither query is still taken, as the protocol has it; what did
    // not come is remembered, so it is shown and a key of zeros never enciphers a write.
    uint8_t answer[kHidReportSize] = {};
    g_link.name_missing = hid_query(kHidQueryName, answer) <= 0;
    answer[kHidReportSize - 1] = 0;
    copy_text(g_link.device_name, kDeviceNameMax, answer, sizeof answer);
    const int32_t key_bytes = hid_query(kHidQueryKey, answer);
    std::memcpy(g_link.key_data, answer, sizeof g_link.key_data);
    g_link.key_missing = key_bytes < static_cast<int32_t>(sizeof g_link.key_data);
    locate_drive_for_hid_link();
    return true;
  }
  if (probe_drive()) {
    g_link.hid_link = false;
    return true;
  }
  return false;
}

void close_device() {
  if (g_link.hid_link) hid_close_device(kHidDeviceIndex);
}
