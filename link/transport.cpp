#include "link/transport.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <new>
#include <cstdio>
#include <cstring>

#include "link/link_state.h"
#include "platform/files.h"

namespace {

// Largest single unbuffered read of a span that is not whole sectors.
constexpr uint64_t kCoverPieceMax = 0x400000;

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

// Reads the whole sectors that cover [offset, offset + count) and hands out the bytes asked for:
// unbuffered reads take whole sectors only, and the families read at any address and length.
uint32_t read_covering_sectors(const char* name, int32_t offset, uint8_t* buffer, uint32_t count) {
  const uint64_t first = static_cast<uint64_t>(offset) / kSectorSize * kSectorSize;
  const uint64_t end =
      (static_cast<uint64_t>(offset) + count + kSectorSize - 1) / kSectorSize * kSectorSize;
  if (end - 1 > static_cast<uint64_t>(INT32_MAX)) return 0;
  const uint64_t piece_max = std::min<uint64_t>(end - first, kCoverPieceMax);
  std::unique_ptr<uint8_t[]> bounce(new (std::nothrow) uint8_t[piece_max]);
  if (!bounce) return 0;
  uint32_t delivered = 0;
  for (uint64_t at = first; at < end; at += piece_max) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(piece_max, end - at));
    const uint32_t got =
        read_file_unbuffered(name, bounce.get(), piece, static_cast<int32_t>(at));
    // The bytes of this piece that were asked for, as far as the file delivered them.
    const uint64_t want_first = std::max<uint64_t>(at, static_cast<uint64_t>(offset));
    const uint64_t want_end = std::min<uint64_t>(at + got, static_cast<uint64_t>(offset) + count);
    if (want_end > want_first) {
      std::memcpy(buffer + (want_first - static_cast<uint64_t>(offset)),
                  bounce.get() + (want_first - at), want_end - want_first);
      delivered += static_cast<uint32_t>(want_end - want_first);
    }
    if (got < piece) break;  // the file ended (or could not be read) here
  }
  return delivered;
}

uint32_t read_device_file_once(const char* pattern, int32_t offset, uint8_t* buffer,
                               uint32_t count) {
  char name[kRootPathSize];
  if (!buffer || offset < 0 || !device_file(name, pattern)) return 0;
  const bool whole_sectors = offset % kSectorSize == 0 && count % kSectorSize == 0;
  if (count >= kReplyBlock && whole_sectors) {
    return read_file_unbuffered(name, buffer, count, offset);
  }
  if (count >= kReplyBlock || offset % kSectorSize != 0) {
    return read_covering_sectors(name, offset, buffer, count);
  }
  // Short answers come as one whole block: unbuffered reads take whole sectors only.
  uint8_t bounce[kReplyBlock] = {};
  uint32_t got = read_file_unbuffered(name, bounce, kReplyBlock, offset);
  std::memcpy(buffer, bounce, count);
  if (got < count) g_link.io_failed = true;  // the answer itself did not arrive whole
  return got > 0 ? count : 0;
}

uint32_t read_device_file(const char* pattern, int32_t offset, uint8_t* buffer, uint32_t count) {
  const uint32_t got = read_device_file_once(pattern, offset, buffer, count);
  if (got < count) g_link.io_failed = true;
  return got;
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
  if (length % kPacketSize != 0) return 0;
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
  if (!named) {
    g_link.io_failed = true;
    return 0;
  }
  // Written directly, not through a temporary name: the device acts on the file it is given.
  const uint32_t written = plat_write_file(name, buffer, length);
  if (written != length) g_link.io_failed = true;
  return written;
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
