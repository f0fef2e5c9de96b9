// Family 2's cartridge: a 16-bit address bus over 64 KiB, shown whole in "DUMP.ROM".
#include <algorithm>
#include <array>
#include <cstring>

#include "virtual_device/slot_fams.h"

namespace vdev {

namespace {

enum Sub : uint8_t {
  kStart = 1,
  kBlockRead = 10,
  kByteRead = 11,
  kBlockWrite = 12,
  kByteWrite = 13,
  kBlockWriteEnciphered = 15,
  kWriteList = 19,
};
constexpr uint32_t kAddress = 3;  // 16 bits
constexpr uint32_t kLength = 5;   // 16 bits; the value of a byte write
constexpr uint32_t kData = 7;
constexpr uint32_t kListCount = 3;
constexpr uint32_t kListEntries = 4;
constexpr uint32_t kListMax = 126;
constexpr uint32_t kReadMax = 8192;
constexpr uint32_t kWriteMax = 480;
constexpr uint32_t kCipherBlock = 8;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

void Fam2Cartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const uint16_t address = le16(p + kAddress);
  const uint16_t length = le16(p + kLength);
  // Addresses wrap at 16 bits, as the bus does.
  auto at = [address](uint32_t i) { return static_cast<uint16_t>(address + i); };
  switch (p[2]) {
    case kStart:
      break;
    case kBlockRead:
    case kByteRead: {
      auto reply = host.reply();
      std::fill(reply.begin(), reply.end(), uint8_t{0});
      const uint32_t n = p[2] == kByteRead ? 1 : std::min<uint32_t>(length, kReadMax);
      for (uint32_t i = 0; i < n; ++i) reply[i] = memory_.read(at(i));
      break;
    }
    case kBlockWrite:
    case kBlockWriteEnciphered: {
      std::array<uint8_t, kWriteMax> data{};
      std::memcpy(data.data(), p + kData, kWriteMax);
      if (p[2] == kBlockWriteEnciphered) {
        payload_decrypt(host.device_cipher(), data.data(), kCipherBlock);
      }
      const uint32_t n = std::min<uint32_t>(length, kWriteMax);
      for (uint32_t i = 0; i < n; ++i) memory_.write(at(i), data[i]);
      break;
    }
    case kByteWrite:
      memory_.write(address, p[kLength]);
      break;
    case kWriteList: {
      const uint32_t n = std::min<uint32_t>(p[kListCount], kListMax);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = p + kListEntries + 4 * i;
        memory_.write(le16(e), e[2]);
      }
      break;
    }
    default:
      break;  // not a sub-command this cartridge knows: ignored
  }
}

}  // namespace vdev
