#include "nes/ginga_dump.h"

#include <array>
#include <cstring>

#include "link/transport.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"
#include "platform/print.h"

namespace {

constexpr uint32_t kReadBuffer = 0x40010;  // image buffer offset of each bank's read
constexpr uint32_t kHeaderSize = 16;
constexpr uint16_t kSwitchedWindow = 0x8000;
constexpr uint16_t kFixedWindow = 0xC000;
constexpr uint16_t kBankSwitch = 0xFFF0;
constexpr uint32_t kFixedBank = 7;
constexpr const char* kFileName = "Ginga.nes";

// NES, 0x1A; eight 16 KiB PRG banks, no CHR; mapper 2 (low nibble), vertical mirroring.
constexpr uint8_t kHeader[kHeaderSize] = {0x4E, 0x45, 0x53, 0x1A, 0x08, 0x00, 0x21};

constexpr std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kTable = make_table();

uint8_t* bank_place(uint32_t bank) { return g_image_buffer + kHeaderSize + bank * kGingaBankSize; }

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, uint32_t length) {
  crc = ~crc;
  for (uint32_t i = 0; i < length; ++i) crc = (crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF];
  return ~crc;
}

uint32_t crc32_block(const uint8_t* data, uint32_t length) { return crc32_update(0, data, length); }

GingaResult ginga_dump() {
  uint8_t* read_buffer = g_image_buffer + kReadBuffer;
  std::memcpy(g_image_buffer, kHeader, kHeaderSize);
  nes_cpu_read_block(kFixedWindow, read_buffer, kGingaBankSize);
  if (crc32_block(read_buffer, kGingaBankSize) != kGingaBankCrc[kFixedBank]) {
    print_message("Not Ginga no Sannin cartridge\n");
    return GingaResult::wrong_cartridge;
  }
  std::memcpy(bank_place(kFixedBank), read_buffer, kGingaBankSize);

  // A bank that reads wrong is switched in and read again, for as long as it takes: each try
  // is reported, and the user can end the program.
  for (uint32_t i = 0; i < kFixedBank;) {
    nes_cpu_write_byte(static_cast<uint16_t>(kBankSwitch + i), static_cast<uint8_t>(0xF0 + i));
    nes_cpu_read_block(kSwitchedWindow, read_buffer, kGingaBankSize);
    const uint32_t crc = crc32_block(read_buffer, kGingaBankSize);
    if (crc == kGingaBankCrc[i]) {
      std::memcpy(bank_place(i), read_buffer, kGingaBankSize);
      ++i;
      print_message("Dump bank %d %.8X.\n", static_cast<int>(i), crc);
    } else {
      print_message("Error crc, try again\n");
    }
  }

  if (save_file(kFileName, g_image_buffer, kGingaFileSize) != kGingaFileSize) {
    print_message("Could not save %s (is the working folder writable and not full?)\n", kFileName);
    return GingaResult::save_failed;
  }
  print_message("Save dumped rom file to %s\n", kFileName);
  return GingaResult::saved;
}
