#include "families/fam19.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "families/command_buffer.h"
#include "link/cipher.h"
#include "link/transport.h"

namespace {

// Packet fields of the family.
constexpr uint32_t kAddressField = 3;  // 32 bits
constexpr uint32_t kLengthField = 7;   // 16 bits
constexpr uint32_t kPayload = 9;
constexpr uint32_t kCipherBlock = 8;
constexpr uint8_t kErased = 0xFF;

void put_le16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

void put_le32(uint8_t* bytes, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

void set_header(uint8_t* packet, uint8_t sub, uint32_t address, uint16_t length) {
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamily19;
  packet[2] = sub;
  put_le32(packet + kAddressField, address);
  put_le16(packet + kLengthField, length);
}

bool all_erased(const uint8_t* bytes, uint32_t count) {
  return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == kErased; });
}

enum class Form { plain, enciphered, skip_blank };

// Builds the runs of a block write in one buffer and sends the kept packets in one file.
// Enciphering works on the packet's copy (padding included for a short run), never on the
// caller's bytes.
void write_runs(uint8_t sub, uint32_t chunk, Form form, uint32_t word_address,
                const uint8_t* source, uint32_t length) {
  if (form != Form::plain && !cipher_key_usable()) return;
  const uint64_t runs = runs_of(length, chunk);
  const auto buffer = command_buffer(runs);
  if (!buffer) return;  // more than one command file can carry
  uint32_t kept = 0;
  for (uint32_t k = 0; k < runs; ++k) {
    const uint32_t done = k * chunk;
    const auto n = static_cast<uint16_t>(std::min(chunk, length - done));
    const bool blank = form == Form::skip_blank && all_erased(source + done, n);
    if (!blank) {
      uint8_t* packet = buffer.get() + kept * kPacketSize;
      set_header(packet, sub, word_address, n);
      std::memcpy(packet + kPayload, source + done, n);
      if (form != Form::plain) encrypt_payload(packet + kPayload, kCipherBlock);
      ++kept;
    }
    word_address += n / 2u;
  }
  send_command(buffer.get(), kept * kPacketSize);
}

}  // namespace

void fam19_start() {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam19SubStart, 0, 0);
  send_command(packet, kPacketSize);
}

uint16_t fam19_read_word(uint32_t byte_address) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam19SubRead, byte_address, 2);
  send_command(packet, kPacketSize);
  uint8_t reply[kPacketSize] = {};
  read_reply(0, reply, kPacketSize);
  return static_cast<uint16_t>((reply[0] << 8) | reply[1]);
}

void fam19_read_block(uint32_t byte_address, uint8_t* destination, uint32_t length) {
  // File offsets stop at 2^31 - 1, so a window read may end at 2^31 at the latest; one that
  // would run past it is made with commands instead.
  const bool in_window = uint64_t{byte_address} + length <= uint64_t{INT32_MAX} + 1;
  if (byte_address % kFam19WindowUnit == 0 && length % kFam19WindowUnit == 0 && in_window) {
    read_dump_at(byte_address, destination, length);
    return;
  }
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const auto chunk = static_cast<uint16_t>(std::min(kFam19ReadChunk, length - done));
    set_header(packet, kFam19SubRead, byte_address, chunk);
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    byte_address += chunk;
  }
}

void fam19_write_word(uint32_t word_address, uint16_t value) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam19SubWrite, word_address, 2);
  packet[kPayload] = static_cast<uint8_t>(value >> 8);
  packet[kPayload + 1] = static_cast<uint8_t>(value);
  send_command(packet, kPacketSize);
}

void fam19_write_word_le(uint32_t address, uint16_t value) {
  uint8_t packet[kPacketSize];
  set_header(packet, kFam19SubWordWriteLe, address, 2);
  put_le16(packet + kPayload, value);
  send_command(packet, kPacketSize);
}

void fam19_write_word_list(const uint32_t* word_addresses, const uint16_t* values, uint32_t count) {
  const auto buffer = command_buffer(count);
  if (!buffer) return;  // more than one command file can carry
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* packet = buffer.get() + i * kPacketSize;
    set_header(packet, kFam19SubWrite, word_addresses[i], 2);
    packet[kPayload] = static_cast<uint8_t>(values[i] >> 8);
    packet[kPayload + 1] = static_cast<uint8_t>(values[i]);
  }
  send_command(buffer.get(), count * kPacketSize);
}

void fam19_write_block(uint32_t word_address, const uint8_t* source, uint32_t length) {
  write_runs(kFam19SubWrite, kFam19WriteChunk, Form::plain, word_address, source, length);
}

void fam19_prepare_cipher() {
  uint8_t key[16] = {};
  copy_key_data(key, sizeof key);
  cipher_set_key(key, 8);
}

void fam19_write_block_enciphered(uint32_t byte_address, const uint8_t* source, uint32_t length) {
  write_runs(kFam19SubWriteEnciphered, kFam19WriteChunk, Form::enciphered, byte_address >> 1,
             source, length);
}

void fam19_write_block_skip_blank(uint32_t byte_address, const uint8_t* source, uint32_t length) {
  write_runs(kFam19SubWriteSkipBlank, kFam19SkipBlankChunk, Form::skip_blank, byte_address >> 1,
             source, length);
}
