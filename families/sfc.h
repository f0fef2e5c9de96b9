// Command family 15: the SFC slot. Byte and block access to the cartridge's 24-bit bus (bank in
// bits 16-23, offset in bits 0-15), whole-kilobyte reads straight from "DUMP.ROM", three
// batched block-write forms, a per-packet long write, and the flash erase sequences. The
// family keeps its own firmware number, set by sfc_identify, apart from the NES level.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamilySfc = 15;

// Sub-commands (packet byte 2).
inline constexpr uint8_t kSfcSubIdentity = 1;
inline constexpr uint8_t kSfcSubRead = 2;
inline constexpr uint8_t kSfcSubWriteByte = 3;
inline constexpr uint8_t kSfcSubHalfSelect = 4;
inline constexpr uint8_t kSfcSubWriteAddr32 = 5;
inline constexpr uint8_t kSfcSubWrite480 = 6;
inline constexpr uint8_t kSfcSubWrite496 = 7;
inline constexpr uint8_t kSfcSubLongRead = 9;
inline constexpr uint8_t kSfcSubLongWrite = 10;

// From this firmware on "DUMP.ROM" shows the whole 16 MiB bus; below it one 8 MiB half that
// sub-command 4 chooses.
inline constexpr uint32_t kSfcWholeWindowLevel = 320;
inline constexpr uint32_t kSfcWindowHalf = 0x800000;
// Bytes per reply-file read packet.
inline constexpr uint16_t kSfcReadChunk = 2048;
// Data bytes per packet of the block writes.
inline constexpr uint32_t kSfcChunkAddr32 = 480;
inline constexpr uint32_t kSfcChunk480 = 480;
inline constexpr uint32_t kSfcChunk496 = 496;
inline constexpr uint32_t kSfcChunkLong = 498;

// Firmware number of the SFC identity; 0 until sfc_identify recognises one.
extern uint32_t sfc_protocol_level;

// Back to the state at program start.
void sfc_reset_state();

// Sends the identity command and sets sfc_protocol_level from the identity text.
void sfc_identify();

uint8_t sfc_read_byte(uint32_t address);
// The same read, kept beside the erase sequences for polling the flash status.
uint8_t sfc_read_status(uint32_t address);
void sfc_write_byte(uint32_t address, uint8_t value);
// Whole-kilobyte address and length: from "DUMP.ROM"; otherwise reply-file chunks of 2048.
void sfc_read_block(uint32_t address, uint8_t* destination, uint32_t length);

// sfc_read_block's window read in its two steps, for a caller that reads many spans of one
// half in a row: the half select (sub-command 4 for the half of `address`; nothing from level
// 320 on), and the read of "DUMP.ROM" alone, at the offset the level gives (the address within
// its half below 320, the address itself from 320). The read sends nothing; a span must lie in
// one half.
void sfc_select_half(uint32_t address);
void sfc_read_window(uint32_t address, uint8_t* destination, uint32_t length);
uint8_t sfc_long_read_byte(uint32_t address);
void sfc_long_read_block(uint32_t address, uint8_t* destination, uint32_t length);
void sfc_long_write_byte(uint32_t address, uint8_t value);
// One command file per packet of up to 498 bytes.
void sfc_long_write_block(uint32_t address, const uint8_t* source, uint32_t length);

// All packets of one call in one command file. Nothing is sent when the command would not fit
// in memory or in one command file.
void sfc_write_block_addr32(uint32_t address, const uint8_t* source, uint32_t length);
void sfc_write_block_480(uint32_t address, const uint8_t* source, uint32_t length);
void sfc_write_block_496(uint32_t address, const uint8_t* source, uint32_t length);

// Reset, unlock and erase cycles for a byte-mode flash chip, one command file each. They do not
// wait for the erase to end.
void sfc_chip_erase();
void sfc_sector_erase(uint32_t sector_address);
