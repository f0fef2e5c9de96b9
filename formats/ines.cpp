// The iNES header: classic fields, with NES 2.0's wider mapper and size fields when it says so.
#include "formats/ines.h"

#include <cstring>

namespace {

constexpr uint8_t kMagic[4] = {'N', 'E', 'S', 0x1A};
constexpr uint32_t kUnitsMax = 255;
constexpr uint32_t kTrainerSize = 512;

// NES 2.0 sizes: 12 bits of units, or with the top nibble 0xF an exponent-multiplier form
// (2^E * (2M + 1) bytes). False when the size does not fit 32 bits.
bool nes2_size(uint8_t low, uint8_t high_nibble, uint32_t unit, uint32_t& size) {
  if (high_nibble != 0x0F) {
    size = ((static_cast<uint32_t>(high_nibble) << 8) | low) * unit;
    return true;
  }
  const uint32_t exponent = low >> 2;
  if (exponent >= 32) return false;
  const uint64_t bytes = (uint64_t{1} << exponent) * ((low & 3U) * 2 + 1);
  if (bytes > UINT32_MAX) return false;
  size = static_cast<uint32_t>(bytes);
  return true;
}

}  // namespace

bool ines_build_header(const InesHeader& header, uint8_t out[kInesHeaderSize]) {
  if (header.mapper > 0xFF) return false;
  if (header.prg_size == 0 || header.prg_size % kInesPrgUnit != 0 ||
      header.prg_size / kInesPrgUnit > kUnitsMax) {
    return false;
  }
  if (header.chr_size % kInesChrUnit != 0 || header.chr_size / kInesChrUnit > kUnitsMax) {
    return false;
  }
  std::memset(out, 0, kInesHeaderSize);
  std::memcpy(out, kMagic, sizeof kMagic);
  out[4] = static_cast<uint8_t>(header.prg_size / kInesPrgUnit);
  out[5] = static_cast<uint8_t>(header.chr_size / kInesChrUnit);
  out[6] = static_cast<uint8_t>(((header.mapper & 0x0F) << 4) | (header.battery ? 0x02 : 0) |
                                (header.mirroring == NesMirroring::vertical ? 0x01 : 0));
  out[7] = static_cast<uint8_t>(header.mapper & 0xF0);
  return true;
}

bool ines_parse_header(const uint8_t* bytes, uint32_t size, InesHeader& out) {
  if (bytes == nullptr || size < kInesHeaderSize || std::memcmp(bytes, kMagic, 4) != 0) {
    return false;
  }
  InesHeader h{};
  h.mirroring = (bytes[6] & 0x01) != 0 ? NesMirroring::vertical : NesMirroring::horizontal;
  h.battery = (bytes[6] & 0x02) != 0;
  h.mapper = static_cast<uint16_t>(bytes[6] >> 4);
  const bool nes2 = (bytes[7] & 0x0C) == 0x08;
  if (nes2) {
    h.mapper = static_cast<uint16_t>(h.mapper | (bytes[7] & 0xF0) | ((bytes[8] & 0x0F) << 8));
    if (!nes2_size(bytes[4], bytes[9] & 0x0F, kInesPrgUnit, h.prg_size) ||
        !nes2_size(bytes[5], bytes[9] >> 4, kInesChrUnit, h.chr_size)) {
      return false;
    }
  } else {
    // Old tools left text in bytes 7-15 ("DiskDude!"); byte 7 is trusted only when the
    // bytes after it are clear.
    const bool tail_clear = bytes[12] == 0 && bytes[13] == 0 && bytes[14] == 0 && bytes[15] == 0;
    if (tail_clear) h.mapper = static_cast<uint16_t>(h.mapper | (bytes[7] & 0xF0));
    h.prg_size = bytes[4] * kInesPrgUnit;
    h.chr_size = bytes[5] * kInesChrUnit;
  }
  out = h;
  return true;
}

uint32_t ines_prg_offset(const uint8_t* header) {
  return kInesHeaderSize + ((header[6] & 0x04) != 0 ? kTrainerSize : 0);
}
