// Command family 3: a read-only cartridge address space with 32-bit addresses, one reply of
// up to 8 KiB per command.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamily3 = 3;
// The system command sent before the family's start carries the family's number.
inline constexpr uint8_t kFam3SystemSub = 3;

inline constexpr uint8_t kFam3SubStart = 1;
inline constexpr uint8_t kFam3SubBlockRead = 18;

inline constexpr uint32_t kFam3ReadMax = 8192;

// The system packet (240, 3), then the family's start: two command files.
void fam3_start();
// One command of at most kFam3ReadMax bytes (a longer length is cut); returns what the reply
// read delivered.
uint32_t fam3_read_block(uint32_t address, uint8_t* destination, uint32_t length);
