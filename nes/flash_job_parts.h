// Pieces that the PRG and CHR flash job tables are made of.
#pragma once
#include <cstdint>

// A mapper register write on the CPU bus; only the low 8 bits of a bank number reach it.
struct RegWrite {
  uint16_t address;
  uint8_t value;
};

// What an erase poll prints while the chip still reads busy.
enum class PollProgress : uint8_t { dot, first_two_bytes };

void flash_register_write(uint16_t address, uint32_t value);
// The first 16 bytes of `bytes` as "%.2X " each, then a line feed.
void flash_print_first_bytes(const uint8_t* bytes);
// The progress output of one unfinished poll, then the pause (none for 0 ms).
void flash_poll_wait(PollProgress progress, const uint8_t* polled, uint32_t pause_ms);
