#include "virtual_device/n64_rom_image.h"

#include <algorithm>

namespace vdev {

namespace {

constexpr uint32_t kPiConfig = 0x80371240;
constexpr uint32_t kClockRate = 0x0000000F;
constexpr uint32_t kBootAddress = 0x80000400;
constexpr uint32_t kRelease = 0x0000144B;
constexpr uint32_t kCrc1At = 0x10;
constexpr uint32_t kCrc2At = 0x14;
constexpr uint32_t kTitleAt = 0x20;
constexpr uint32_t kTitleSize = 20;
constexpr uint32_t kGameCodeAt = 0x3B;
constexpr uint32_t kGameCodeSize = 4;
constexpr uint32_t kVersionAt = 0x3F;

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void put_text(uint8_t* p, std::string_view text, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i) {
    p[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
  }
}

}  // namespace

std::vector<uint8_t> make_n64_image(uint32_t size, std::string_view title,
                                    std::string_view game_code, N64BootChip boot_chip,
                                    uint8_t version) {
  if (size < kN64HeaderSize || size % 4 != 0) return {};
  std::vector<uint8_t> image(size);
  // xorshift32 words: a period of 2^32 - 1, so no stretch of the image repeats another.
  uint32_t state = 0x2545F491;
  for (uint32_t i = 0; i < size; i += 4) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    put_be32(image.data() + i, state);
  }
  std::fill_n(image.begin(), kN64HeaderSize, 0);
  put_be32(image.data(), kPiConfig);
  put_be32(image.data() + 4, kClockRate);
  put_be32(image.data() + 8, kBootAddress);
  put_be32(image.data() + 12, kRelease);
  put_text(image.data() + kTitleAt, title, kTitleSize);
  put_text(image.data() + kGameCodeAt, game_code, kGameCodeSize);
  image[kVersionAt] = version;
  n64_stamp_crc(image, boot_chip);
  return image;
}

bool n64_stamp_crc(std::vector<uint8_t>& image, N64BootChip chip) {
  uint32_t crc1 = 0;
  uint32_t crc2 = 0;
  if (image.size() < kN64CrcEnd ||
      !n64_compute_crc(image.data(), static_cast<uint32_t>(image.size()), chip, crc1, crc2)) {
    return false;
  }
  put_be32(image.data() + kCrc1At, crc1);
  put_be32(image.data() + kCrc2At, crc2);
  return true;
}

}  // namespace vdev
