// Built-in N64 ROM images for the virtual retail cartridge and for tests: a retail header
// (title, game code, version) and the CRC pair the named boot chip computes, over contents
// that never repeat within 64 MiB, so a read from the wrong place or a wrongly found size
// shows.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "formats/n64_header.h"

namespace vdev {

// A .z64 image of `size` bytes (at least kN64HeaderSize, a multiple of 4). The title is
// padded with spaces to 20 characters (longer is cut), the game code is the 4 characters at
// 0x3B (category, id, region; shorter is padded with spaces). An image shorter than
// kN64CrcEnd cannot carry a CRC pair: its CRC fields stay 0. Empty when the size is unusable.
std::vector<uint8_t> make_n64_image(uint32_t size, std::string_view title,
                                    std::string_view game_code,
                                    N64BootChip boot_chip = N64BootChip::cic6102,
                                    uint8_t version = 0);

// Stamps the CRC pair of `chip` into the header of an image (after a test changed its bytes);
// false when the image is too short to have one.
bool n64_stamp_crc(std::vector<uint8_t>& image, N64BootChip chip);

}  // namespace vdev
