// Family 20's cartridge: a 24-bit bank:offset bus over plain memory, with a command port at
// bank 0x00 offsets 0x2400 (command and status) and 0x2401 (data).
#include <algorithm>
#include <cstring>

#include "virtual_device/device.h"
#include "virtual_device/slot_fams.h"

namespace vdev {

namespace {

// The device's view of family 20 packets.
enum Sub : uint8_t {
  kStart = 1,
  kControl = 2,
  kRead = 3,
  kWriteBytes = 4,
  kBlockWrite = 5,
  kShortBlockWrite = 6,
  kQuery = 7,
  kBlockWrite32 = 8,
};
constexpr uint32_t kSelector = 3;
constexpr uint32_t kBank = 4;
constexpr uint32_t kOffset = 6;
constexpr uint32_t kAddress32 = 4;
constexpr uint32_t kLength = 8;
constexpr uint32_t kData = 12;
constexpr uint32_t kReadMax = 8192;
constexpr uint32_t kEntriesMax = 124;
constexpr uint32_t kBlockMax = 384;
constexpr uint32_t kShortBlockMax = 256;
constexpr uint32_t kBlock32Max = 498;
constexpr uint32_t kAddressMask = 0xFFFFFF;

// The command port.
constexpr uint32_t kPortStatus = 0x002400;
constexpr uint32_t kPortData = 0x002401;
constexpr uint8_t kSelect = 0x09;
constexpr uint8_t kData1 = 0x28;
constexpr uint8_t kData2 = 0x84;
constexpr uint8_t kUnlock1 = 0x06;
constexpr uint8_t kUnlock2 = 0x39;
constexpr uint8_t kStatusLocked = 0x7D;
constexpr uint8_t kStatusAwake = 0x2A;
constexpr uint8_t kStatusAsleep = 0x00;
constexpr uint8_t kStatusChecked = 0x04;
constexpr uint8_t kCommandCheckAnswer = 1;
constexpr uint8_t kCommandCheck = 2;
constexpr uint8_t kCommandWake = 4;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (uint32_t{p[3]} << 24);
}
uint32_t bank_address(uint8_t bank, uint16_t offset) { return (uint32_t{bank} << 16) | offset; }

}  // namespace

Fam20Cartridge::Fam20Cartridge(std::vector<uint8_t> memory, PortConfig port)
    : memory_(std::move(memory)), port_(port) {
  awake_ = port_.wakes_after == 0 && !port_.never_wakes;
  status_ = awake_ ? kStatusAwake : kStatusAsleep;
}

void Fam20Cartridge::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  memory_.dump(offset, out, count);
}

uint8_t Fam20Cartridge::bus_read(uint32_t address) {
  address &= kAddressMask;
  if (address == kPortStatus) return status_;
  if (address == kPortData) return 0;
  return memory_.read(address);
}

void Fam20Cartridge::bus_write(uint32_t address, uint8_t value) {
  address &= kAddressMask;
  if (address == kPortStatus || address == kPortData) {
    port_write(value, address == kPortData);
    return;
  }
  memory_.write(address, value);
}

// An exchange: 0x09 to the status register (which then shows 0x7D while the port is locked),
// 0x28 and 0x84 to the data register, 0x06 and 0x39 if locked, then the command. Anything out
// of order drops the exchange.
void Fam20Cartridge::port_write(uint8_t value, bool data_register) {
  const bool locked = port_.locked && !unlocked_;
  if (data_register) {
    if (phase_ == Phase::selected && value == kData1) {
      phase_ = Phase::data1;
    } else if (phase_ == Phase::data1 && value == kData2) {
      phase_ = Phase::armed;
    } else {
      phase_ = Phase::idle;
    }
    return;
  }
  if (phase_ == Phase::armed && locked) {
    phase_ = value == kUnlock1 ? Phase::unlock1 : Phase::idle;
  } else if (phase_ == Phase::unlock1) {
    unlocked_ = value == kUnlock2;
    phase_ = unlocked_ ? Phase::armed : Phase::idle;
  } else if (phase_ == Phase::armed) {
    port_command(value);
    phase_ = Phase::idle;
    unlocked_ = false;  // a locked port wants the unlock again for the next exchange
  } else if (value == kSelect) {
    phase_ = Phase::selected;
    if (locked) status_ = kStatusLocked;
  } else {
    phase_ = Phase::idle;
  }
}

