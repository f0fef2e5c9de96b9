#include "families/wsc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/sleep.h"

bool wsc_cipher_flag = true;

namespace {

// Packet fields. Most forms carry the address in bytes 3-6, the length in bytes 7-8 and data
// from byte 9; sub-commands 15 and 16 use bytes 4-7, 8-9 and data from byte 16.
constexpr uint32_t kAddress = 3;
constexpr uint32_t kLength = 7;
constexpr uint32_t kPayload = 9;
constexpr uint32_t kAddressWide = 4;
constexpr uint32_t kLengthWide = 8;
constexpr uint32_t kPayloadWide = 16;
constexpr uint32_t kCipherBlock = 8;
constexpr uint32_t kBlockSize = 1024;
// "DUMP.ROM" holds the 1 MiB cartridge space.
constexpr uint32_t kSpaceMask = 0xFFC00;
constexpr uint8_t kErased = 0xFF;

void put_le16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put_le32(uint8_t* at, uint32_t value) {
  put_le16(at, static_cast<uint16_t>(value));
  put_le16(at + 2, static_cast<uint16_t>(value >> 16));
}

void set_family(uint8_t* packet, uint8_t sub) {
  packet[1] = kFamilyWsc;
  packet[2] = sub;
}

// Word and byte writes: two data bytes, low first.
void write_pair(uint8_t sub, uint32_t address, uint8_t low, uint8_t high) {
  uint8_t packet[kPacketSize] = {};
  set_family(packet, sub);
  put_le32(packet + kAddress, address);
  put_le16(packet + kLength, 2);
  packet[kPayload] = low;
  packet[kPayload + 1] = high;
  send_command(packet, kPacketSize);
}

// The narrow forms and the wide forms (sub-commands 15 and 16) differ only in where the
// fields lie.
struct Layout {
  uint32_t address;
  uint32_t length;
  uint32_t payload;
};
constexpr Layout kNarrow{kAddress, kLength, kPayload};
constexpr Layout kWide{kAddressWide, kLengthWide, kPayloadWide};

void set_fields(uint8_t* packet, const Layout& layout, uint32_t address, uint32_t n) {
  put_le32(packet + layout.address, address);
  put_le16(packet + layout.length, static_cast<uint16_t>(n));
}

void read_chunks(uint8_t sub, const Layout& layout, uint32_t limit, uint32_t address,
                 uint8_t* destination, uint32_t length) {
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const uint32_t chunk = std::min(limit, length - done);
    std::memset(packet, 0, sizeof packet);
    set_family(packet, sub);
    set_fields(packet, layout, address, chunk);
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    address += chunk;
  }
}

// One command file per packet. The buffer is cleared once: after a shorter chunk the bytes past
// its data are the previous chunk's, which the length field tells the device to ignore.
void write_per_packet(uint8_t sub, const Layout& layout, uint32_t limit, uint32_t address,
                      const uint8_t* source, uint32_t length) {
  uint8_t packet[kPacketSize] = {};
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(limit, length - done);
    set_family(packet, sub);
    set_fields(packet, layout, address, n);
    std::memcpy(packet + layout.payload, source + done, n);
    send_command(packet, kPacketSize);
    done += n;
    address += n;
  }
}

// All packets in one command file; bytes 9-16 of each enciphered while the flag is on. Each
// packet is built in one reused buffer and copied into the batch, so the caller's data is
// never touched.
void write_protected(uint8_t sub, uint32_t limit, uint32_t address, const uint8_t* source,
                     uint32_t length) {
  const uint64_t packets = (uint64_t{length} + limit - 1) / limit;
  const uint64_t bytes = packets * kPacketSize;
  if (bytes > UINT32_MAX) return;  // more than one command file can carry
  if (wsc_cipher_flag && !cipher_key_usable()) return;
  const size_t room = std::max<size_t>(static_cast<size_t>(bytes), kPacketSize);
  std::unique_ptr<uint8_t[]> batch(new (std::nothrow) uint8_t[room]());
  if (!batch) return;
  uint8_t packet[kPacketSize] = {};
  uint32_t done = 0;
  for (uint64_t k = 0; k < packets; ++k) {
    const uint32_t n = std::min(limit, length - done);
    set_family(packet, sub);
    set_fields(packet, kNarrow, address, n);
    std::memcpy(packet + kPayload, source + done, n);
    // The block is enciphered whole, also when the chunk is shorter than it.
    if (wsc_cipher_flag) encrypt_payload(packet + kPayload, kCipherBlock);
    std::memcpy(batch.get() + k * kPacketSize, packet, kPacketSize);
    done += n;
    address += n;
  }
  send_command(batch.get(), static_cast<uint32_t>(bytes));
}

