#include "families/fam2.h"

#include <algorithm>
#include <cstring>

#include "families/command_buffer.h"
#include "link/cipher.h"
#include "link/transport.h"

namespace {

// Packet fields of the family.
constexpr uint32_t kAddressField = 3;  // 16 bits
constexpr uint32_t kLengthField = 5;   // 16 bits; the value byte of a byte write
constexpr uint32_t kPayload = 7;
constexpr uint32_t kListCount = 3;
constexpr uint32_t kListEntries = 4;
constexpr uint32_t kEntrySize = 4;
constexpr uint32_t kCipherBlock = 8;

void put_le16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

void set_header(uint8_t* packet, uint8_t sub, uint16_t address) {
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamily2;
  packet[2] = sub;
  put_le16(packet + kAddressField, address);
}

// Runs of up to kFam2WriteChunk bytes, all in one command file. A run's packet copy is what
// gets enciphered: a run shorter than a cipher block travels as a whole block with zero
// padding, so the caller's buffer is neither changed nor read past its end.
uint32_t write_runs(uint8_t sub, bool enciphered, uint16_t address, const uint8_t* source,
                    uint32_t length) {
  if (enciphered && !cipher_key_usable()) return 0;
  const uint64_t runs = runs_of(length, kFam2WriteChunk);
  const auto buffer = command_buffer(runs);
  if (!buffer) return 0;  // more than one command file can carry: nothing is sent
  for (uint32_t k = 0; k < runs; ++k) {
    const uint32_t done = k * kFam2WriteChunk;
    const auto n = static_cast<uint16_t>(std::min(kFam2WriteChunk, length - done));
    uint8_t* packet = buffer.get() + k * kPacketSize;
    set_header(packet, sub, address);
    put_le16(packet + kLengthField, n);
    std::memcpy(packet + kPayload, source + done, n);
    if (enciphered) encrypt_payload(packet + kPayload, kCipherBlock);
    address = static_cast<uint16_t>(address + n);
  }
  return send_command(buffer.get(), static_cast<uint32_t>(runs * kPacketSize));
}

}  // namespace

void fam2_start() {
  uint8_t packet[kPacketSize] = {};
  packet[1] = kFamilySystem;
  packet[2] = kFam2SystemSub;
  send_command(packet, kPacketSize);
  set_header(packet, kFam2SubStart, 0);
  send_command(packet, kPacketSize);
}

uint8_t fam2_read_byte(uint16_t address) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam2SubByteRead, address);
  send_command(packet, kPacketSize);
  uint8_t reply[kReplyBlock] = {};
  read_reply(0, reply, kReplyBlock);
  return reply[0];
}

void fam2_read_window(uint16_t address, uint8_t* destination, uint32_t length) {
  if (length != 0) read_dump(address, destination, length);
}

uint32_t fam2_read_block(uint16_t address, uint8_t* destination, uint32_t length) {
  const auto n = static_cast<uint16_t>(std::min(length, kFam2ReadMax));
  uint8_t packet[kPacketSize];
  set_header(packet, kFam2SubBlockRead, address);
  put_le16(packet + kLengthField, n);
  send_command(packet, kPacketSize);
  return read_reply(0, destination, n);
}

void fam2_write_byte(uint16_t address, uint8_t value) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam2SubByteWrite, address);
  packet[kLengthField] = value;
  send_command(packet, kPacketSize);
}

void fam2_write_block(uint16_t address, const uint8_t* source, uint32_t length) {
  write_runs(kFam2SubBlockWrite, false, address, source, length);
}

uint32_t fam2_write_block_enciphered(uint16_t address, const uint8_t* source, uint32_t length) {
  return write_runs(kFam2SubBlockWriteEnciphered, true, address, source, length);
}

void fam2_write_list(uint8_t count, const uint16_t* addresses, const uint8_t* values) {
  const uint8_t n = std::min(count, kFam2ListMax);
  uint8_t packet[kPacketSize];
  set_header(packet, kFam2SubWriteList, 0);
  packet[kListCount] = n;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* entry = packet + kListEntries + kEntrySize * i;
    put_le16(entry, addresses[i]);
    entry[2] = values[i];
  }
  send_command(packet, kPacketSize);
}
