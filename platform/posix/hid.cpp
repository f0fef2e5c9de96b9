// HID devices on Linux through hidapi's hidraw back end. hidapi hands over report data without
// the report-ID byte for devices without numbered reports; this back end puts the byte back in
// front so that a transfer looks the same on every operating system.
#include <hidapi.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/os.h"

namespace {

long g_error_code = 0;
char g_error_text[256] = "";

bool g_started = false;

bool start() {
  if (!g_started) g_started = hid_init() == 0;
  return g_started;
}

// Keeps the failed call's errno and hidapi's text for it (wide text folded to ASCII).
void keep_error(hid_device* device, int error_number) {
  g_error_code = error_number;
  const wchar_t* text = hid_error(device);
  size_t i = 0;
  for (; text && text[i] != L'\0' && i + 1 < sizeof g_error_text; ++i) {
    const wchar_t c = text[i];
    g_error_text[i] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  g_error_text[i] = '\0';
}

void keep_bad_handle() {
  g_error_code = EBADF;
  std::snprintf(g_error_text, sizeof g_error_text, "%s", std::strerror(EBADF));
}

bool passes(int32_t filter, unsigned short value) {
  return filter <= 0 || static_cast<uint32_t>(filter) == value;
}

unsigned short id_filter(int32_t filter) {
  return filter > 0 && filter <= 0xFFFF ? static_cast<unsigned short>(filter) : 0;
}

int timeout(uint32_t milliseconds) {
  return milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
}

}  // namespace

uint32_t os_hid_open_devices(uint32_t max_count, int32_t vendor_id, int32_t product_id,
                             int32_t usage_page, int32_t usage, void (*add)(HidHandle)) {
  if (max_count == 0 || !start()) return 0;
  // A filter beyond 16 bits matches no device; hidapi would take 0 as "any".
  if (vendor_id > 0xFFFF || product_id > 0xFFFF) return 0;
  hid_device_info* list = hid_enumerate(id_filter(vendor_id), id_filter(product_id));
  uint32_t count = 0;
  for (hid_device_info* info = list; info && count < max_count; info = info->next) {
    if (!passes(vendor_id, info->vendor_id) || !passes(product_id, info->product_id) ||
        !passes(usage_page, info->usage_page) || !passes(usage, info->usage)) {
      continue;
    }
    // Without access to the node (no udev rule) the open fails and the device is skipped.
    hid_device* device = hid_open_path(info->path);
    if (!device) continue;
    add(device);
    ++count;
  }
  hid_free_enumeration(list);
  return count;
}

HidIo os_hid_read(HidHandle handle, uint8_t* transfer, uint32_t length, uint32_t timeout_ms,
                  uint32_t* count) {
  *count = 0;
  auto* device = static_cast<hid_device*>(handle);
  if (!device) {
    keep_bad_handle();
    return HidIo::failed;
  }
  if (length < 1) return HidIo::timed_out;
  errno = 0;
  const int got = hid_read_timeout(device, transfer + 1, length - 1, timeout(timeout_ms));
  if (got < 0) {
    keep_error(device, errno);
    return HidIo::failed;
  }
  if (got == 0) return HidIo::timed_out;
  transfer[0] = 0;
  *count = static_cast<uint32_t>(got) + 1;
  return HidIo::done;
}

HidIo os_hid_write(HidHandle handle, const uint8_t* transfer, uint32_t length,
                   uint32_t /*timeout_ms: hidraw writes complete or fail on their own*/,
                   uint32_t* count) {
  *count = 0;
  auto* device = static_cast<hid_device*>(handle);
  if (!device) {
    keep_bad_handle();
    return HidIo::failed;
  }
  errno = 0;
  const int sent = hid_write(device, transfer, length);
  if (sent < 0) {
    keep_error(device, errno);
    return HidIo::failed;
  }
  *count = static_cast<uint32_t>(sent);
  return HidIo::done;
}

void os_hid_close(HidHandle handle) {
  if (handle) hid_close(static_cast<hid_device*>(handle));
}

long os_hid_last_error(char* text, uint32_t capacity) {
  if (text && capacity > 0) std::snprintf(text, capacity, "%s", g_error_text);
  return g_error_code;
}
