// The WonderSwan footer's fields, size and save tables, and its checksum.
#include "formats/wsc_footer.h"

WscFooter wsc_parse_footer(const uint8_t* last16) {
  WscFooter f{};
  f.publisher = last16[6];
  f.color = last16[7];
  f.game_id = last16[8];
  f.version = last16[9];
  f.rom_size_code = last16[10];
  f.save_type = last16[11];
  f.flags = last16[12];
  f.rtc = last16[13];
  f.checksum = static_cast<uint16_t>(last16[14] | (last16[15] << 8));
  return f;
}

uint32_t wsc_rom_size(uint8_t rom_size_code) {
  constexpr uint32_t kMbit = 0x20000;  // 128 KiB
  // 1, 2, 4, 8, 16, 24, 32, 48, 64 and 128 Mbit.
  static constexpr uint32_t kSizes[] = {1, 2, 4, 8, 16, 24, 32, 48, 64, 128};
  if (rom_size_code >= sizeof kSizes / sizeof kSizes[0]) return 0;
  return kSizes[rom_size_code] * kMbit;
}

WscSave wsc_save(uint8_t save_type) {
  switch (save_type) {
    case 0x01: return {WscSaveKind::sram, 8 * 1024};
    case 0x02: return {WscSaveKind::sram, 32 * 1024};
    case 0x03: return {WscSaveKind::sram, 128 * 1024};
    case 0x04: return {WscSaveKind::sram, 256 * 1024};
    case 0x05: return {WscSaveKind::sram, 512 * 1024};
    case 0x10: return {WscSaveKind::eeprom, 128};
    case 0x20: return {WscSaveKind::eeprom, 2048};
    case 0x50: return {WscSaveKind::eeprom, 1024};
    default: return {};
  }
}

uint16_t wsc_checksum(const uint8_t* rom, uint32_t size) {
  uint32_t sum = 0;
  const uint32_t end = size < 2 ? 0 : size - 2;
  for (uint32_t i = 0; i < end; ++i) sum += rom[i];
  return static_cast<uint16_t>(sum);
}

const char* wsc_extension(const WscFooter& footer) {
  return (footer.color & 1) != 0 ? ".wsc" : ".ws";
}
