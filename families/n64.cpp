#include "families/n64.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "families/n64_packets.h"
#include "link/cipher.h"
#include "link/text.h"
#include "link/transport.h"
#include "platform/sleep.h"

using n64_packets::kBusLayout;
using n64_packets::kWideLayout;
using n64_packets::Payload;
using n64_packets::put_le16;
using n64_packets::put_le32;
using n64_packets::send_batch;
using n64_packets::start;

N64Table g_n64_table{};
uint16_t g_n64_read_chunk = kN64ReadChunk;
uint32_t g_n64_firmware = 0;

namespace {

// Identity texts, compared on their first 12, 6 and 8 bytes.
constexpr char kHwrkb[] = "N64_HWRKB_FW320";
constexpr size_t kHwrkbPrefix = 12;
constexpr char kQ3xx[] = "N64_Q3XX_XXXXX";
constexpr size_t kQ3xxPrefix = 6;
constexpr char kQ3v6[] = "N64_Q3V6_FW400";
constexpr size_t kQ3v6Prefix = 8;

constexpr uint32_t kWordReply = 512;
constexpr uint32_t kPageByte = 8;
constexpr uint32_t kPageShift = 9;
constexpr uint32_t kPageOffsetMask = kN64Page - 1;
constexpr uint32_t kHalfBit = 0x100;
constexpr uint32_t kAddressedLengthMask = 0x1FC0;

constexpr const char* kEntryNames[kN64Entries] = {
    "n64_set_address",      "n64_read_word",   "n64_read_block",
    "n64_write_word",       "n64_write_block", "n64_write_block_sub5",
    "n64_write_block_sub7", "n64_read_page",   "n64_write_page"};
const char* g_variant_names[kN64Entries] = {};

// --- Variants of sub-commands 2 to 9 ---

void set_address_packet(uint32_t address) {
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubSetAddress);
  put_le32(packet + 3, address);
  send_command(packet, kPacketSize);
}

uint16_t word_read(uint32_t address) {
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubRead);
  put_le32(packet + 3, address);
  put_le16(packet + 7, 2);
  send_command(packet, kPacketSize);
  uint8_t reply[kWordReply] = {};
  read_reply(0, reply, kWordReply);
  // The word travels high byte first.
  return static_cast<uint16_t>(reply[0] << 8 | reply[1]);
}

uint32_t packet_block_read(uint32_t address, uint8_t* destination, uint32_t length) {
  uint32_t delivered = 0;
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const uint32_t chunk = std::min<uint32_t>(g_n64_read_chunk, length - done);
    std::memset(packet, 0, sizeof packet);
    start(packet, kN64SubRead);
    put_le32(packet + 3, address);
    put_le16(packet + 7, static_cast<uint16_t>(chunk));
    send_command(packet, kPacketSize);
    delivered += read_reply(0, destination + done, chunk);
    address += chunk;
    done += chunk;
  }
  return delivered;
}

// Cartridge ROM comes straight from "DUMP.ROM". A read that runs past the window's end takes
// the rest through packets rather than reading the file beyond the window.
uint32_t windowed_block_read(uint32_t address, uint8_t* destination, uint32_t length) {
  if (address < kN64RomBase || address >= kN64RomEnd) {
    return packet_block_read(address, destination, length);
  }
  const auto inside = static_cast<uint32_t>(std::min<uint64_t>(length, kN64RomEnd - address));
  uint32_t delivered = 0;
  if (inside != 0) {
    delivered = read_dump(static_cast<int32_t>(address & kN64WindowMask), destination, inside);
  }
  if (inside < length) {
    delivered += packet_block_read(kN64RomEnd, destination + inside, length - inside);
  }
  return delivered;
}

void word_write(uint32_t address, uint16_t value) {
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubWrite);
  put_le32(packet + 3, address);
  put_le16(packet + 7, 2);
  packet[9] = static_cast<uint8_t>(value >> 8);
  packet[10] = static_cast<uint8_t>(value);
  send_command(packet, kPacketSize);
}

bool block_write(uint32_t address, const uint8_t* source, uint32_t length) {
  return send_batch(kN64SubWrite, kBusLayout, 0, address, source, length, kN64WriteChunk,
                    Payload::plain);
}

bool plain_write5(uint32_t address, const uint8_t* source, uint32_t length) {
  return send_batch(kN64SubWrite5, kBusLayout, 0, address, source, length, kN64WriteChunk,
                    Payload::plain);
}

