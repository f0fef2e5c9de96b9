#include "families/fam17.h"

#include <algorithm>
#include <cstring>

#include "families/command_buffer.h"
#include "link/transport.h"

namespace {

constexpr uint32_t kAddressField = 3;  // 24 bits
constexpr uint32_t kValueByte = 6;
constexpr uint32_t kKilobyte = 1024;

void set_header(uint8_t* packet, uint8_t sub, uint32_t address) {
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamily17;
  packet[2] = sub;
  for (uint32_t i = 0; i < 3; ++i) {
    packet[kAddressField + i] = static_cast<uint8_t>(address >> (8 * i));
  }
}

struct Step {
  uint32_t address;
  uint8_t value;
};

constexpr Step kSequenceA[] = {
    {0x0D0000, 0x68}, {0x0F0000, 0x00}, {0x0F0000, 0x73}, {0x0F0000, 0x73}, {0x0F0000, 0x73}};
constexpr Step kSequenceB[] = {{0x0D0000, 0x68}, {0x0F0001, 0x00}, {0x0C0001, 0x60}};

}  // namespace

void fam17_start() {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam17SubStart, 0);
  send_command(packet, kPacketSize);
}

void fam17_write_byte(uint32_t address, uint8_t value) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam17SubByteWrite, address);
  packet[kValueByte] = value;
  send_command(packet, kPacketSize);
}

void fam17_write_bytes(uint32_t address, const uint8_t* source, uint32_t count) {
  const auto buffer = command_buffer(count);
  if (!buffer) return;  // more than one command file can carry
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* packet = buffer.get() + i * kPacketSize;
    set_header(packet, kFam17SubByteWrite, address + i);
    packet[kValueByte] = source[i];
  }
  send_command(buffer.get(), count * kPacketSize);
}

uint8_t fam17_read_byte(uint32_t address) {
  uint8_t block[kKilobyte] = {};
  read_dump(static_cast<int32_t>(address & kFam17AddressMask & ~(kKilobyte - 1)), block, kKilobyte);
  return block[address & (kKilobyte - 1)];
}

void fam17_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  // The block read takes the address as given, unlike the byte read: an address past the
  // window reads what the file holds there, which past its end is nothing (a failed read).
  read_dump_at(address, destination, length);
}

void fam17_write_sequence_a() {
  for (const Step& step : kSequenceA) fam17_write_byte(step.address, step.value);
}

void fam17_write_sequence_b() {
  for (const Step& step : kSequenceB) fam17_write_byte(step.address, step.value);
}
