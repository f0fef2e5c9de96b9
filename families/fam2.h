// Command family 2: a cartridge with a 16-bit address bus and 8-bit data. Byte and block reads
// (by command, or through the "DUMP.ROM" window at the bus address), byte and block writes,
// write lists, and a block write whose first 8 data bytes per packet are enciphered.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamily2 = 2;
// The system command sent before the family's start carries the family's number.
inline constexpr uint8_t kFam2SystemSub = 2;

// Sub-commands (packet byte 2).
inline constexpr uint8_t kFam2SubStart = 1;
inline constexpr uint8_t kFam2SubBlockRead = 10;
inline constexpr uint8_t kFam2SubByteRead = 11;
inline constexpr uint8_t kFam2SubBlockWrite = 12;
inline constexpr uint8_t kFam2SubByteWrite = 13;
inline constexpr uint8_t kFam2SubBlockWriteEnciphered = 15;
inline constexpr uint8_t kFam2SubWriteList = 19;

inline constexpr uint32_t kFam2ReadMax = 8192;
inline constexpr uint32_t kFam2WriteChunk = 480;
// Four-byte entries from byte 4 end at byte 507.
inline constexpr uint8_t kFam2ListMax = 126;

// The system packet (240, 2), then the family's start: two command files.
void fam2_start();
uint8_t fam2_read_byte(uint16_t address);
// No command: "DUMP.ROM" at byte offset = address.
void fam2_read_window(uint16_t address, uint8_t* destination, uint32_t length);
// One command of at most kFam2ReadMax bytes (a longer length is cut); returns what the reply
// read delivered.
uint32_t fam2_read_block(uint16_t address, uint8_t* destination, uint32_t length);
void fam2_write_byte(uint16_t address, uint8_t value);
void fam2_write_block(uint16_t address, const uint8_t* source, uint32_t length);
// The caller keys the cipher first. The source is never modified and nothing past its end is
// read. Returns what send_command returns.
uint32_t fam2_write_block_enciphered(uint16_t address, const uint8_t* source, uint32_t length);
// At most kFam2ListMax entries travel; the rest are not sent.
void fam2_write_list(uint8_t count, const uint16_t* addresses, const uint8_t* values);
