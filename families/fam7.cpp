#include "families/fam7.h"

#include <algorithm>
#include <cstring>

#include "link/transport.h"

namespace {

constexpr uint32_t kAddressField = 3;  // 24 bits
constexpr uint32_t kLengthField = 6;   // 16 bits

void set_header(uint8_t* packet, uint8_t sub, uint32_t address, uint16_t length) {
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamily7;
  packet[2] = sub;
  for (uint32_t i = 0; i < 3; ++i) {
    packet[kAddressField + i] = static_cast<uint8_t>(address >> (8 * i));
  }
  packet[kLengthField] = static_cast<uint8_t>(length);
  packet[kLengthField + 1] = static_cast<uint8_t>(length >> 8);
}

}  // namespace

void fam7_start() {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam7SubStart, 0, 0);
  send_command(packet, kPacketSize);
}

uint8_t fam7_read_byte(uint32_t address) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam7SubRead, address, 1);
  send_command(packet, kPacketSize);
  uint8_t reply[kReplyBlock] = {};
  read_reply(0, reply, kReplyBlock);
  return reply[0];
}

void fam7_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const auto chunk = static_cast<uint16_t>(std::min(kFam7ReadChunk, length - done));
    set_header(packet, kFam7SubRead, address, chunk);
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    address += chunk;
  }
}
