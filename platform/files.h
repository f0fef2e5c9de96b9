// File services of the operating system, as the device link and the jobs need them.
// Every call opens, transfers and closes within itself; nothing stays open.
#pragma once
#include <cstdint>

// Sector size of reply reads: unbuffered reads take whole sectors only.
inline constexpr uint32_t kSectorSize = 512;

// Creates or truncates `name` and writes `count` bytes. The data is on the medium
// (flushed and synced) before the call returns. Returns bytes written, 0 on failure.
uint32_t plat_write_file(const char* name, const uint8_t* data, uint32_t count);

// Reads up to `count` bytes at `offset` into `buffer`; returns bytes read, 0 when the
// file cannot be opened. With `unbuffered` the data never comes from a cache, and an
// offset or count that is not a whole number of sectors delivers nothing (returns 0); a
// buffer that is not page-aligned is read through aligned room, since the system takes an
// unbuffered read only into a sector-aligned buffer.
uint32_t plat_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                      bool unbuffered);

// Writes `count` bytes at `offset` of an existing file; returns bytes written, 0 on failure.
uint32_t plat_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset);

// Low 32 bits of the file's size; 0 when it cannot be opened.
uint32_t plat_file_size(const char* name);

// Renames `from` over `to`, replacing an existing `to` in one step. False on failure.
bool plat_replace_file(const char* from, const char* to);

// Removes a file; false when it could not be removed.
bool plat_remove_file(const char* name);

// Creates `name` when it is missing and gives it exactly `size` bytes (cut, or extended with
// zeros); nothing is synced. False on failure.
bool plat_resize_file(const char* name, uint32_t size);

// Puts what was written to `name` on the medium (an output's bytes before its rename). False
// when the file cannot be opened or the sync fails.
bool plat_sync_file(const char* name);

// Whether something (a file or a folder) exists under `name`.
bool plat_file_exists(const char* name);
