#include "families/fam3.h"

#include <algorithm>
#include <cstring>

#include "link/transport.h"

namespace {

constexpr uint32_t kAddressField = 4;  // 32 bits
constexpr uint32_t kLengthField = 8;   // 16 bits

}  // namespace

void fam3_start() {
  uint8_t packet[kPacketSize] = {};
  packet[1] = kFamilySystem;
  packet[2] = kFam3SystemSub;
  send_command(packet, kPacketSize);
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamily3;
  packet[2] = kFam3SubStart;
  send_command(packet, kPacketSize);
}

uint32_t fam3_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  const auto n = static_cast<uint16_t>(std::min(length, kFam3ReadMax));
  uint8_t packet[kPacketSize] = {};
  packet[1] = kFamily3;
  packet[2] = kFam3SubBlockRead;
  for (uint32_t i = 0; i < 4; ++i) {
    packet[kAddressField + i] = static_cast<uint8_t>(address >> (8 * i));
  }
  packet[kLengthField] = static_cast<uint8_t>(n);
  packet[kLengthField + 1] = static_cast<uint8_t>(n >> 8);
  send_command(packet, kPacketSize);
  return read_reply(0, destination, n);
}
