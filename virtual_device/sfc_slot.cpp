#include "virtual_device/sfc_slot.h"

#include <algorithm>
#include <string_view>

#include "link/text.h"

namespace vdev {

namespace {

constexpr uint8_t kFamily = 15;
constexpr uint32_t kMaxRead = 2048;

// The device's own reading of the family's packets.
enum Sub : uint8_t {
  kIdentity = 1,
  kRead = 2,
  kWriteByte = 3,
  kHalfSelect = 4,
  kWriteAddr32 = 5,
  kWrite480 = 6,
  kWrite496 = 7,
  kLongRead = 9,
  kLongWrite = 10,
};

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t le24(const uint8_t* p) { return le16(p) | (static_cast<uint32_t>(p[2]) << 16); }

}  // namespace

bool SfcSlotCartridge::takes(uint8_t family) const { return family == kFamily; }

uint32_t SfcSlotCartridge::firmware() const {
  if (device_.firmware) return static_cast<uint32_t>(*device_.firmware);
  const std::string_view id = device_.identity;
  const auto number_after = [&](size_t at) {
    return static_cast<uint32_t>(
        parse_decimal(reinterpret_cast<const uint8_t*>(id.data()) + at, id.size() - at));
  };
  if (id.starts_with("SFC_Q3V8_FW")) return number_after(11);
  if (id.starts_with("SFC_HWRKA_FW") || id.starts_with("GEN_HWRKA_FW")) return number_after(12);
  return 0;
}

void SfcSlotCartridge::read_into_reply(uint32_t address, uint32_t length, SlotHost& host) {
  auto reply = host.reply();
  std::fill(reply.begin(), reply.end(), 0);
  const uint32_t n = std::min<uint32_t>({length, kMaxRead, static_cast<uint32_t>(reply.size())});
  for (uint32_t i = 0; i < n; ++i) reply[i] = read((address + i) & kBusMask);
}

void SfcSlotCartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const auto store_block = [&](uint32_t address, uint32_t limit) {
    const uint32_t n = std::min(le16(p + 8), limit);
    for (uint32_t i = 0; i < n; ++i) store((address + i) & kBusMask, p[12 + i]);
  };
  switch (p[2]) {
    case kIdentity:
      host.set_identified();
      break;
    case kRead:
      read_into_reply(le24(p + 3), le16(p + 6), host);
      break;
    case kWriteByte:
      write(le24(p + 3), p[7]);
      break;
    case kHalfSelect:
      upper_half_ = p[3] != 0;
      break;
    case kWriteAddr32:  // the bus has 24 lines; address bits above them go nowhere
    case kWrite480:
      store_block(le24(p + 4), 480);
      break;
    case kWrite496:
      store_block(le24(p + 4), 496);
      break;
    case kLongRead:
      read_into_reply(le24(p + 4), le16(p + 8), host);
      break;
    case kLongWrite: {
      const uint32_t address = le24(p + 4);
      const uint32_t n = std::min<uint32_t>(le16(p + 8), 498);
      for (uint32_t i = 0; i < n; ++i) write((address + i) & kBusMask, p[12 + i]);
      break;
    }
    default:
      break;  // not a sub-command this device knows
  }
}

uint64_t SfcSlotCartridge::dump_size() const {
  return firmware() < kWholeWindowFirmware ? kHalf : uint64_t{kBusMask} + 1;
}

void SfcSlotCartridge::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  const bool halves = firmware() < kWholeWindowFirmware;
  for (uint32_t i = 0; i < count; ++i) {
    auto address = static_cast<uint32_t>(offset + i) & kBusMask;
    if (halves) address = (address & (kHalf - 1)) | (upper_half_ ? kHalf : 0);
    out[i] = window_read(address);
  }
}

}  // namespace vdev
