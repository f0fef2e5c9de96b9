#include "families/sfc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "link/link_state.h"
#include "link/text.h"
#include "link/transport.h"

uint32_t sfc_protocol_level = 0;

namespace {

// Packet fields. The short layout carries the address in bytes 3-5; the long layout in bytes
// 4-6 (4-7 for sub-command 5) with the length in bytes 8-9 and data from byte 12.
constexpr uint32_t kShortAddress = 3;
constexpr uint32_t kShortLength = 6;
constexpr uint32_t kShortValue = 7;
constexpr uint32_t kHalfByte = 3;
constexpr uint32_t kLongAddress = 4;
constexpr uint32_t kLongLength = 8;
constexpr uint32_t kLongPayload = 12;
constexpr uint32_t kBlockSize = 1024;
constexpr uint32_t kEraseCycles = 7;

void put_le16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

// The low 24 bits: bank in the third byte.
void put_le24(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
}

void put_le32(uint8_t* at, uint32_t value) {
  put_le24(at, value);
  at[3] = static_cast<uint8_t>(value >> 24);
}

void set_family(uint8_t* packet, uint8_t sub) {
  packet[1] = kFamilySfc;
  packet[2] = sub;
}

void fill_write_byte(uint8_t* packet, uint32_t address, uint8_t value) {
  set_family(packet, kSfcSubWriteByte);
  put_le24(packet + kShortAddress, address);
  packet[kShortValue] = value;
}

// One read packet, then the answer's first byte from a whole reply block.
uint8_t read_one(uint8_t sub, uint32_t address) {
  uint8_t packet[kPacketSize] = {};
  set_family(packet, sub);
  if (sub == kSfcSubRead) {
    put_le24(packet + kShortAddress, address);
    put_le16(packet + kShortLength, 1);
  } else {
    put_le24(packet + kLongAddress, address);
    put_le16(packet + kLongLength, 1);
  }
  send_command(packet, kPacketSize);
  uint8_t reply[kReplyBlock] = {};
  read_reply(0, reply, kReplyBlock);
  return reply[0];
}

// Command-and-reply cycles of at most 2048 bytes each.
void read_chunks(uint8_t sub, uint32_t address, uint8_t* destination, uint32_t length) {
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const auto chunk = static_cast<uint16_t>(std::min<uint32_t>(kSfcReadChunk, length - done));
    std::memset(packet, 0, sizeof packet);
    set_family(packet, sub);
    if (sub == kSfcSubRead) {
      put_le24(packet + kShortAddress, address);
      put_le16(packet + kShortLength, chunk);
    } else {
      put_le24(packet + kLongAddress, address);
      put_le16(packet + kLongLength, chunk);
    }
    send_command(packet, kPacketSize);
    read_reply(0, destination + done, chunk);
    done += chunk;
    address += chunk;
  }
}

// "DUMP.ROM" shows the half chosen by sub-command 4 at offsets 0 .. 8 MiB - 1. A read that
// runs over the end of a half goes on in the other half after its own select, so that it never
// reads past the window.
void read_halves(uint32_t address, uint8_t* destination, uint32_t length) {
  uint32_t done = 0;
  do {
    const uint32_t offset = address & (kSfcWindowHalf - 1);
    const uint32_t piece = std::min(length - done, kSfcWindowHalf - offset);
    uint8_t packet[kPacketSize] = {};
    set_family(packet, kSfcSubHalfSelect);
    packet[kHalfByte] = (address & kSfcWindowHalf) ? 1 : 0;
    send_command(packet, kPacketSize);
    if (piece != 0) read_dump(static_cast<int32_t>(offset), destination + done, piece);
    done += piece;
    address += piece;
  } while (done < length);
}

// Packets of up to `limit` data bytes, all in one command file.
void write_batched(uint8_t sub, uint32_t limit, uint32_t address, const uint8_t* source,
                   uint32_t length) {
  const uint64_t packets = (uint64_t{length} + limit - 1) / limit;
  const uint64_t bytes = packets * kPacketSize;
  if (bytes > UINT32_MAX) return;  // more than one command file can carry
  // At least one packet's room, so that an empty command still hands over a real buffer.
  const size_t room = std::max<size_t>(static_cast<size_t>(bytes), kPacketSize);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[room]());
  if (!buffer) return;
  uint32_t done = 0;
  for (uint64_t k = 0; k < packets; ++k) {
    const uint32_t n = std::min(limit, length - done);
    uint8_t* packet = buffer.get() + k * kPacketSize;
    set_family(packet, sub);
    // Sub-commands 6 and 7 carry 24 address bits; byte 7 stays zero.
    if (sub == kSfcSubWriteAddr32) {
      put_le32(packet + kLongAddress, address);
    } else {
      put_le24(packet + kLongAddress, address);
    }
    put_le16(packet + kLongLength, static_cast<uint16_t>(n));
    std::memcpy(packet + kLongPayload, source + done, n);
    done += n;
    address += n;
  }
  send_command(buffer.get(), static_cast<uint32_t>(bytes));
}

struct Cycle {
  uint32_t address;
  uint8_t value;
};

void send_cycles(const Cycle (&cycles)[kEraseCycles]) {
  uint8_t buffer[kEraseCycles * kPacketSize] = {};
  for (uint32_t i = 0; i < kEraseCycles; ++i) {
    fill_write_byte(buffer + i * kPacketSize, cycles[i].address, cycles[i].value);
  }
  send_command(buffer, sizeof buffer);
}

