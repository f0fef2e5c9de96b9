// The iNES file format emulators read NES dumps in: a 16-byte header, PRG, then CHR.
#pragma once
#include <cstdint>

inline constexpr uint32_t kInesHeaderSize = 16;
inline constexpr uint32_t kInesPrgUnit = 0x4000;  // 16 KiB
inline constexpr uint32_t kInesChrUnit = 0x2000;  // 8 KiB

enum class NesMirroring : uint8_t { horizontal, vertical };

struct InesHeader {
  uint16_t mapper;           // 0-255 in the classic header, 0-4095 in NES 2.0
  uint32_t prg_size;         // a multiple of kInesPrgUnit, 1-255 units in the classic header
  uint32_t chr_size;         // a multiple of kInesChrUnit (0: CHR RAM), at most 255 units
  NesMirroring mirroring;
  bool battery;
};

// Writes the 16 bytes; false (nothing written) when a field does not fit the classic header.
bool ines_build_header(const InesHeader& header, uint8_t out[kInesHeaderSize]);
// Reads one back; false when fewer than 16 bytes are given, the magic "NES\x1A" is missing, or
// a NES 2.0 size does not fit 32 bits. A NES 2.0 header (byte 7 bits 2-3 = 2) gives 12 bits
// of mapper and of size units; a classic one whose bytes 12-15 are not clear (text left by
// old tools) gives only byte 6's mapper nibble. Sizes are as the header says (PRG may be 0).
bool ines_parse_header(const uint8_t* bytes, uint32_t size, InesHeader& out);
// Where PRG starts in the file: after the header and, when byte 6 says so, a 512-byte trainer.
uint32_t ines_prg_offset(const uint8_t* header);
