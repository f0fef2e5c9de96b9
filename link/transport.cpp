#include "link/transport.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "link/link_state.h"
#include "platform/files.h"

namespace {

constexpr std::array<uint16_t, 256> make_crc_table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint16_t crc = static_cast<uint16_t>(b << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    table[b] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = make_crc_table();

// Forms a device file name under the root; false when it does not fit.
bool device_file(char (&name)[kRootPathSize], const char* pattern, int number = 0) {
  int n = std::snprintf(name, sizeof name, pattern, g_link.root_path, number);
  return n > 0 && static_cast<size_t>(n) < sizeof name;
}

uint32_t read_device_file(const char* pattern, int32_t offset, uint8_t* buffer, uint32_t count) {
  char name[kRootPathSize];
  if (!buffer || g_link.drive_refused || !device_file(name, pattern)) return 0;
  if (count >= kReplyBlock) return read_file_unbuffered(name, buffer, count, offset);
  // Short answers come as one whole block: unbuffered reads take whole sectors only.
  uint8_t bounce[kReplyBlock] = {};
  uint32_t got = read_file_unbuffered(name, bounce, kReplyBlock, offset);
  std::memcpy(buffer, bounce, count);
  return got > 0 ? count : 0;
}

}  // namespace

uint16_t packet_crc16(const uint8_t* sector, uint32_t length) {
  uint16_t crc = 0;
  for (uint32_t i = 0; i + 2 < length; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ sector[i]) & 0xFF]);
  }
  return crc;
}

uint32_t send_command(uint8_t* buffer, uint32_t length) {
  // A partial packet would reach the device without its frame; refuse the whole command.
  // Without a device drive there is no place the command could go.
  if (length % kPacketSize != 0 || g_link.drive_refused) return 0;
  for (uint32_t s = 0; s < length; s += kPacketSize) {
    uint8_t* packet = buffer + s;
    packet[0] = kPacketMarker;
    uint16_t crc = packet_crc16(packet, kPacketSize);
    packet[510] = static_cast<uint8_t>(crc >> 8);
    packet[511] = static_cast<uint8_t>(crc & 0xFF);
  }
  char name[kRootPathSize];
  bool named = device_file(name, "%sCMD%d.CMD", g_link.command_counter);
  g_link.command_counter = static_cast<uint8_t>((g_link.command_counter + 1) % 4);
  if (!named) return 0;
  // Written directly, not through a temporary name: the device acts on the file it is given.
  return plat_write_file(name, buffer, length);
}

uint32_t read_reply(int32_t offset, uint8_t* buffer, uint32_t count) {
  return read_device_file("%sT-DRIVER.DMP", offset, buffer, count);
}

uint32_t read_dump(int32_t offset, uint8_t* buffer, uint32_t count) {
  return read_device_file("%sDUMP.ROM", offset, buffer, count);
}

uint32_t save_file(const char* name, const uint8_t* data, uint32_t count) {
  char temporary[kRootPathSize + 8];
  int n = std::snprintf(temporary, sizeof temporary, "%s.tmp", name);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof temporary) return 0;
  uint32_t written = plat_write_file(temporary, data, count);
  if (written != count || !plat_replace_file(temporary, name)) {
    plat_remove_file(temporary);
    return 0;
  }
  return written;
}

uint32_t read_file_unbuffered(const char* name, uint8_t* buffer, uint32_t count, int32_t offset) {
  if (!buffer) return 0;
  return plat_read_at(name, buffer, count, offset, true);
}

uint32_t read_file_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset) {
  if (!buffer) return 0;
  return plat_read_at(name, buffer, count, offset, false);
}

uint32_t write_file_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  return plat_write_at(name, data, count, offset);
}

uint32_t file_size(const char* name) { return plat_file_size(name); }