bool ciphered_write5(uint32_t address, const uint8_t* source, uint32_t length) {
  return send_batch(kN64SubWrite5, kBusLayout, 0, address, source, length, kN64WriteChunk,
                    Payload::ciphered);
}

bool plain_write7(uint32_t address, const uint8_t* source, uint32_t length) {
  return send_batch(kN64SubWrite7, kBusLayout, 0, address, source, length, kN64WriteChunk7,
                    Payload::plain);
}

bool ciphered_write7(uint32_t address, const uint8_t* source, uint32_t length) {
  return send_batch(kN64SubWrite7, kBusLayout, 0, address, source, length, kN64WriteChunk7,
                    Payload::ciphered);
}

uint32_t addressed_read(uint32_t address, uint8_t* destination, uint32_t length) {
  const uint32_t n = std::min(length & kAddressedLengthMask, kN64AddressedMax);
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubPageRead);
  put_le32(packet + 4, address);
  put_le16(packet + 8, static_cast<uint16_t>(n));
  send_command(packet, kPacketSize);
  return n == 0 ? 0 : read_reply(0, destination, n);
}

uint32_t paged_read(uint32_t address, uint8_t* destination, uint32_t length) {
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubPageRead);
  packet[kPageByte] = static_cast<uint8_t>((address >> kPageShift) & 3);
  send_command(packet, kPacketSize);
  // The reply block is twice the page, so the copy never leaves it.
  uint8_t scratch[kReplyBlock] = {};
  if (read_reply(0, scratch, kReplyBlock) == 0) return 0;
  const uint32_t n = std::min(length, kN64Page);
  if (n != 0) std::memcpy(destination, scratch + (address & kPageOffsetMask), n);
  return n;
}

bool addressed_write(uint32_t address, const uint8_t* source, uint32_t length) {
  return send_batch(kN64SubPageWrite, kWideLayout, 0, address, source, length, kN64AddressedChunk,
                    Payload::plain);
}

// The packet always carries a whole half page; a shorter source would have it read past the
// caller's data (and write whatever lay there), so such a write sends nothing.
bool paged_write(uint32_t address, const uint8_t* source, uint32_t length) {
  if (length < kN64PageHalf || source == nullptr) return false;
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubPageWrite);
  put_le16(packet + 4, static_cast<uint16_t>(address & kHalfBit));
  packet[kPageByte] = static_cast<uint8_t>((address >> kPageShift) & 3);
  std::memcpy(packet + 12, source, kN64PageHalf);
  return send_command(packet, kPacketSize) == kPacketSize;
}

bool has_prefix(const uint8_t* text, const char* prefix, size_t length) {
  return std::memcmp(text, prefix, length) == 0;
}

}  // namespace

void n64_reset_state() {
  g_n64_table = N64Table{};
  g_n64_read_chunk = kN64ReadChunk;
  g_n64_firmware = 0;
  g_n64_memory_selector = 0;
  std::fill(std::begin(g_variant_names), std::end(g_variant_names), nullptr);
}

void n64_identify() {
  uint8_t packet[kPacketSize] = {};
  start(packet, kN64SubIdentity);
  send_command(packet, kPacketSize);

  uint8_t sector[kStatusSectorSize] = {};
  read_reply(kStatusSectorOffset, sector, sizeof sector);

  uint32_t firmware = 0;
  bool ciphered = false;
  if (has_prefix(sector, kHwrkb, kHwrkbPrefix)) {
    // Compared unsigned, as the table's columns are: a negative number counts as new firmware.
    firmware =
        static_cast<uint32_t>(parse_decimal(sector + kHwrkbPrefix, sizeof sector - kHwrkbPrefix));
    ciphered = firmware < kN64PlainFirmware;
  } else if (has_prefix(sector, kQ3xx, kQ3xxPrefix)) {
    firmware = kN64PlainFirmware;
  }
  if (has_prefix(sector, kQ3v6, kQ3v6Prefix)) g_n64_read_chunk = kN64ReadChunkQ3V6;

  N64Table& t = g_n64_table;
  const char** names = g_variant_names;
  if (firmware < kN64WindowFirmware) {
    t.set_address = set_address_packet;
    names[0] = "address packet (2)";
  }
  t.read_word = word_read;
  names[1] = "word read (3)";
  const bool windowed = firmware >= kN64WindowFirmware;
  t.read_block = windowed ? windowed_block_read : packet_block_read;
  names[2] = windowed ? "windowed block read (DUMP.ROM)" : "packet block read (3)";
  t.write_word = word_write;
  names[3] = "word write (4)";
  t.write_block = block_write;
  names[4] = "block write (4)";
  t.write_block_sub5 = ciphered ? ciphered_write5 : plain_write5;
  names[5] = ciphered ? "ciphered (5)" : "plain (5)";
  t.write_block_sub7 = ciphered ? ciphered_write7 : plain_write7;
  names[6] = ciphered ? "ciphered (7)" : "plain (7)";
  const bool addressed = firmware >= kN64PlainFirmware;
  t.read_page = addressed ? addressed_read : paged_read;
  names[7] = addressed ? "addressed read (8)" : "paged read (8)";
  t.write_page = addressed ? addressed_write : paged_write;
  names[8] = addressed ? "addressed write (9)" : "paged write (9)";
  g_n64_firmware = firmware;

  // The ciphered writes never run with an unkeyed cipher.
  if (ciphered) cipher_set_device_key();
}

