// The SFC cartridge header and memory maps: where a retail board puts its ROM and battery RAM
// on the 24-bit bus (bank in bits 16-23), how the internal header at $FFC0 of its bank reads,
// and the internal checksum. Pure functions over bytes; nothing here talks to the device.
#pragma once
#include <cstdint>

enum class SfcMap : uint8_t { lorom, hirom, exhirom };
inline constexpr uint32_t kSfcMapCount = 3;

// The header block: bus $xx:FFC0-$xx:FFFF of the header's bank (title, map mode, sizes,
// checksum pair, vectors).
inline constexpr uint32_t kSfcHeaderBlock = 64;

struct SfcHeader {
  char title[22];         // 21 bytes, made printable (other bytes '?'), trailing spaces and
                          // zero bytes cut
  uint8_t map_mode;       // $FFD5
  uint8_t cartridge_type; // $FFD6 (chips, battery)
  uint8_t rom_size_code;  // $FFD7: 1 KiB << code
  uint8_t ram_size_code;  // $FFD8: 0 none, else 1 KiB << code
  uint8_t region;         // $FFD9
  uint8_t developer;      // $FFDA
  uint8_t version;        // $FFDB
  uint16_t complement;    // $FFDC-$FFDD, little-endian
  uint16_t checksum;      // $FFDE-$FFDF
  uint16_t reset_vector;  // $FFFC-$FFFD (emulation mode)
};

// Reads a header block (kSfcHeaderBlock bytes from $FFC0).
SfcHeader sfc_parse_header(const uint8_t* block);

// Where each map keeps its header: bus address and ROM file offset of $FFC0.
uint32_t sfc_header_bus_address(SfcMap map);  // 0x00FFC0, 0xC0FFC0, 0x40FFC0
uint32_t sfc_header_rom_offset(SfcMap map);   // 0x7FC0, 0xFFC0, 0x40FFC0

// How well a header read at `place` looks like a real one there: checksum and complement
// summing to 0xFFFF, a map-mode byte that agrees with the place, a plausible size byte and
// reset vector. Higher is better; below kSfcHeaderMinScore it is not a header. A map mode that
// names another place counts against it: a header seen through a board's mirror at a second
// place loses there.
int sfc_score_header(const SfcHeader& header, SfcMap place);
// The same over the raw block, one more for a title of plausible bytes (ASCII or half-width
// katakana, padded with spaces or zero bytes), which the parsed title no longer tells apart.
int sfc_score_block(const uint8_t* block, SfcMap place);
inline constexpr int kSfcHeaderMinScore = 4;

struct SfcDetection {
  bool found = false;     // some place scored kSfcHeaderMinScore or more
  SfcMap map = SfcMap::lorom;
  SfcHeader header{};
  int score = 0;
};
// Picks the best of the three places by sfc_score_block; `blocks[i]` is the block read at place
// SfcMap(i) (nullptr: not read). Ties go to the earlier place.
SfcDetection sfc_detect(const uint8_t* const blocks[kSfcMapCount]);

// ROM and battery RAM sizes the header gives; 0 when the code makes no sense (ROM past what
// the map can address or too small to hold the header's own place: below 32 KiB for LoROM,
// 64 KiB for HiROM, 8 MiB for ExHiROM; RAM past the 256 KiB that HiROM boards' $20-$3F:6000
// window reaches) or, for RAM, when there is none. The size code is the power of two at or
// above the ROM's real size (a 3 MiB ROM says 4 MiB, a 6 MiB ExHiROM ROM 8 MiB).
uint32_t sfc_rom_size(const SfcHeader& header, SfcMap map);
uint32_t sfc_ram_size(const SfcHeader& header);
// Largest ROM each map addresses on the bus (LoROM 4 MiB, HiROM 4 MiB, ExHiROM 8 MiB).
uint32_t sfc_map_rom_limit(SfcMap map);

// The ROM as retail boards map it: the bus address of ROM file offset `offset`, and the
// length of the runs that lie contiguous on the bus. LoROM: 32 KiB halves of banks from
// $00:8000, except that ROM banks $7E-$7F (the console's own RAM there) are read at $FE-$FF,
// which LoROM boards decode alike. HiROM: 64 KiB banks from $C0:0000. ExHiROM: the first
// 4 MiB at $C0-$FF, the rest at $40-$7F (retail boards hold 6 MiB at most, though their size
// code says 8 MiB: offsets from 0x7E0000 land on $7E-$7F, the console's RAM, and hold no
// ROM). A run-aligned offset starts a run. Offsets wrap at sfc_map_rom_limit.
uint32_t sfc_rom_bus_address(SfcMap map, uint32_t offset);
uint32_t sfc_rom_run(SfcMap map);

// Battery RAM: LoROM boards at $70:0000 onwards (32 KiB per bank), HiROM and ExHiROM boards at
// $20-$3F:6000-7FFF (8 KiB per bank). Offsets wrap at 256 KiB.
uint32_t sfc_ram_bus_address(SfcMap map, uint32_t offset);
uint32_t sfc_ram_run(SfcMap map);

// The internal checksum: the 16-bit sum of every ROM byte, where a size that is not a power of
// two counts its part past the largest power of two repeated until it fills that power again
// (3 MiB: the first 2 MiB, then the last 1 MiB twice); a part that is itself not a power of
// two is first mirrored the same way (3.5 MiB: 2 MiB, then 1 MiB and the last 0.5 MiB twice).
uint16_t sfc_checksum(const uint8_t* rom, uint32_t size);

// "lorom", "hirom", "exhirom"; and back (false for any other text).
const char* sfc_map_name(SfcMap map);
bool sfc_map_from_name(const char* text, SfcMap& map);
