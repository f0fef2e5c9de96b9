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

// An erase is waited for without a time-out, but not past a lost command or status read
// (g_link.io_failed, cleared by whoever starts the job): the erase, or a bank or mode command
// before it, may never have reached the chip, and the wait would never end. The job then
// prints this and stops without programming.
inline constexpr const char* kFlashEraseLost =
    "\nThe erase was not confirmed (a command or a status read was lost); nothing was "
    "programmed.\n";