const char* n64_entry_name(uint32_t entry) { return entry < kN64Entries ? kEntryNames[entry] : ""; }

const char* n64_bound_variant(uint32_t entry) {
  if (entry >= kN64Entries || g_variant_names[entry] == nullptr) return "empty";
  return g_variant_names[entry];
}

void n64_set_address(uint32_t address) {
  if (g_n64_table.set_address) g_n64_table.set_address(address);
}

uint16_t n64_read_word(uint32_t address) {
  return g_n64_table.read_word ? g_n64_table.read_word(address) : kN64EmptyWord;
}

uint32_t n64_read_block(uint32_t address, uint8_t* destination, uint32_t length) {
  if (!g_n64_table.read_block || (destination == nullptr && length != 0)) return 0;
  return g_n64_table.read_block(address, destination, length);
}

void n64_write_word(uint32_t address, uint16_t value) {
  if (g_n64_table.write_word) g_n64_table.write_word(address, value);
}

bool n64_write_block(uint32_t address, const uint8_t* source, uint32_t length) {
  return g_n64_table.write_block && g_n64_table.write_block(address, source, length);
}

bool n64_write_block_sub5(uint32_t address, const uint8_t* source, uint32_t length) {
  return g_n64_table.write_block_sub5 && g_n64_table.write_block_sub5(address, source, length);
}

bool n64_write_block_sub7(uint32_t address, const uint8_t* source, uint32_t length) {
  return g_n64_table.write_block_sub7 && g_n64_table.write_block_sub7(address, source, length);
}

uint32_t n64_read_page(uint32_t address, uint8_t* destination, uint32_t length) {
  if (!g_n64_table.read_page || (destination == nullptr && length != 0)) return 0;
  return g_n64_table.read_page(address, destination, length);
}

bool n64_write_page(uint32_t address, const uint8_t* source, uint32_t length) {
  return g_n64_table.write_page && g_n64_table.write_page(address, source, length);
}

bool n64_erase_sector(uint32_t sector_address) {
  constexpr uint32_t kUnlock1 = kN64RomBase + 0xAAA;
  constexpr uint32_t kUnlock2 = kN64RomBase + 0x555;
  // Command bytes doubled into both halves of the word.
  n64_write_word(kUnlock1, 0xF0F0);
  n64_write_word(kUnlock1, 0xAAAA);
  n64_write_word(kUnlock2, 0x5555);
  n64_write_word(kUnlock1, 0x8080);
  n64_write_word(kUnlock1, 0xAAAA);
  n64_write_word(kUnlock2, 0x5555);
  n64_write_word(sector_address, 0x3030);

  // One read at once and one after each pause; the last read ends the wait unexamined.
  constexpr uint32_t kPolls = 51;
  constexpr uint32_t kPauseMs = 100;
  for (uint32_t poll = 0; poll < kPolls; ++poll) {
    if (n64_read_word(sector_address) == 0xFFFF) return true;
    plat_sleep_ms(kPauseMs);
  }
  n64_read_word(sector_address);
  return false;
}

void n64_erase_chip() {
  // Command bytes in the low half only; the reset goes to the ROM base.
  n64_write_word(kN64RomBase, 0x00F0);
  n64_write_word(kN64RomBase + 0xAAA, 0x00AA);
  n64_write_word(kN64RomBase + 0x555, 0x0055);
  n64_write_word(kN64RomBase + 0xAAA, 0x0080);
  n64_write_word(kN64RomBase + 0xAAA, 0x00AA);
  n64_write_word(kN64RomBase + 0x555, 0x0055);
  n64_write_word(kN64RomBase + 0xAAA, 0x0010);
}
