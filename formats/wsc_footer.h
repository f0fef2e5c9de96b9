// The WonderSwan cartridge footer: the last 16 bytes of the ROM (which the cartridge maps at the
// top of the address space), with the ROM size, save type, colour flag and checksum.
#pragma once
#include <cstdint>

inline constexpr uint32_t kWscFooterSize = 16;

struct WscFooter {
  uint8_t publisher;      // byte 6
  uint8_t color;          // byte 7: bit 0 set on WonderSwan Color games
  uint8_t game_id;        // byte 8
  uint8_t version;        // byte 9
  uint8_t rom_size_code;  // byte 10
  uint8_t save_type;      // byte 11
  uint8_t flags;          // byte 12
  uint8_t rtc;            // byte 13
  uint16_t checksum;      // bytes 14-15, little-endian
};

WscFooter wsc_parse_footer(const uint8_t* last16);

// ROM size by code; 0 for a code with no known size.
uint32_t wsc_rom_size(uint8_t rom_size_code);

enum class WscSaveKind : uint8_t { none, sram, eeprom };
struct WscSave {
  WscSaveKind kind = WscSaveKind::none;
  uint32_t size = 0;  // bytes
};
// The save the type byte names; kind none (size 0) for 0 and for unknown codes.
WscSave wsc_save(uint8_t save_type);

// The 16-bit sum of every byte of the ROM but its last two (the checksum's own).
uint16_t wsc_checksum(const uint8_t* rom, uint32_t size);

// ".wsc" for a colour game, ".ws" otherwise.
const char* wsc_extension(const WscFooter& footer);
