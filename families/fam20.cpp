#include "families/fam20.h"

#include <algorithm>
#include <cstring>

#include "families/command_buffer.h"
#include "link/transport.h"

namespace {

// Packet fields of the family.
constexpr uint32_t kSubByte = 2;
constexpr uint32_t kSelectorByte = 3;  // also the control flag (sub 2) and query value (sub 7)
constexpr uint32_t kBankByte = 4;      // also the control value (sub 2)
constexpr uint32_t kOffsetField = 6;
constexpr uint32_t kAddress32Field = 4;
constexpr uint32_t kLengthField = 8;
constexpr uint32_t kPayload = 12;
constexpr uint32_t kEntrySize = 4;

void put_le16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

void put_le32(uint8_t* bytes, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t bank_of(uint32_t address) { return static_cast<uint8_t>(address >> 16); }
uint16_t offset_of(uint32_t address) { return static_cast<uint16_t>(address); }

void start_packet(uint8_t* packet, uint8_t sub) {
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamily20;
  packet[kSubByte] = sub;
}

// The common header of sub-commands 3 to 6.
void set_header(uint8_t* packet, uint8_t sub, uint8_t selector, uint8_t bank, uint16_t offset,
                uint16_t length) {
  start_packet(packet, sub);
  packet[kSelectorByte] = selector;
  packet[kBankByte] = bank;
  put_le16(packet + kOffsetField, offset);
  put_le16(packet + kLengthField, length);
}

void send_one(uint8_t sub, uint8_t byte3, uint8_t byte4) {
  uint8_t packet[kPacketSize];
  start_packet(packet, sub);
  packet[kSelectorByte] = byte3;
  packet[kBankByte] = byte4;
  send_command(packet, kPacketSize);
}

// Sends a fresh one-packet command and returns byte 0 of the reply block.
uint8_t reply_byte(uint8_t* packet) {
  send_command(packet, kPacketSize);
  uint8_t reply[kReplyBlock] = {};
  read_reply(0, reply, kReplyBlock);
  return reply[0];
}

}  // namespace

void fam20_start() { send_one(kFam20SubStart, 0, 0); }

void fam20_control_clear() { send_one(kFam20SubControl, 0, 0); }

void fam20_control_set(uint8_t value) { send_one(kFam20SubControl, 1, value); }

uint8_t fam20_read_byte(uint32_t address) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam20SubRead, 0, bank_of(address), offset_of(address), 1);
  return reply_byte(packet);
}

void fam20_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const auto chunk = static_cast<uint16_t>(std::min(kFam20ReadChunk, length - done));
    set_header(packet, kFam20SubRead, 0, bank_of(address), offset_of(address), chunk);
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    address += chunk;
  }
}

void fam20_write_byte(uint32_t address, uint8_t value) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam20SubWriteBytes, 0, bank_of(address), offset_of(address), 1);
  uint8_t* entry = packet + kPayload;
  entry[0] = value;
  entry[1] = bank_of(address);
  put_le16(entry + 2, offset_of(address));
  send_command(packet, kPacketSize);
}

void fam20_write_byte_list(const uint32_t* addresses, const uint8_t* values, uint8_t count) {
  const uint8_t n = std::min(count, kFam20ListMax);
  uint8_t packet[kPacketSize];
  set_header(packet, kFam20SubWriteBytes, 0, 0, 0, n);
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* entry = packet + kPayload + kEntrySize * i;
    entry[0] = values[i];
    entry[1] = bank_of(addresses[i]);
    put_le16(entry + 2, offset_of(addresses[i]));
  }
  send_command(packet, kPacketSize);
}

void fam20_write_block(uint8_t selector, uint8_t bank, uint16_t offset, const uint8_t* source,
                       uint32_t length) {
  const uint64_t packets = runs_of(length, kFam20BlockChunk);
  const auto buffer = command_buffer(packets);
  if (!buffer) return;  // more than one command file can carry
  for (uint32_t k = 0; k < packets; ++k) {
    const uint32_t done = k * kFam20BlockChunk;
    const auto n = static_cast<uint16_t>(std::min(kFam20BlockChunk, length - done));
    uint8_t* packet = buffer.get() + k * kPacketSize;
    set_header(packet, kFam20SubBlockWrite, selector, bank, offset, n);
    std::memcpy(packet + kPayload, source + done, n);
    offset = static_cast<uint16_t>(offset + n);
  }
  send_command(buffer.get(), static_cast<uint32_t>(packets * kPacketSize));
}

void fam20_write_short_block(uint8_t selector, uint8_t bank, uint16_t offset, const uint8_t* source,
                             uint16_t length) {
  const uint16_t n = std::min(length, kFam20ShortBlockMax);
  uint8_t packet[kPacketSize];
  set_header(packet, kFam20SubShortBlockWrite, selector, bank, offset, n);
  if (n != 0) std::memcpy(packet + kPayload, source, n);
  send_command(packet, kPacketSize);
}

uint8_t fam20_query(uint8_t value) {
  uint8_t packet[kPacketSize];
  start_packet(packet, kFam20SubQuery);
  packet[kSelectorByte] = value;
  return reply_byte(packet);
}

void fam20_write_block_addr32(uint32_t address, const uint8_t* source, uint32_t length) {
  const uint64_t packets = runs_of(length, kFam20BlockChunk32);
  const auto buffer = command_buffer(packets);
  if (!buffer) return;  // more than one command file can carry
  for (uint32_t k = 0; k < packets; ++k) {
    const uint32_t done = k * kFam20BlockChunk32;
    const auto n = static_cast<uint16_t>(std::min(kFam20BlockChunk32, length - done));
    uint8_t* packet = buffer.get() + k * kPacketSize;
    start_packet(packet, kFam20SubBlockWrite32);
    put_le32(packet + kAddress32Field, address);
    put_le16(packet + kLengthField, n);
    std::memcpy(packet + kPayload, source + done, n);
    address += n;
  }
  send_command(buffer.get(), static_cast<uint32_t>(packets * kPacketSize));
}
