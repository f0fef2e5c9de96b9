#include "link/transport.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>

#include "link/link_state.h"
#include "platform/files.h"

namespace {

// Largest single unbuffered read of the whole sectors within a span that is not whole sectors.
constexpr uint64_t kCoverPieceMax = 0x400000;
// Spans up to this size (a family's 64 KiB block and its partial sectors) are read in one piece
// through a bounce on the stack: one open of the file is worth more than one copy.
constexpr uint64_t kCoverBounceMax = 0x10000 + 2 * kSectorSize;

// Eight tables: table k gives the CRC of one byte followed by k zero bytes, so that eight bytes
// are folded in at a time with independent look-ups (the host's share of a block write).
constexpr std::array<std::array<uint16_t, 256>, 8> make_crc_tables() {
  std::array<std::array<uint16_t, 256>, 8> tables{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint16_t crc = static_cast<uint16_t>(b << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    tables[0][b] = crc;
  }
  for (size_t k = 1; k < tables.size(); ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      const uint16_t previous = tables[k - 1][b];
      tables[k][b] = static_cast<uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
    }
  }
  return tables;
}

constexpr std::array<std::array<uint16_t, 256>, 8> kCrcTables = make_crc_tables();

// Forms a device file name under the root; false when it does not fit.
bool device_file(char (&name)[kRootPathSize], const char* pattern, int number = 0) {
  int n = std::snprintf(name, sizeof name, pattern, g_link.root_path, number);
  return n > 0 && static_cast<size_t>(n) < sizeof name;
}

// Reads the sectors that cover [offset, offset + count) into `bounce` (of `piece_max` bytes)
// piece by piece, handing out the bytes asked for; returns those delivered.
uint32_t read_through_bounce(const char* name, uint64_t offset, uint8_t* buffer, uint32_t count,
                             uint64_t first, uint64_t end, uint8_t* bounce, uint64_t piece_max) {
  uint32_t delivered = 0;
  for (uint64_t at = first; at < end; at += piece_max) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(piece_max, end - at));
    const uint32_t got = read_file_unbuffered(name, bounce, piece, static_cast<int32_t>(at));
    // The bytes of this piece that were asked for, as far as the file delivered them.
    const uint64_t want_first = std::max<uint64_t>(at, offset);
    const uint64_t want_end = std::min<uint64_t>(at + got, offset + count);
    if (want_end > want_first) {
      std::memcpy(buffer + (want_first - offset), bounce + (want_first - at),
                  want_end - want_first);
      delivered += static_cast<uint32_t>(want_end - want_first);
    }
    if (got < piece) break;  // the file ended (or could not be read) here
  }
  return delivered;
}

// Reads the whole sectors that cover [offset, offset + count) and hands out the bytes asked for:
// unbuffered reads take whole sectors only, and the families read at any address and length.
// A long span is read as its partial first sector, the whole sectors between, straight into
// the caller's buffer, and its partial last sector: no copy of the bulk through a bounce.
uint32_t read_covering_sectors(const char* name, int32_t offset, uint8_t* buffer, uint32_t count) {
  const auto from = static_cast<uint64_t>(offset);
  const uint64_t first = from / kSectorSize * kSectorSize;
  const uint64_t end = (from + count + kSectorSize - 1) / kSectorSize * kSectorSize;
  if (end - 1 > static_cast<uint64_t>(INT32_MAX)) return 0;
  if (end - first <= kCoverBounceMax) {
    uint8_t bounce[kCoverBounceMax];
    return read_through_bounce(name, from, buffer, count, first, end, bounce, kCoverBounceMax);
  }
  uint8_t sector[kSectorSize];
  const uint64_t inner_first = (from + kSectorSize - 1) / kSectorSize * kSectorSize;
  const uint64_t inner_end = (from + count) / kSectorSize * kSectorSize;
  uint32_t delivered = 0;
  if (inner_first > from) {
    const auto head = static_cast<uint32_t>(inner_first - from);
    delivered = read_through_bounce(name, from, buffer, head, first, inner_first, sector,
                                    kSectorSize);
    if (delivered < head) return delivered;
  }
  for (uint64_t at = inner_first; at < inner_end;) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(kCoverPieceMax, inner_end - at));
    const uint32_t got =
        read_file_unbuffered(name, buffer + (at - from), piece, static_cast<int32_t>(at));
    delivered += got;
    if (got < piece) return delivered;
    at += piece;
  }
  if (inner_end < from + count) {
    delivered += read_through_bounce(name, inner_end, buffer + (inner_end - from),
                                     static_cast<uint32_t>(from + count - inner_end), inner_end,
                                     end, sector, kSectorSize);
  }
  return delivered;
}

uint32_t read_device_file_once(const char* pattern, int32_t offset, uint8_t* buffer,
                               uint32_t count) {
  char name[kRootPathSize];
  if (!buffer || offset < 0 || g_link.drive_refused || !device_file(name, pattern)) return 0;
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
  const uint32_t end = length > 2 ? length - 2 : 0;
  uint32_t i = 0;
  uint16_t crc = 0;
  const auto& t = kCrcTables;
  for (; i + 8 <= end; i += 8) {
    const uint8_t* b = sector + i;
    crc = static_cast<uint16_t>(
        t[7][(b[0] ^ (crc >> 8)) & 0xFF] ^ t[6][(b[1] ^ crc) & 0xFF] ^ t[5][b[2]] ^ t[4][b[3]] ^
        t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
  }
  for (; i < end; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ sector[i]) & 0xFF]);
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

uint32_t read_dump_at(uint32_t address, uint8_t* buffer, uint32_t count) {
  if (count == 0) return 0;
  if (address > static_cast<uint32_t>(INT32_MAX)) {
    g_link.io_failed = true;
    return 0;
  }
  return read_dump(static_cast<int32_t>(address), buffer, count);
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
