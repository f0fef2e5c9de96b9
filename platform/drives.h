// Drive roots of the operating system.
#pragma once
#include <cstdint>

// Longest root path, terminator included.
inline constexpr uint32_t kRootPathSize = 260;

// Writes the drive roots into `buffer` as consecutive zero-terminated texts followed by an
// empty text, in a stable order ("C:\", "E:\" on Windows; mount points with a trailing '/'
// on Linux). Roots that do not fit are left out. Returns the bytes used without the final
// terminator (0 when there are none or the list cannot be had).
uint32_t plat_list_drive_roots(char* buffer, uint32_t capacity);

// True when the drive at `root` is removable media.
bool plat_drive_is_removable(const char* root);
