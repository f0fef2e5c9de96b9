// CHR flash jobs: erase a cartridge's CHR flash chip through the PPU bus and program an image
// into it bank by bank through the board's CHR bank registers, reading every bank back. A job
// stops at the first bank that reads back wrong.
//
// Each returns true when every bank it programmed read back as written.
#pragma once
#include <cstdint>

// Programs the first 256 KiB of `data` (32 banks of 8 KiB); the caller makes sure there are.
bool chr_flash_8001_boot_sectors(const uint8_t* data);
bool chr_flash_9000_1k(const uint8_t* data, uint32_t length);
bool chr_flash_4100_2k1k(const uint8_t* data, uint32_t length);
bool chr_flash_4k_upper(const uint8_t* data, uint32_t length);
bool chr_flash_4k_inverted(const uint8_t* data, uint32_t length);
bool chr_flash_5120_1k(const uint8_t* data, uint32_t length);

inline constexpr uint32_t kChrBootImageSize = 0x40000;
