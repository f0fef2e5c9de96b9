#include "nes/nes_family.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"

uint8_t queue_mode = 0;
uint8_t queue_count = 0;
uint16_t queue_addresses[kNesListMax] = {};
uint8_t queue_values[kNesListMax] = {};

namespace {

// Packet fields of the family.
constexpr uint32_t kFamilyByte = 1;
constexpr uint32_t kSubByte = 2;
constexpr uint32_t kSettingByte = 3;  // list count (sub 19) or setting (sub 144)
constexpr uint32_t kAddressField = 4;
constexpr uint32_t kCountField = 8;
constexpr uint32_t kPayload = 12;
// One cipher block of each block-program packet is enciphered for old firmware.
constexpr uint32_t kCipherBlock = 8;

void put_le16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

// Fills the fixed fields of one zeroed packet.
void set_header(uint8_t* packet, uint8_t sub, uint16_t address, uint16_t count) {
  packet[kFamilyByte] = kFamilyNes;
  packet[kSubByte] = sub;
  put_le16(packet + kAddressField, address);
  put_le16(packet + kCountField, count);
}

bool fast_level() { return g_link.protocol_level >= kNesFastLevel; }

void write_byte(uint8_t sub, uint16_t address, uint8_t value) {
  uint8_t packet[kPacketSize] = {};
  set_header(packet, sub, address, 1);
  packet[kPayload] = value;
  send_command(packet, kPacketSize);
}

uint8_t read_byte(uint8_t sub, uint16_t address) {
  uint8_t packet[kPacketSize] = {};
  set_header(packet, sub, address, 1);
  send_command(packet, kPacketSize);
  uint8_t reply[kPacketSize] = {};
  read_reply(0, reply, kPacketSize);
  return reply[0];
}

// All packets of one block go in one command file, so the device takes the block in one
// transfer. The data is copied into the packets before any enciphering, which leaves the
// caller's source untouched.
void write_block(uint8_t sub, uint16_t address, const uint8_t* source, uint16_t length) {
  const uint32_t chunk = (sub == kNesSubPrgProgram29gl) ? kNesWriteChunk29gl : kNesWriteChunk;
  const uint32_t packets = (length + chunk - 1) / chunk;
  const bool ciphered = (sub == kNesSubPrgProgram || sub == kNesSubChrProgram ||
                         sub == kNesSubPrgProgram29gl) &&
                        !fast_level();
  if (ciphered && !cipher_key_usable()) return;
  // At least one slot, so that even an empty command hands the transport a real buffer.
  std::vector<uint8_t> buffer(std::max<uint32_t>(packets, 1) * kPacketSize, 0);
  for (uint32_t k = 0; k < packets; ++k) {
    const uint32_t offset = k * chunk;
    const uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(chunk, length - offset));
    uint8_t* slot = buffer.data() + k * kPacketSize;
    set_header(slot, sub, address, n);
    std::memcpy(slot + kPayload, source + offset, n);
    // Short chunks are enciphered with their zero padding: the device deciphers a whole block.
    if (ciphered) encrypt_payload(slot + kPayload, kCipherBlock);
    address = static_cast<uint16_t>(address + n);
  }
  send_command(buffer.data(), packets * kPacketSize);
}

void read_block(uint8_t sub, uint16_t address, uint8_t* destination, uint16_t length) {
  if (fast_level()) {
    // The window's file offset is the bus address itself, on either bus. An empty read
    // would fetch nothing, so none is made.
    if (length != 0) read_dump(address, destination, length);
    return;
  }
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const uint16_t chunk = static_cast<uint16_t>(std::min<uint32_t>(kNesReadChunk, length - done));
    std::memset(packet, 0, sizeof(packet));
    set_header(packet, sub, address, chunk);
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    address = static_cast<uint16_t>(address + chunk);
  }
}

uint8_t read_misc_byte(uint32_t reply_size) {
  uint8_t packet[kPacketSize] = {};
  packet[kFamilyByte] = kFamilyNes;
  packet[kSubByte] = kNesSubMiscByte;
  send_command(packet, kPacketSize);
  uint8_t reply[kReplyBlock] = {};
  read_reply(0, reply, reply_size);
  return reply[0];
}

// Sends every queued pair in order as its own packet and empties the queue.
void send_queue_singly(void (*write)(uint16_t, uint8_t)) {
  const uint32_t count = std::min(queue_count, kNesListMax);
  for (uint32_t i = 0; i < count; ++i) write(queue_addresses[i], queue_values[i]);
  queue_count = 0;
}

// The single write that stands for the queue in modes 1 and 2.
auto queued_mode_write() { return queue_mode == 1 ? nes_cpu_write_byte : nes_cpu_write_byte_alt; }

void queued_read_block(void (*plain_read)(uint16_t, uint8_t*, uint16_t), uint16_t address,
                       uint8_t* destination, uint16_t length) {
  if (queue_mode == 0) {
    plain_read(address, destination, length);
    return;
  }
  if (fast_level()) {
    // The writes ride along with every chunk of the read; the device reads on the CPU bus
    // whichever bus the caller named.
    nes_write_list_read(address, destination, length, queue_addresses, queue_values,
                        queue_count);
    queue_count = 0;
    return;
  }
  send_queue_singly(queued_mode_write());
  plain_read(address, destination, length);
}

}  // namespace

void nes_reset_state() {
  queue_mode = 0;
  queue_count = 0;
  std::memset(queue_addresses, 0, sizeof(queue_addresses));
  std::memset(queue_values, 0, sizeof(queue_values));
}