struct WordCycle {
  uint32_t address;
  uint16_t value;
};

// Command cycles of the flash chip at offsets 0xAAA and 0x555 of the segment at 0xF0000, each
// command byte in the low half of the word.
constexpr uint32_t kUnlock1 = 0xF0AAA;
constexpr uint32_t kUnlock2 = 0xF0555;
constexpr uint32_t kSegment = 0xF0000;

void send_cycles(const WordCycle (&cycles)[7]) {
  for (const WordCycle& c : cycles) wsc_write_word(c.address, c.value);
}

}  // namespace

void wsc_reset_state() { wsc_cipher_flag = true; }

void wsc_identify() {
  uint8_t packet[kPacketSize] = {};
  set_family(packet, kWscSubIdentity);
  send_command(packet, kPacketSize);
  // device_name is single-byte text; the plain board is known by its first 13 characters.
  if (std::strncmp(g_link.device_name, kWscPlainBoard, kWscPlainBoardPrefix) == 0) {
    wsc_cipher_flag = false;
    return;
  }
  wsc_cipher_flag = true;
  cipher_set_device_key();
}

void wsc_read_rom(uint32_t address, uint8_t* destination, uint32_t length) {
  // Addresses the file offset cannot reach read nothing, and say so through the link's
  // failure flag.
  read_dump_at(address, destination, length);
}

uint8_t wsc_read_byte(uint32_t address) {
  uint8_t block[kBlockSize] = {};
  read_dump(static_cast<int32_t>(address & kSpaceMask), block, kBlockSize);
  return block[address & (kBlockSize - 1)];
}

void wsc_write_word(uint32_t address, uint16_t value) {
  write_pair(kWscSubWriteWord, address, static_cast<uint8_t>(value),
             static_cast<uint8_t>(value >> 8));
}

void wsc_write_byte(uint32_t address, uint8_t value) {
  write_pair(kWscSubWriteByte, address, value, 0);
}

void wsc_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  read_chunks(kWscSubRead, kNarrow, kWscReadChunk, address, destination, length);
}

void wsc_read_block_sub15(uint32_t address, uint8_t* destination, uint32_t length) {
  read_chunks(kWscSubRead15, kWide, kWscReadChunk15, address, destination, length);
}

void wsc_write_block(uint32_t address, const uint8_t* source, uint32_t length) {
  write_per_packet(kWscSubWrite, kNarrow, kWscWriteChunk, address, source, length);
}

void wsc_write_block_sub16(uint32_t address, const uint8_t* source, uint32_t length) {
  write_per_packet(kWscSubWrite16, kWide, kWscWriteChunk16, address, source, length);
}

void wsc_write_block_sub10(uint32_t address, const uint8_t* source, uint32_t length) {
  write_protected(kWscSubProtected10, kWscProtectedChunk, address, source, length);
}

void wsc_write_block_sub11(uint32_t address, const uint8_t* source, uint32_t length) {
  write_protected(kWscSubProtected11, kWscProtectedChunk, address, source, length);
}

void wsc_write_block_sub12(uint32_t address, const uint8_t* source, uint32_t length) {
  write_protected(kWscSubProtected12, kWscProtectedChunk12, address, source, length);
}

bool wsc_erase_sector(uint32_t sector_address) {
  send_cycles({{kUnlock1, 0x00F0},
               {kUnlock1, 0x00AA},
               {kUnlock2, 0x0055},
               {kUnlock1, 0x0080},
               {kUnlock1, 0x00AA},
               {kUnlock2, 0x0055},
               {sector_address, 0x0030}});
  // One read at once, then one after each pause; the read after the last pause is not looked
  // at.
  for (uint32_t pause = 0; pause <= kWscErasePauses; ++pause) {
    if (pause != 0) plat_sleep_ms(kWscErasePauseMs);
    const uint8_t value = wsc_read_byte(sector_address);
    if (pause < kWscErasePauses && value == kErased) return true;
  }
  return false;
}

void wsc_erase_chip() {
  send_cycles({{kSegment, 0x00F0},
               {kUnlock1, 0x00AA},
               {kUnlock2, 0x0055},
               {kUnlock1, 0x0080},
               {kUnlock1, 0x00AA},
               {kUnlock2, 0x0055},
               {kUnlock1, 0x0010}});
}
