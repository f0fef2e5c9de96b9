// The N64 cartridge header and its checksums. The bus is big-endian: a ROM read off the bus is
// already in the .z64 byte order. Pure functions over bytes.
#pragma once
#include <cstdint>

inline constexpr uint32_t kN64HeaderSize = 0x40;
// The header's CRC pair covers the first MiB after the boot code.
inline constexpr uint32_t kN64BootCodeEnd = 0x1000;
inline constexpr uint32_t kN64CrcSpan = 0x100000;
inline constexpr uint32_t kN64CrcEnd = kN64BootCodeEnd + kN64CrcSpan;

struct N64Header {
  uint32_t pi_config;      // 0x00, 0x80371240 on retail cartridges
  uint32_t clock_rate;     // 0x04
  uint32_t boot_address;   // 0x08
  uint32_t release;        // 0x0C
  uint32_t crc1, crc2;     // 0x10, 0x14
  char title[21];          // 0x20, 20 bytes, made printable, trailing spaces cut
  char game_code[5];       // 0x3B-0x3E: category, two-letter id, region
  uint8_t version;         // 0x3F
};

// Reads the first kN64HeaderSize bytes of a .z64 image.
N64Header n64_parse_header(const uint8_t* bytes);
// Whether the first word looks like a retail header in .z64 order (0x80371240).
bool n64_header_plausible(const N64Header& header);

// The byte orders N64 images are found in, told by the first word (0x80371240 as z64).
enum class N64ByteOrder : uint8_t { z64, v64, n64, unknown };
N64ByteOrder n64_byte_order(const uint8_t* first4);
// Puts an image of `size` bytes (a multiple of 4) into .z64 order in place.
void n64_to_z64(uint8_t* image, uint32_t size, N64ByteOrder from);

// Boot chips (CIC) whose seeds and checksum variants the header's CRC pair is made with.
enum class N64BootChip : uint8_t { cic6101, cic6102, cic6103, cic6105, cic6106 };
inline constexpr uint32_t kN64BootChipCount = 5;
const char* n64_boot_chip_name(N64BootChip chip);  // "6101", "6102", ...

// The CRC pair of an image as `chip` computes it; false when the image is shorter than
// kN64CrcEnd bytes.
bool n64_compute_crc(const uint8_t* image, uint32_t size, N64BootChip chip, uint32_t& crc1,
                     uint32_t& crc2);

struct N64CrcCheck {
  bool matched = false;   // some chip's pair equals the header's
  N64BootChip chip{};     // the first that did
};
// Tries every chip against the header's pair; not matched when the image is shorter than
// kN64CrcEnd. 6101 and 6102 make the same pair, so a match of theirs names 6102.
N64CrcCheck n64_check_crc(const uint8_t* image, uint32_t size, const N64Header& header);
