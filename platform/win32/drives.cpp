#include <windows.h>

#include "platform/drives.h"
#include "platform/os.h"

uint32_t os_list_drive_roots(char* buffer, uint32_t capacity) {
  if (!buffer || capacity < 2) return 0;
  // The API writes "C:\" "D:\" ... and a final empty text; it needs room for that terminator.
  DWORD used = GetLogicalDriveStringsA(capacity - 1, buffer);
  if (used == 0 || used >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[used] = '\0';
  return used;
}

bool os_drive_is_removable(const char* root) { return GetDriveTypeA(root) == DRIVE_REMOVABLE; }
