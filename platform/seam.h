// The seam at which a virtual device can stand in for the operating system's files and drives.
// Production code never installs anything here; the tests and nothing else do.
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
