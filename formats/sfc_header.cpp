// SFC header places, scoring, memory maps and the internal checksum.
#include "formats/sfc_header.h"

#include <cstring>

namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * kKiB;
constexpr uint32_t kLoRomRun = 0x8000;
constexpr uint32_t kHiRomRun = 0x10000;
constexpr uint32_t kHiRamRun = 0x2000;
// Battery RAM the HiROM window ($20-$3F, 8 KiB each) reaches; LoROM's $70-$7D reach more.
constexpr uint32_t kRamLimit = 256 * kKiB;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

char printable(uint8_t byte) { return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?'; }

// Map-mode bytes and the place their boards keep the header at. The FastROM bit (0x10) does not
// move it; the enhancement chips' modes ride on the place of their map (S-DD1 and SA-1 on
// LoROM's, SPC7110 on HiROM's).
enum class ModeFit { agrees, other_place, unknown };

ModeFit mode_fit(uint8_t mode, SfcMap place) {
  int mode_place = -1;
  switch (mode & 0xEF) {
    case 0x20:
    case 0x22:
    case 0x23:
      mode_place = static_cast<int>(SfcMap::lorom);
      break;
    case 0x21:
    case 0x2A:
      mode_place = static_cast<int>(SfcMap::hirom);
      break;
    case 0x25:
      mode_place = static_cast<int>(SfcMap::exhirom);
      break;
    default:
      return ModeFit::unknown;
  }
  return mode_place == static_cast<int>(place) ? ModeFit::agrees : ModeFit::other_place;
}

// Smallest ROM size code whose image holds the header's own place (ExHiROM's lies past 4 MiB).
uint8_t min_rom_code(SfcMap map) {
  switch (map) {
    case SfcMap::lorom: return 5;    // 32 KiB
    case SfcMap::hirom: return 6;    // 64 KiB
    case SfcMap::exhirom: return 13; // 8 MiB, the only code past 4 MiB
  }
  return 5;
}

uint8_t max_rom_code(SfcMap map) { return map == SfcMap::exhirom ? 13 : 12; }

// Titles are ASCII or JIS X 0201 (half-width katakana), padded with spaces or zero bytes.
bool title_plausible(const uint8_t* title) {
  bool any = false;
  for (uint32_t i = 0; i < 21; ++i) {
    const uint8_t b = title[i];
    const bool ascii = b >= 0x20 && b < 0x7F;
    const bool kana = b >= 0xA1 && b <= 0xDF;
    if (!ascii && !kana && b != 0x00) return false;
    if (b != 0x20 && b != 0x00) any = true;
  }
  return any;
}

uint32_t sum_bytes(const uint8_t* data, uint32_t size) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

uint32_t floor_pow2(uint32_t value) {
  uint32_t p = 1;
  while (p <= value / 2) p *= 2;
  return p;
}

uint32_t ceil_pow2(uint32_t value) {
  const uint32_t p = floor_pow2(value);
  return p == value ? p : p * 2;
}

// The sum of the image a board mirrors up to the next power of two: the largest power of two,
// then the rest (itself mirrored the same way) repeated until that power is filled again.
// Sums wrap at 32 bits, which keeps the low 16 exact.
uint32_t mirrored_sum(const uint8_t* data, uint32_t size) {
  if (size == 0) return 0;
  const uint32_t head = floor_pow2(size);
  if (head == size) return sum_bytes(data, size);
  const uint32_t rest = size - head;
  return sum_bytes(data, head) + (head / ceil_pow2(rest)) * mirrored_sum(data + head, rest);
}

}  // namespace

SfcHeader sfc_parse_header(const uint8_t* block) {
  SfcHeader h{};
  int end = 0;
  for (int i = 0; i < 21; ++i) {
    h.title[i] = printable(block[i]);
    if (block[i] != 0x20 && block[i] != 0x00) end = i + 1;
  }
  h.title[end] = '\0';
  h.map_mode = block[0x15];
  h.cartridge_type = block[0x16];
  h.rom_size_code = block[0x17];
  h.ram_size_code = block[0x18];
  h.region = block[0x19];
  h.developer = block[0x1A];
  h.version = block[0x1B];
  h.complement = le16(block + 0x1C);
  h.checksum = le16(block + 0x1E);
  h.reset_vector = le16(block + 0x3C);
  return h;
}

uint32_t sfc_header_bus_address(SfcMap map) {
  switch (map) {
    case SfcMap::lorom: return 0x00FFC0;
    case SfcMap::hirom: return 0xC0FFC0;
    case SfcMap::exhirom: return 0x40FFC0;
  }
  return 0x00FFC0;
}