uint8_t nes_cpu_read_byte(uint16_t address) { return read_byte(kNesSubCpuRead, address); }

void nes_cpu_read_block(uint16_t address, uint8_t* destination, uint16_t length) {
  read_block(kNesSubCpuRead, address, destination, length);
}

void nes_cpu_write_byte(uint16_t address, uint8_t value) {
  write_byte(kNesSubCpuWrite, address, value);
}

void nes_cpu_write_block(uint16_t address, const uint8_t* source, uint16_t length) {
  write_block(kNesSubCpuWrite, address, source, length);
}

void nes_prg_flash_write(uint16_t address, uint8_t value) {
  write_byte(kNesSubPrgFlashWrite, address, value);
}

void nes_cpu_write_byte_alt(uint16_t address, uint8_t value) {
  write_byte(kNesSubCpuWriteAlt, address, value);
}

uint8_t nes_ppu_read_byte(uint16_t address) { return read_byte(kNesSubPpuRead, address); }

void nes_ppu_read_block(uint16_t address, uint8_t* destination, uint16_t length) {
  read_block(kNesSubPpuRead, address, destination, length);
}

void nes_ppu_write_byte(uint16_t address, uint8_t value) {
  write_byte(kNesSubPpuWrite, address, value);
}

void nes_ppu_write_block(uint16_t address, const uint8_t* source, uint16_t length) {
  write_block(kNesSubPpuWrite, address, source, length);
}

void nes_prg_program_block(uint16_t address, const uint8_t* source, uint16_t length) {
  write_block(kNesSubPrgProgram, address, source, length);
}

void nes_chr_program_block(uint16_t address, const uint8_t* source, uint16_t length) {
  write_block(kNesSubChrProgram, address, source, length);
}

void nes_prg_program_block_29gl(uint16_t address, const uint8_t* source, uint16_t length) {
  write_block(kNesSubPrgProgram29gl, address, source, length);
}

void nes_program_setup(uint16_t word1, uint16_t word2, uint16_t word3, uint16_t word4) {
  uint8_t packet[kPacketSize] = {};
  packet[kFamilyByte] = kFamilyNes;
  packet[kSubByte] = kNesSubProgramSetup;
  put_le16(packet + kPayload, word1);
  put_le16(packet + kPayload + 4, word2);
  put_le16(packet + kPayload + 8, word3);
  put_le16(packet + kPayload + 12, word4);
  send_command(packet, kPacketSize);
}

uint8_t nes_read_misc_byte() { return read_misc_byte(kReplyBlock); }

uint8_t nes_read_misc_byte_short() { return read_misc_byte(kPacketSize); }

void nes_set_byte(uint8_t value) {
  uint8_t packet[kPacketSize] = {};
  packet[kFamilyByte] = kFamilyNes;
  packet[kSubByte] = kNesSubSetByte;
  packet[kSettingByte] = value;
  send_command(packet, kPacketSize);
}

void nes_write_list_read(uint16_t address, uint8_t* destination, uint16_t length,
                         const uint16_t* addresses, const uint8_t* values, uint8_t count) {
  count = std::min(count, kNesListMax);
  uint8_t packet[kPacketSize] = {};
  packet[kFamilyByte] = kFamilyNes;
  packet[kSubByte] = kNesSubWriteList;
  packet[kSettingByte] = count;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* entry = packet + kPayload + 4 * i;
    put_le16(entry, addresses[i]);
    entry[2] = values[i];
  }
  if (length == 0) {
    // Writes only: a one-byte count at address 0, and nothing read back.
    put_le16(packet + kCountField, 1);
    send_command(packet, kPacketSize);
    return;
  }
  // The device repeats the list before each chunk, so every packet carries all of it. The
  // transport frames the packet in place; the list bytes stay as they are.
  for (uint32_t done = 0; done < length;) {
    const uint16_t chunk = static_cast<uint16_t>(std::min<uint32_t>(kNesReadChunk, length - done));
    put_le16(packet + kAddressField, address);
    put_le16(packet + kCountField, chunk);
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    address = static_cast<uint16_t>(address + chunk);
  }
}

void nes_set_queue_mode(uint8_t mode) {
  // A mode of 2 or more is only taken from mode 0, so it cannot replace mode 1 by accident.
  if (mode <= 1 || queue_mode == 0) queue_mode = mode;
}

void nes_queue_write(uint16_t address, uint8_t value) {
  if (queue_count >= kNesListMax) {
    if (queue_mode == 0) {
      nes_flush_queue();
    } else {
      // Modes 1 and 2 only flush with a queued read; rather than lose or overrun, deliver the
      // full queue now with the mode's single writes, in order.
      send_queue_singly(queued_mode_write());
    }
  }
  queue_addresses[queue_count] = address;
  queue_values[queue_count] = value;
  ++queue_count;
}

void nes_flush_queue() {
  if (queue_mode != 0) return;
  if (fast_level()) {
    nes_write_list_read(0, nullptr, 0, queue_addresses, queue_values, queue_count);
    queue_count = 0;
  } else {
    send_queue_singly(nes_cpu_write_byte);
  }
}

void nes_flush_queue_prg_flash() { send_queue_singly(nes_prg_flash_write); }

void nes_flush_queue_ppu() { send_queue_singly(nes_ppu_write_byte); }

void nes_queued_cpu_read_block(uint16_t address, uint8_t* destination, uint16_t length) {
  queued_read_block(nes_cpu_read_block, address, destination, length);
}

void nes_queued_ppu_read_block(uint16_t address, uint8_t* destination, uint16_t length) {
  queued_read_block(nes_ppu_read_block, address, destination, length);
}
