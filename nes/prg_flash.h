// PRG flash jobs: erase a cartridge's PRG flash chip and program an image into it bank by bank
// through the board's bank registers, reading every bank back. The members differ only in
// their board's registers, erase plan, bank size and messages.
//
// Each returns true when every bank read back as written. They program through
// prg_program_routine (flash_id.h): when identify_flash has not chosen one, a job says so and
// erases nothing.
#pragma once
#include <cstdint>

// Programs the first 64 KiB of `data` (two 32 KiB banks); the caller makes sure there are.
bool prg_flash_7000_pair(const uint8_t* data);
// Needs `length` of at least 0x4000: its last 16 KiB are programmed again at the end of the
// first MiB. A shorter image is refused before anything is erased.
bool prg_flash_5116_window(const uint8_t* data, uint32_t length);
bool prg_flash_8000_bank(const uint8_t* data, uint32_t length);
bool prg_flash_8001_one_sector(const uint8_t* data, uint32_t length);
bool prg_flash_8001_two_sectors(const uint8_t* data, uint32_t length);
bool prg_flash_8001_two_sectors_5000(const uint8_t* data, uint32_t length);
bool prg_flash_8001_chip_5000(const uint8_t* data, uint32_t length);

// Smallest image prg_flash_5116_window takes, and what the two fixed-size jobs program.
inline constexpr uint32_t kPrgLastBlockSize = 0x4000;
inline constexpr uint32_t kPrgPairImageSize = 0x10000;