uint32_t sfc_header_rom_offset(SfcMap map) {
  switch (map) {
    case SfcMap::lorom: return 0x7FC0;
    case SfcMap::hirom: return 0xFFC0;
    case SfcMap::exhirom: return 0x40FFC0;
  }
  return 0x7FC0;
}

int sfc_score_header(const SfcHeader& header, SfcMap place) {
  int score = 0;
  if (static_cast<uint16_t>(header.checksum + header.complement) == 0xFFFF) score += 4;
  // A header read through a mirror shows up at more than one place (a HiROM board answers at
  // $00:FFC0 with its $C0:FFC0), so the map mode must outweigh everything else but the
  // checksum pair.
  switch (mode_fit(header.map_mode, place)) {
    case ModeFit::agrees: score += 3; break;
    case ModeFit::other_place: score -= 3; break;
    case ModeFit::unknown: break;
  }
  if (header.rom_size_code >= min_rom_code(place) && header.rom_size_code <= max_rom_code(place)) {
    score += 1;
  }
  if (header.reset_vector >= 0x8000) score += 1;
  return score;
}

int sfc_score_block(const uint8_t* block, SfcMap place) {
  return sfc_score_header(sfc_parse_header(block), place) + (title_plausible(block) ? 1 : 0);
}

SfcDetection sfc_detect(const uint8_t* const blocks[kSfcMapCount]) {
  SfcDetection best;
  bool have = false;
  for (uint32_t i = 0; i < kSfcMapCount; ++i) {
    if (blocks[i] == nullptr) continue;
    const auto place = static_cast<SfcMap>(i);
    const int score = sfc_score_block(blocks[i], place);
    if (!have || score > best.score) {
      have = true;
      best.map = place;
      best.header = sfc_parse_header(blocks[i]);
      best.score = score;
    }
  }
  best.found = have && best.score >= kSfcHeaderMinScore;
  return best;
}

uint32_t sfc_map_rom_limit(SfcMap map) { return map == SfcMap::exhirom ? 8 * kMiB : 4 * kMiB; }

uint32_t sfc_rom_size(const SfcHeader& header, SfcMap map) {
  const uint8_t code = header.rom_size_code;
  if (code < min_rom_code(map) || code > max_rom_code(map)) return 0;
  return kKiB << code;
}

uint32_t sfc_ram_size(const SfcHeader& header) {
  const uint8_t code = header.ram_size_code;
  if (code == 0 || code > 8) return 0;  // 1 KiB << 8 is kRamLimit
  return kKiB << code;
}

uint32_t sfc_rom_bus_address(SfcMap map, uint32_t offset) {
  offset %= sfc_map_rom_limit(map);
  switch (map) {
    case SfcMap::lorom: {
      uint32_t bank = offset / kLoRomRun;
      // $7E-$7F are the console's own RAM; LoROM boards answer for those ROM banks at $FE-$FF,
      // where bit 23 is not decoded.
      if (bank >= 0x7E) bank |= 0x80;
      return (bank << 16) | 0x8000 | (offset & (kLoRomRun - 1));
    }
    case SfcMap::hirom:
      return 0xC00000 + offset;
    case SfcMap::exhirom:
      return offset < 4 * kMiB ? 0xC00000 + offset : offset;
  }
  return offset;
}

uint32_t sfc_rom_run(SfcMap map) { return map == SfcMap::lorom ? kLoRomRun : kHiRomRun; }

uint32_t sfc_ram_bus_address(SfcMap map, uint32_t offset) {
  offset %= kRamLimit;
  if (map == SfcMap::lorom) {
    return 0x700000 + ((offset / kLoRomRun) << 16) + (offset & (kLoRomRun - 1));
  }
  return 0x200000 + ((offset / kHiRamRun) << 16) + 0x6000 + (offset & (kHiRamRun - 1));
}

uint32_t sfc_ram_run(SfcMap map) { return map == SfcMap::lorom ? kLoRomRun : kHiRamRun; }

uint16_t sfc_checksum(const uint8_t* rom, uint32_t size) {
  return static_cast<uint16_t>(mirrored_sum(rom, size));
}

const char* sfc_map_name(SfcMap map) {
  switch (map) {
    case SfcMap::lorom: return "lorom";
    case SfcMap::hirom: return "hirom";
    case SfcMap::exhirom: return "exhirom";
  }
  return "?";
}

bool sfc_map_from_name(const char* text, SfcMap& map) {
  if (text == nullptr) return false;
  for (uint32_t i = 0; i < kSfcMapCount; ++i) {
    const auto candidate = static_cast<SfcMap>(i);
    if (std::strcmp(text, sfc_map_name(candidate)) == 0) {
      map = candidate;
      return true;
    }
  }
  return false;
}
