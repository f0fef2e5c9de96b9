#include "virtual_device/rom_images.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "formats/wsc_footer.h"
#include "virtual_device/retail.h"

namespace vdev {

namespace {

// The header block's fields, as offsets from $FFC0.
constexpr uint32_t kTitle = 0x00;
constexpr uint32_t kTitleSize = 21;
constexpr uint32_t kMapMode = 0x15;
constexpr uint32_t kCartridgeType = 0x16;
constexpr uint32_t kRomSizeCode = 0x17;
constexpr uint32_t kRamSizeCode = 0x18;
constexpr uint32_t kRegion = 0x19;
constexpr uint32_t kComplement = 0x1C;
constexpr uint32_t kChecksum = 0x1E;
constexpr uint32_t kVectors = 0x20;      // $FFE0-$FFFF
constexpr uint32_t kResetVector = 0x3C;  // $FFFC, emulation mode
constexpr uint32_t kBlockSize = 0x40;

constexpr uint8_t kMapModeByte[] = {0x20, 0x21, 0x25};

// 1 KiB << code: the smallest that holds `size`.
uint8_t kib_code(uint32_t size) {
  uint8_t code = 0;
  while ((uint64_t{1024} << code) < size) ++code;
  return code;
}

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// WonderSwan ROM sizes by the footer's size code.
constexpr uint32_t kWscRomSizes[][2] = {
    {0x00, 0x20000}, {0x01, 0x40000}, {0x02, 0x80000}, {0x03, 0x100000},
};

}  // namespace

uint32_t sfc_image_header_offset(SfcMap map) {
  switch (map) {
    case SfcMap::lorom: return 0x7FC0;
    case SfcMap::hirom: return 0xFFC0;
    case SfcMap::exhirom: return 0x40FFC0;
  }
  return 0x7FC0;
}

uint32_t sfc_image_rom_limit(SfcMap map) {
  return map == SfcMap::exhirom ? 0x800000 : 0x400000;
}

std::vector<uint8_t> make_sfc_image(SfcMap map, uint32_t rom_size, uint32_t ram_size,
                                    std::string_view title) {
  const uint32_t place = sfc_image_header_offset(map);
  const bool ram_ok = ram_size == 0 || (std::has_single_bit(ram_size) && ram_size >= 0x800 &&
                                        ram_size <= 0x40000);
  if (rom_size < place + kBlockSize || rom_size > sfc_image_rom_limit(map) || !ram_ok) return {};
  std::vector<uint8_t> rom(rom_size);
  fill_random(rom.data(), rom.size(), rom_size ^ (static_cast<uint32_t>(map) << 28));
  uint8_t* h = rom.data() + place;
  std::memset(h + kTitle, ' ', kTitleSize);
  std::memcpy(h + kTitle, title.data(), std::min<size_t>(title.size(), kTitleSize));
  h[kMapMode] = kMapModeByte[static_cast<uint32_t>(map)];
  h[kCartridgeType] = ram_size ? 0x02 : 0x00;
  h[kRomSizeCode] = kib_code(rom_size);
  h[kRamSizeCode] = ram_size ? kib_code(ram_size) : 0;
  h[kRegion] = 0x01;
  h[kRegion + 1] = 0x00;  // developer
  h[kRegion + 2] = 0x00;  // version
  for (uint32_t v = kVectors; v < kBlockSize; v += 2) put16(h + v, 0x8000);
  put16(h + kResetVector, 0x8000);
  // A checksum and its complement add up to the same byte sum whatever they are, so the sum
  // taken with a placeholder pair is the sum with the real one.
  put16(h + kComplement, 0xFFFF);
  put16(h + kChecksum, 0x0000);
  const uint16_t sum = sfc_checksum(rom.data(), rom_size);
  put16(h + kComplement, static_cast<uint16_t>(~sum));
  put16(h + kChecksum, sum);
  return rom;
}

std::vector<uint8_t> make_wsc_image(uint32_t rom_size, uint8_t save_type, bool color) {
  const auto* entry = std::find_if(std::begin(kWscRomSizes), std::end(kWscRomSizes),
                                   [&](const auto& e) { return e[1] == rom_size; });
  if (entry == std::end(kWscRomSizes)) return {};
  std::vector<uint8_t> rom(rom_size);
  fill_random(rom.data(), rom.size(), rom_size ^ 0x5753u);
  uint8_t* f = rom.data() + rom_size - kWscFooterSize;
  f[0] = 0xEA;  // jmp far to the ROM's first byte
  put16(f + 1, 0x0000);
  put16(f + 3, static_cast<uint16_t>((0x100000 - rom_size) >> 4));
  f[5] = 0x00;
  f[6] = 0x01;  // publisher
  f[7] = color ? 0x01 : 0x00;
  f[8] = 0x01;  // game id
  f[9] = 0x00;  // version
  f[10] = static_cast<uint8_t>((*entry)[0]);
  f[11] = save_type;
  f[12] = 0x04;  // 16-bit ROM bus, horizontal
  f[13] = 0x00;  // no clock
  put16(f + 14, wsc_checksum(rom.data(), rom_size));
  return rom;
}

std::vector<uint8_t> make_ines_image(uint16_t mapper, uint32_t prg_size, uint32_t chr_size,
                                     NesMirroring mirroring, bool battery) {
  std::vector<uint8_t> file(kInesHeaderSize + size_t{prg_size} + chr_size);
  const InesHeader header{mapper, prg_size, chr_size, mirroring, battery};
  if (prg_size == 0 || !ines_build_header(header, file.data())) return {};
  fill_random(file.data() + kInesHeaderSize, file.size() - kInesHeaderSize,
              mapper * 0x10001u ^ prg_size ^ (chr_size << 3));
  return file;
}

}  // namespace vdev
