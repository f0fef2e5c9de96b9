// Declarations that each operating system's implementation (posix/, win32/) provides.
// Only platform/seam.cpp and the platform's own tests call these directly.
#pragma once
#include <cstdint>

#include "platform/seam.h"

uint32_t os_write_file(const char* name, const uint8_t* data, uint32_t count);
uint32_t os_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                    bool unbuffered);
uint32_t os_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset);
uint32_t os_file_size(const char* name);
bool os_replace_file(const char* from, const char* to);
bool os_remove_file(const char* name);
bool os_resize_file(const char* name, uint32_t size);
bool os_sync_file(const char* name);
bool os_file_exists(const char* name);
uint32_t os_list_drive_roots(char* buffer, uint32_t capacity);
bool os_drive_is_removable(const char* root);
void os_sleep_ms(uint32_t milliseconds);

// HID back end (posix/hid.cpp: hidapi; win32/hid.cpp: SetupAPI and HID).
uint32_t os_hid_open_devices(uint32_t max_count, int32_t vendor_id, int32_t product_id,
                             int32_t usage_page, int32_t usage, void (*add)(HidHandle));
HidIo os_hid_read(HidHandle device, uint8_t* transfer, uint32_t length, uint32_t timeout_ms,
                  uint32_t* count);
HidIo os_hid_write(HidHandle device, const uint8_t* transfer, uint32_t length,
                   uint32_t timeout_ms, uint32_t* count);
void os_hid_close(HidHandle device);
long os_hid_last_error(char* text, uint32_t capacity);
