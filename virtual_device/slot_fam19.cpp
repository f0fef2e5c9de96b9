// Family 19's cartridge: a 16-bit data bus. Reads and "DUMP.ROM" address bytes, writes address
// words; memory holds the bytes in bus order, each word's high byte at its even address.
#include <algorithm>
#include <array>
#include <cstring>

#include "virtual_device/slot_fams.h"

namespace vdev {

namespace {

enum Sub : uint8_t {
  kStart = 1,
  kRead = 3,
  kWrite = 5,
  kWordWriteLe = 6,
  kWriteEnciphered = 7,
  kWriteSkipBlank = 8,
};
constexpr uint32_t kAddress = 3;  // 32 bits
constexpr uint32_t kLength = 7;   // 16 bits
constexpr uint32_t kData = 9;
constexpr uint32_t kDataMax = 500;  // bytes 9..508
constexpr uint32_t kReadMax = 2048;
constexpr uint32_t kSkipBlankMax = 480;
constexpr uint32_t kCipherBlock = 8;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (uint32_t{p[3]} << 24);
}

}  // namespace

void Fam19Cartridge::write_words(uint64_t word_address, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) memory_.write(word_address * 2 + i, data[i]);
}

void Fam19Cartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const uint32_t address = le32(p + kAddress);
  const uint16_t length = le16(p + kLength);
  switch (p[2]) {
    case kStart:
      break;
    case kRead: {
      auto reply = host.reply();
      std::fill(reply.begin(), reply.end(), uint8_t{0});
      const uint32_t n = std::min<uint32_t>(length, kReadMax);
      for (uint32_t i = 0; i < n; ++i) reply[i] = memory_.read(uint64_t{address} + i);
      break;
    }
    case kWrite:
      write_words(address, p + kData, std::min<uint32_t>(length, kDataMax));
      break;
    case kWordWriteLe: {
      // Taken as a word address, like the other writes; the word arrives low byte first.
      const uint8_t word[2] = {p[kData + 1], p[kData]};
      write_words(address, word, 2);
      break;
    }
    case kWriteEnciphered:
    case kWriteSkipBlank: {
      const uint32_t limit = p[2] == kWriteEnciphered ? kDataMax : kSkipBlankMax;
      std::array<uint8_t, kDataMax> data{};
      std::memcpy(data.data(), p + kData, kDataMax);
      payload_decrypt(host.device_cipher(), data.data(), kCipherBlock);
      write_words(address, data.data(), std::min<uint32_t>(length, limit));
      break;
    }
    default:
      break;  // not a sub-command this cartridge knows: ignored
  }
}

}  // namespace vdev
