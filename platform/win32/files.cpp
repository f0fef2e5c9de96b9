// Files on Windows, with the flags the device link depends on: command files and saved files are
// created anew and flushed before the handle closes; reply reads use FILE_FLAG_NO_BUFFERING
// through a sector-aligned bounce buffer so they never come from the cache.
#include <windows.h>

#include <cstring>

#include "platform/files.h"
#include "platform/os.h"

namespace {

// Alignment that FILE_FLAG_NO_BUFFERING accepts for buffers on every volume.
constexpr SIZE_T kDirectAlign = 4096;

bool seek(HANDLE file, int32_t offset) {
  return SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR;
}

uint32_t read_handle(HANDLE file, uint8_t* buffer, uint32_t count, int32_t offset) {
  DWORD got = 0;
  if (!seek(file, offset) || !ReadFile(file, buffer, count, &got, nullptr)) return 0;
  return got;
}

}  // namespace

uint32_t os_write_file(const char* name, const uint8_t* data, uint32_t count) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  bool ok = count == 0 || WriteFile(file, data, count, &written, nullptr);
  ok = ok && FlushFileBuffers(file);
  if (!CloseHandle(file)) ok = false;
  return ok ? written : 0;
}

uint32_t os_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                    bool unbuffered) {
  if (!buffer || offset < 0) return 0;
  DWORD flags = unbuffered ? FILE_FLAG_NO_BUFFERING : FILE_ATTRIBUTE_NORMAL;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  uint32_t got = 0;
  if (!unbuffered) {
    got = read_handle(file, buffer, count, offset);
  } else {
    SIZE_T rounded = (static_cast<SIZE_T>(count) + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
    void* bounce = VirtualAlloc(nullptr, rounded ? rounded : kDirectAlign,
                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (bounce) {
      got = read_handle(file, static_cast<uint8_t*>(bounce), count, offset);
      if (got > count) got = count;
      std::memcpy(buffer, bounce, got);
      VirtualFree(bounce, 0, MEM_RELEASE);
    }
  }
  CloseHandle(file);
  return got;
}

uint32_t os_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  if (offset < 0) return 0;
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  if (!seek(file, offset) || !WriteFile(file, data, count, &written, nullptr)) written = 0;
  CloseHandle(file);
  return written;
}

uint32_t os_file_size(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD size = GetFileSize(file, nullptr);
  CloseHandle(file);
  return size == INVALID_FILE_SIZE ? 0 : size;
}

bool os_replace_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool os_remove_file(const char* name) { return DeleteFileA(name) != 0; }

bool os_resize_file(const char* name, uint32_t size) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = size;
  bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  if (!CloseHandle(file)) ok = false;
  return ok;
}

bool os_sync_file(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = FlushFileBuffers(file) != 0;
  if (!CloseHandle(file)) ok = false;
  return ok;
}

bool os_file_exists(const char* name) {
  return name && GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}
