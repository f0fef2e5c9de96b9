// Known cartridge images for the retail cartridges' built-in ROMs and for tests that dump them:
// made-up contents in which no two banks are alike, with a correct header or footer. The same
// arguments always give the same bytes.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "formats/ines.h"
#include "formats/sfc_header.h"

namespace vdev {

// ROM offset of an SFC map's header block ($FFC0 of its bank) and the largest ROM it maps.
uint32_t sfc_image_header_offset(SfcMap map);  // 0x7FC0, 0xFFC0, 0x40FFC0
uint32_t sfc_image_rom_limit(SfcMap map);      // 4 MiB, 4 MiB, 8 MiB

// An SFC ROM of `rom_size` bytes for `map`: title (21 bytes, space-padded), map mode ($20,
// $21, $25), cartridge type (ROM, or ROM + RAM + battery), ROM and RAM size codes, reset vector
// $8000, and the checksum and complement of the whole image. Empty when the header's place does
// not fit in `rom_size`, the size is past what the map addresses, or `ram_size` is not 0 or a
// power of two from 2 KiB to 256 KiB.
std::vector<uint8_t> make_sfc_image(SfcMap map, uint32_t rom_size, uint32_t ram_size,
                                    std::string_view title);

// A WonderSwan ROM of `rom_size` bytes (one the footer's size code names, at most 1 MiB) with
// its footer: far jump to the ROM's start, colour flag, size code, `save_type` (the footer's
// byte, e.g. from wsc_save_type_code), and the checksum. Empty for a size without a code.
std::vector<uint8_t> make_wsc_image(uint32_t rom_size, uint8_t save_type, bool color);

// A whole iNES file: header (mapper, PRG in 16 KiB and CHR in 8 KiB units, mirroring, battery)
// and made-up PRG and CHR. Empty when the header cannot hold the values.
std::vector<uint8_t> make_ines_image(uint16_t mapper, uint32_t prg_size, uint32_t chr_size,
                                     NesMirroring mirroring, bool battery = false);

}  // namespace vdev
