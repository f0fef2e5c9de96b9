// Command family 17: a cartridge with a 24-bit address bus and 8-bit data. Writes are
// commands; reads come from the "DUMP.ROM" window at byte offset = cartridge address.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamily17 = 17;

inline constexpr uint8_t kFam17SubStart = 1;
inline constexpr uint8_t kFam17SubByteWrite = 2;

// The cartridge's address space as the window shows it.
inline constexpr uint32_t kFam17AddressMask = 0xFFFFFF;

void fam17_start();
void fam17_write_byte(uint32_t address, uint8_t value);
// One packet per byte at address, address + 1, ..., all in one command file.
void fam17_write_bytes(uint32_t address, const uint8_t* source, uint32_t count);
// Reads the whole aligned kilobyte that holds the address.
uint8_t fam17_read_byte(uint32_t address);
// "DUMP.ROM" at byte offset = address as given (no mask): an address past what the window
// holds reads nothing, which the link's failure flag reports.
void fam17_read_block(uint32_t address, uint8_t* destination, uint32_t length);
// The two fixed write sequences, one command file per step.
void fam17_write_sequence_a();
void fam17_write_sequence_b();
