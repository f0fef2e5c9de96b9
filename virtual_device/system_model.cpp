#include "virtual_device/system_model.h"

#include <algorithm>

namespace vdev {

namespace {

// Family 240 as the device decodes it.
constexpr uint8_t kBoot = 7;
constexpr uint8_t kBootConfirm = 255;
constexpr uint8_t kCommand10 = 10;
constexpr uint8_t kPutParameter = 224;
constexpr uint8_t kGetWord = 226;
constexpr uint8_t kWriteBlock = 228;
constexpr uint32_t kFlag = 3;
constexpr uint32_t kValue = 3;
constexpr uint32_t kLength = 7;
constexpr uint32_t kData = 12;
constexpr uint32_t kBlockPieceMax = 256;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint8_t SystemModel::read(uint32_t address) const {
  auto it = memory.find(address);
  return it == memory.end() ? 0xFF : it->second;
}

uint32_t SystemModel::read_le(uint32_t address, uint32_t bytes) const {
  uint32_t value = 0;
  for (uint32_t i = 0; i < std::min<uint32_t>(bytes, 4); ++i) {
    value |= static_cast<uint32_t>(read(address + i)) << (8 * i);
  }
  return value;
}

void SystemModel::write(uint32_t address, std::span<const uint8_t> data) {
  for (size_t i = 0; i < data.size(); ++i) memory[address + static_cast<uint32_t>(i)] = data[i];
}

void carry_out_system(const uint8_t* p, SystemModel& model, std::span<uint8_t> reply) {
  switch (p[2]) {
    case kBoot:
      model.boot_armed = p[kFlag + 1] == p[kFlag] ? std::optional<uint8_t>(p[kFlag]) : std::nullopt;
      break;
    case kBootConfirm:
      // Only a second packet that repeats the first one's flag completes the request.
      if (model.boot_armed && *model.boot_armed == p[kFlag] && p[kFlag + 1] == p[kFlag]) {
        model.boot_requested = p[kFlag] != 0;
        ++model.boot_requests;
      } else {
        ++model.refused;
      }
      model.boot_armed.reset();
      break;
    case kCommand10:
      ++model.command_10_count;
      break;
    case kPutParameter:
      model.parameter = le32(p + kValue);
      break;
    case kGetWord: {
      std::fill(reply.begin(), reply.end(), 0);
      const uint32_t word = model.read_le(le32(p + kValue), 2);
      if (reply.size() >= 2) {
        reply[0] = static_cast<uint8_t>(word);
        reply[1] = static_cast<uint8_t>(word >> 8);
      }
      break;
    }
    case kWriteBlock: {
      const uint32_t length = static_cast<uint32_t>(p[kLength] | p[kLength + 1] << 8);
      if (length > kBlockPieceMax) {
        ++model.refused;
        break;
      }
      model.write(le32(p + kValue), {p + kData, length});
      break;
    }
    default:
      break;  // not a system command this device knows: ignored
  }
}

}  // namespace vdev
