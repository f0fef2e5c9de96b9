// Drive transport: the command packet frame, command files and reply files on the device drive.
#pragma once
#include <cstdint>

inline constexpr uint32_t kPacketSize = 512;
inline constexpr uint8_t kPacketMarker = 'Z';
// Short answers are always fetched as one block of this size.
inline constexpr uint32_t kReplyBlock = 1024;
// Byte offset of the status sector in "T-DRIVER.DMP".
inline constexpr int32_t kStatusSectorOffset = 8192;
inline constexpr uint32_t kStatusSectorSize = 1024;

// Command families (packet byte 1).
inline constexpr uint8_t kFamilyNes = 14;
inline constexpr uint8_t kFamilySystem = 240;

// CRC-16/XMODEM of the first `length` - 2 bytes of `sector` (called with 512).
uint16_t packet_crc16(const uint8_t* sector, uint32_t length);

// Frames each 512-byte packet of `buffer` in place (marker, CRC) and writes the whole buffer
// as the next command file. `length` must be a whole number of packets (0 included); any other
// length writes nothing and returns 0, as does every call while the drive is refused
// (g_link.drive_refused). Returns the bytes written, 0 when the file could not be
// created. The command counter advances whenever a file name is formed. A command not written
// whole sets g_link.io_failed, as does a reply or window read below that delivers less than
// asked.
uint32_t send_command(uint8_t* buffer, uint32_t length);

// Reads `count` bytes of "T-DRIVER.DMP" at `offset`, never from a cache. Counts below 1024 at a
// whole-sector offset are fetched as one 1024-byte block and cut (returns `count` when the block
// read delivered anything, else 0). Any other span that is not whole sectors is read as the
// whole sectors that cover it and cut to the bytes asked for; returns the bytes delivered
// (fewer when the file ends first, 0 when it cannot be read).
uint32_t read_reply(int32_t offset, uint8_t* buffer, uint32_t count);

// The same on "DUMP.ROM", the window onto cartridge memory.
uint32_t read_dump(int32_t offset, uint8_t* buffer, uint32_t count);
// read_dump at a cartridge address, which may lie past the largest file offset (2^31 - 1):
// such an address reads nothing and counts as a read that did not deliver (g_link.io_failed),
// so the caller's buffer is never taken for cartridge bytes. A count of 0 reads nothing.
uint32_t read_dump_at(uint32_t address, uint8_t* buffer, uint32_t count);

// File routines on a plain file name.
// Saves a user's output file: written under a temporary name in the same folder and renamed
// over `name` only when complete, so a failed save never destroys an older file.
uint32_t save_file(const char* name, const uint8_t* data, uint32_t count);
uint32_t read_file_unbuffered(const char* name, uint8_t* buffer, uint32_t count, int32_t offset);
uint32_t read_file_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset);
uint32_t write_file_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset);
uint32_t file_size(const char* name);
