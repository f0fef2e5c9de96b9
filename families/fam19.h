// Command family 19: a cartridge with a 16-bit data bus. Reads take byte addresses, writes
// take word addresses (byte address / 2). A word travels high byte first in the word read and
// word write, low byte first in the one further word write. Two block writes carry their first
// 8 data bytes enciphered with the payload cipher.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamily19 = 19;

// Sub-commands (packet byte 2).
inline constexpr uint8_t kFam19SubStart = 1;
inline constexpr uint8_t kFam19SubRead = 3;
inline constexpr uint8_t kFam19SubWrite = 5;
inline constexpr uint8_t kFam19SubWordWriteLe = 6;
inline constexpr uint8_t kFam19SubWriteEnciphered = 7;
inline constexpr uint8_t kFam19SubWriteSkipBlank = 8;

inline constexpr uint32_t kFam19ReadChunk = 2048;
// Data bytes per write packet (bytes 9..508), and per packet of the blank-skipping write.
inline constexpr uint32_t kFam19WriteChunk = 500;
inline constexpr uint32_t kFam19SkipBlankChunk = 480;
// Reads at whole kilobytes go straight to the "DUMP.ROM" window.
inline constexpr uint32_t kFam19WindowUnit = 1024;

void fam19_start();
// High byte first: reply byte 0 is bits 8-15.
uint16_t fam19_read_word(uint32_t byte_address);
void fam19_read_block(uint32_t byte_address, uint8_t* destination, uint32_t length);
void fam19_write_word(uint32_t word_address, uint16_t value);
// The address goes out as the caller gives it.
void fam19_write_word_le(uint32_t address, uint16_t value);
// One packet per word, all in one command file.
void fam19_write_word_list(const uint32_t* word_addresses, const uint16_t* values, uint32_t count);
void fam19_write_block(uint32_t word_address, const uint8_t* source, uint32_t length);
// Keys the payload cipher from the device's key data (replacing any earlier key).
void fam19_prepare_cipher();
// The caller keys the cipher first. Sources are never modified.
void fam19_write_block_enciphered(uint32_t byte_address, const uint8_t* source, uint32_t length);
// Runs whose source bytes are all 0xFF (erased) are left out; the address still advances.
void fam19_write_block_skip_blank(uint32_t byte_address, const uint8_t* source, uint32_t length);
