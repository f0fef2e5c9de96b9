// Command family 7: a read-only cartridge bus with 24-bit addresses, read by command and
// reply.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamily7 = 7;

inline constexpr uint8_t kFam7SubStart = 1;
inline constexpr uint8_t kFam7SubRead = 2;

inline constexpr uint32_t kFam7ReadChunk = 8192;

void fam7_start();
uint8_t fam7_read_byte(uint32_t address);
// Reads in 8 KiB commands.
void fam7_read_block(uint32_t address, uint8_t* destination, uint32_t length);
