// The iNES file format emulators read NES dumps in: a 16-byte header, PRG, then CHR.
#pragma once
#include <cstdint>

inline constexpr uint32_t kInesHeaderSize = 16;
inline constexpr uint32_t kInesPrgUnit = 0x4000;  // 16 KiB
inline constexpr uint32_t kInesChrUnit = 0x2000;  // 8 KiB

enum class NesMirroring : uint8_t { horizontal, vertical };

struct InesHeader {
  uint16_t mapper;           // 0-255 in the classic header
  uint32_t prg_size;         // a multiple of kInesPrgUnit, at most 255 units
  uint32_t chr_size;         // a multiple of kInesChrUnit (0: CHR RAM), at most 255 units
  NesMirroring mirroring;
  bool battery;
};

// Writes the 16 bytes; false (nothing written) when a field does not fit the classic header.
bool ines_build_header(const InesHeader& header, uint8_t out[kInesHeaderSize]);
// Reads one back; false when the magic "NES\x1A" is missing.
bool ines_parse_header(const uint8_t* bytes, uint32_t size, InesHeader& out);