// The chip's command addresses 0xAAA and 0x555 as the cartridge maps them: bank 0x00 with
// offset bit 15 set.
constexpr uint32_t kUnlock1 = 0x8AAA;
constexpr uint32_t kUnlock2 = 0x8555;

bool starts_with(const uint8_t* text, const char* prefix, size_t length) {
  return std::memcmp(text, prefix, length) == 0;
}

}  // namespace

void sfc_reset_state() { sfc_protocol_level = 0; }

void sfc_identify() {
  uint8_t packet[kPacketSize] = {};
  set_family(packet, kSfcSubIdentity);
  send_command(packet, kPacketSize);
  sfc_protocol_level = 0;

  uint8_t sector[kStatusSectorSize] = {};
  read_reply(kStatusSectorOffset, sector, sizeof sector);
  // Every test runs and a later match wins; the prefixes exclude each other. A negative number
  // wraps to a large level, as the unsigned level holds it.
  if (starts_with(sector, "SFC_Q3V8_FW", 11)) {
    sfc_protocol_level = static_cast<uint32_t>(parse_decimal(sector + 11, sizeof sector - 11));
  }
  if (starts_with(sector, "SFC_HWRKA_FW", 12)) {
    sfc_protocol_level = static_cast<uint32_t>(parse_decimal(sector + 12, sizeof sector - 12));
  }
  if (starts_with(sector, "GEN_HWRKA_FW", 12)) {
    sfc_protocol_level = static_cast<uint32_t>(parse_decimal(sector + 12, sizeof sector - 12));
  }
}

uint8_t sfc_read_byte(uint32_t address) { return read_one(kSfcSubRead, address); }

uint8_t sfc_read_status(uint32_t address) { return read_one(kSfcSubRead, address); }

void sfc_write_byte(uint32_t address, uint8_t value) {
  uint8_t packet[kPacketSize] = {};
  fill_write_byte(packet, address, value);
  send_command(packet, kPacketSize);
}

void sfc_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  if (address % kBlockSize != 0 || length % kBlockSize != 0) {
    read_chunks(kSfcSubRead, address, destination, length);
    return;
  }
  if (sfc_protocol_level < kSfcWholeWindowLevel) {
    read_halves(address, destination, length);
    return;
  }
  // The whole bus at offset = address; addresses the file offset cannot reach read nothing,
  // and say so through the link's failure flag.
  read_dump_at(address, destination, length);
}

void sfc_select_half(uint32_t address) {
  if (sfc_protocol_level >= kSfcWholeWindowLevel) return;
  uint8_t packet[kPacketSize] = {};
  set_family(packet, kSfcSubHalfSelect);
  packet[kHalfByte] = (address & kSfcWindowHalf) ? 1 : 0;
  send_command(packet, kPacketSize);
}

void sfc_read_window(uint32_t address, uint8_t* destination, uint32_t length) {
  if (length == 0) return;
  if (sfc_protocol_level < kSfcWholeWindowLevel) address &= kSfcWindowHalf - 1;
  if (address > static_cast<uint32_t>(INT32_MAX)) {
    g_link.io_failed = true;  // past what a file offset reaches: nothing was read
    return;
  }
  read_dump(static_cast<int32_t>(address), destination, length);
}

uint8_t sfc_long_read_byte(uint32_t address) { return read_one(kSfcSubLongRead, address); }

void sfc_long_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  read_chunks(kSfcSubLongRead, address, destination, length);
}

void sfc_long_write_byte(uint32_t address, uint8_t value) {
  uint8_t packet[kPacketSize] = {};
  set_family(packet, kSfcSubLongWrite);
  put_le24(packet + kLongAddress, address);
  put_le16(packet + kLongLength, 1);
  packet[kLongPayload] = value;
  send_command(packet, kPacketSize);
}

void sfc_long_write_block(uint32_t address, const uint8_t* source, uint32_t length) {
  // One buffer for every packet: after a shorter last run the bytes past its data are the
  // previous run's, which the length field tells the device to ignore.
  uint8_t packet[kPacketSize] = {};
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(kSfcChunkLong, length - done);
    set_family(packet, kSfcSubLongWrite);
    put_le24(packet + kLongAddress, address);
    put_le16(packet + kLongLength, static_cast<uint16_t>(n));
    std::memcpy(packet + kLongPayload, source + done, n);
    send_command(packet, kPacketSize);
    done += n;
    address += n;
  }
}

void sfc_write_block_addr32(uint32_t address, const uint8_t* source, uint32_t length) {
  write_batched(kSfcSubWriteAddr32, kSfcChunkAddr32, address, source, length);
}

void sfc_write_block_480(uint32_t address, const uint8_t* source, uint32_t length) {
  write_batched(kSfcSubWrite480, kSfcChunk480, address, source, length);
}

void sfc_write_block_496(uint32_t address, const uint8_t* source, uint32_t length) {
  write_batched(kSfcSubWrite496, kSfcChunk496, address, source, length);
}

void sfc_chip_erase() {
  send_cycles({{kUnlock1, 0xF0},
               {kUnlock1, 0xAA},
               {kUnlock2, 0x55},
               {kUnlock1, 0x80},
               {kUnlock1, 0xAA},
               {kUnlock2, 0x55},
               {kUnlock1, 0x10}});
}

void sfc_sector_erase(uint32_t sector_address) {
  send_cycles({{kUnlock1, 0xF0},
               {kUnlock1, 0xAA},
               {kUnlock2, 0x55},
               {kUnlock1, 0x80},
               {kUnlock1, 0xAA},
               {kUnlock2, 0x55},
               {sector_address, 0x30}});
}
