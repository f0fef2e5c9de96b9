// The seam at which a virtual device can stand in for the operating system's files, drives and
// HID devices. Production code never installs anything here; the tests and nothing else do.
#pragma once
#include <cstdint>

struct PlatformOps {
  uint32_t (*write_file)(const char* name, const uint8_t* data, uint32_t count);
  uint32_t (*read_at)(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                      bool unbuffered);
  uint32_t (*write_at)(const char* name, const uint8_t* data, uint32_t count, int32_t offset);
  uint32_t (*file_size)(const char* name);
  bool (*replace_file)(const char* from, const char* to);
  bool (*remove_file)(const char* name);
  bool (*resize_file)(const char* name, uint32_t size);
  bool (*sync_file)(const char* name);
  bool (*file_exists)(const char* name);
  uint32_t (*list_drive_roots)(char* buffer, uint32_t capacity);
  bool (*drive_is_removable)(const char* root);
};

// The operating system's own implementation.
const PlatformOps& plat_os_ops();

// What every file and drive call goes through now (the operating system's when none is
// installed); a test wrapper calls on it.
const PlatformOps& plat_current_ops();

// Routes every file and drive call through `ops`; nullptr restores the operating system.
void plat_install_ops(const PlatformOps* ops);
// What plat_install_ops installed (nullptr: the operating system), so a test can wrap it.
const PlatformOps* plat_installed_ops();

// An opened HID device as its back end knows it; nullptr stands for a closed one.
using HidHandle = void*;

// How one HID transfer ended.
enum class HidIo : uint8_t { done, timed_out, failed };

// The HID calls below the open-device list (platform/hid.h keeps the list and the bounds).
struct HidOps {
  // Opens, in enumeration order, up to `max_count` devices that pass the filters (0 or less:
  // any) and hands each handle to `add`. Returns how many were added.
  uint32_t (*open_devices)(uint32_t max_count, int32_t vendor_id, int32_t product_id,
                           int32_t usage_page, int32_t usage, void (*add)(HidHandle));
  // One transfer of `length` bytes, report-ID byte first. done: `*count` holds the bytes
  // transferred. timed_out: the transfer was cancelled and has ended before the call returns,
  // so the buffer is free again. failed: the error is kept for `last_error`.
  HidIo (*read)(HidHandle device, uint8_t* transfer, uint32_t length, uint32_t timeout_ms,
                uint32_t* count);
  HidIo (*write)(HidHandle device, const uint8_t* transfer, uint32_t length,
                 uint32_t timeout_ms, uint32_t* count);
  void (*close)(HidHandle device);
  // Code and text of the last failed call; the text is zero-terminated within `capacity`.
  long (*last_error)(char* text, uint32_t capacity);
};

const HidOps& plat_os_hid_ops();

// Routes every HID call through `ops`; nullptr restores the operating system.
void plat_install_hid_ops(const HidOps* ops);
