#include "virtual_device/wsc_slot.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vdev {

namespace {

constexpr uint8_t kFamily = 10;

// The device's own reading of the family's packets.
enum Sub : uint8_t {
  kIdentity = 1,
  kRead = 4,
  kWrite = 6,
  kWriteWord = 7,
  kWriteByte = 9,
  kProtected10 = 10,
  kProtected11 = 11,
  kProtected12 = 12,
  kRead15 = 15,
  kWrite16 = 16,
};

constexpr uint32_t kPayload = 9;       // bytes 9..508 in the narrow forms
constexpr uint32_t kPayloadWide = 16;  // sub-command 16
constexpr uint32_t kCipherBlock = 8;

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }

}  // namespace

bool WscSlotCartridge::takes(uint8_t family) const { return family == kFamily; }

bool WscSlotCartridge::takes_plain() const {
  return std::string_view(device_.identity).starts_with(kPlainBoardPrefix);
}

void WscSlotCartridge::read_into_reply(uint32_t address, uint32_t length, uint32_t limit,
                                       SlotHost& host) {
  auto reply = host.reply();
  std::fill(reply.begin(), reply.end(), 0);
  const uint32_t n = std::min<uint32_t>({length, limit, static_cast<uint32_t>(reply.size())});
  for (uint32_t i = 0; i < n; ++i) reply[i] = read((address + i) & kSpaceMask);
}

void WscSlotCartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const auto store_block = [&](uint32_t address, const uint8_t* data, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) store((address + i) & kSpaceMask, data[i]);
  };
  switch (p[2]) {
    case kIdentity:
      host.set_identified();
      break;
    case kRead:
      read_into_reply(le32(p + 3), le16(p + 7), 2048, host);
      break;
    case kRead15:
      read_into_reply(le32(p + 4), le16(p + 8), 128, host);
      break;
    case kWriteWord:
      write_word(le32(p + 3) & kSpaceMask, static_cast<uint16_t>(le16(p + 9)));
      break;
    case kWriteByte:
      write_byte(le32(p + 3) & kSpaceMask, p[9]);
      break;
    case kWrite:
      store_block(le32(p + 3), p + kPayload, std::min<uint32_t>(le16(p + 7), 500));
      break;
    case kWrite16:
      store_block(le32(p + 4), p + kPayloadWide, std::min<uint32_t>(le16(p + 8), 128));
      break;
    case kProtected10:
    case kProtected11:
    case kProtected12: {
      const uint32_t limit = p[2] == kProtected12 ? 480 : 500;
      uint8_t data[500];
      std::memcpy(data, p + kPayload, sizeof data);
      if (!takes_plain()) payload_decrypt(host.device_cipher(), data, kCipherBlock);
      store_block(le32(p + 3), data, std::min(le16(p + 7), limit));
      break;
    }
    default:
      break;  // not a sub-command this device knows
  }
}

void WscSlotCartridge::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = window_read(static_cast<uint32_t>(offset + i) & kSpaceMask);
  }
}

}  // namespace vdev