void Fam20Cartridge::port_command(uint8_t command) {
  switch (command) {
    case kCommandWake:
      if (!awake_ && !port_.never_wakes && ++wake_commands_ >= port_.wakes_after) awake_ = true;
      second_command_ = false;
      status_ = awake_ ? kStatusAwake : kStatusAsleep;
      break;
    case kCommandCheck:
      if (!awake_) break;
      second_command_ = true;
      status_ = kStatusAwake;
      break;
    case kCommandCheckAnswer:
      if (!awake_) break;
      status_ = second_command_ ? kStatusChecked : kStatusAwake;
      second_command_ = false;
      break;
    default:
      break;  // other commands leave the status as it is
  }
  if (!awake_) status_ = kStatusAsleep;
}

void Fam20Cartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const uint8_t bank = p[kBank];
  const uint16_t offset = le16(p + kOffset);
  const uint16_t length = le16(p + kLength);
  switch (p[2]) {
    case kStart:
      break;
    case kControl:
      control_ = {p[kSelector], p[kBank]};
      break;
    case kRead: {
      auto reply = host.reply();
      std::fill(reply.begin(), reply.end(), uint8_t{0});
      const uint32_t n = std::min<uint32_t>(length, kReadMax);
      // One 24-bit number: a read past offset 0xFFFF goes on in the next bank.
      const uint32_t start = bank_address(bank, offset);
      for (uint32_t i = 0; i < n; ++i) reply[i] = bus_read(start + i);
      break;
    }
    case kWriteBytes: {
      const uint32_t n = std::min<uint32_t>(length, kEntriesMax);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = p + kData + 4 * i;
        bus_write(bank_address(e[1], le16(e + 2)), e[0]);
      }
      break;
    }
    case kBlockWrite:
    case kShortBlockWrite: {
      selector_ = p[kSelector];
      const uint32_t limit = p[2] == kBlockWrite ? kBlockMax : kShortBlockMax;
      const uint32_t n = std::min<uint32_t>(length, limit);
      // The bank stays: the offset wraps within it.
      for (uint32_t i = 0; i < n; ++i) {
        bus_write(bank_address(bank, static_cast<uint16_t>(offset + i)), p[kData + i]);
      }
      break;
    }
    case kQuery: {
      query_ = p[kSelector];
      auto reply = host.reply();
      std::fill(reply.begin(), reply.end(), uint8_t{0});
      // What a query means is not modelled; the answer, the value's complement, shows that the
      // value arrived and that the answer is read from the reply.
      reply[0] = static_cast<uint8_t>(~query_);
      break;
    }
    case kBlockWrite32: {
      const uint32_t start = le32(p + kAddress32);
      const uint32_t n = std::min<uint32_t>(length, kBlock32Max);
      for (uint32_t i = 0; i < n; ++i) bus_write(start + i, p[kData + i]);
      break;
    }
    default:
      break;  // not a sub-command this cartridge knows: ignored
  }
}

bool build_fam20(Device& device, const CartridgeOptions& options, std::string& error) {
  std::vector<uint8_t> memory;
  PortConfig port;
  uint64_t wakes_after = 0;
  if (!slot_memory(options, Fam20Cartridge::kSize, memory, error) ||
      !option_number(options, "port-wakes-after", wakes_after, error, 1000) ||
      !option_flag(options, "port-never-wakes", port.never_wakes, error) ||
      !option_flag(options, "port-locked", port.locked, error)) {
    return false;
  }
  port.wakes_after = static_cast<uint32_t>(wakes_after);
  device.insert(std::make_unique<Fam20Cartridge>(std::move(memory), port));
  return true;
}

}  // namespace vdev
