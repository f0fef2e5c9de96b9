// The N64 flash save's own command protocol: a 32-bit command is two word writes to the
// command register (high word first); erase and program are armed, then executed, and the chip
// shows its status register until it is told to read its array again. Each erase and each page
// program goes as one command file and is followed by status polls with a bound.
#include <algorithm>
#include <cstdio>

#include "cartridge/save_n64.h"
#include "cartridge/save_n64_bus.h"
#include "families/n64.h"
#include "platform/sleep.h"

namespace {

constexpr uint32_t kFlashSize = 0x20000;
constexpr uint32_t kSector = 0x4000;
constexpr uint32_t kPage = 128;
constexpr uint32_t kPagesPerSector = kSector / kPage;

constexpr uint32_t kReadArray = 0xF0000000;
constexpr uint32_t kWriteBuffer = 0xB4000000;
constexpr uint32_t kEraseSector = 0x4B000000;  // | a page of the sector
constexpr uint32_t kProgramPage = 0xA5000000;  // | the page
constexpr uint32_t kExecute = 0xD2000000;

// Status polls (each a command file and a reply read, a pause of 1 ms after each busy one)
// before an erase or a program is given up: seconds for an erase, far more than a page takes.
constexpr uint32_t kErasePolls = 3000;
constexpr uint32_t kProgramPolls = 300;
constexpr uint32_t kPollPauseMs = 1;
constexpr uint32_t kStatusBytes = 8;
constexpr uint8_t kReadyBit = 0x01;

void put_be32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Polls the status register until the chip is ready.
bool wait_ready(uint32_t polls, const std::string& what, std::string& error) {
  uint8_t status[kStatusBytes];
  for (uint32_t poll = 0; poll < polls; ++poll) {
    if (!n64_bus_read(kN64SaveBus, status, kStatusBytes)) {
      error = "a status read was lost after " + what;
      return false;
    }
    if (status[0] != 0x11 || status[1] != 0x11 || status[2] != 0x80) {
      char text[64];
      std::snprintf(text, sizeof text, "%02X %02X %02X %02X", status[0], status[1], status[2],
                    status[3]);
      error = "the flash save did not show its status register after " + what + " (read " +
              text + ")";
      return false;
    }
    if (status[3] & kReadyBit) return true;
    plat_sleep_ms(kPollPauseMs);
  }
  error = "the flash save stayed busy after " + what + " (" + std::to_string(polls) + " polls)";
  return false;
}

bool erase_sector(uint32_t sector, std::string& error) {
  uint8_t arm[4], execute[4];
  put_be32(arm, kEraseSector | sector * kPagesPerSector);
  put_be32(execute, kExecute);
  const N64BusRun runs[2] = {{kN64FlashCommand, arm, 4}, {kN64FlashCommand, execute, 4}};
  const std::string what = "erasing the sector at " + hex(kN64SaveBus + sector * kSector);
  if (!n64_bus_lossless([&] { return n64_write_runs(runs, 2); })) {
    error = "the command file " + what + " was lost";
    return false;
  }
  return wait_ready(kErasePolls, what, error);
}

// The page buffer takes the bytes at A0-A6 from the domain's start; then the page is armed and
// executed, all in one command file.
bool program_page(uint32_t page, const uint8_t* data, std::string& error) {
  uint8_t buffer[4], arm[4], execute[4];
  put_be32(buffer, kWriteBuffer);
  put_be32(arm, kProgramPage | page);
  put_be32(execute, kExecute);
  const N64BusRun runs[4] = {{kN64FlashCommand, buffer, 4},
                             {kN64SaveBus, data, kPage},
                             {kN64FlashCommand, arm, 4},
                             {kN64FlashCommand, execute, 4}};
  const std::string what = "programming the page at " + hex(kN64SaveBus + page * kPage);
  if (!n64_bus_lossless([&] { return n64_write_runs(runs, 4); })) {
    error = "the command file " + what + " was lost";
    return false;
  }
  return wait_ready(kProgramPolls, what, error);
}

bool write_sectors(const uint8_t* data, const uint8_t* old, std::string& error,
                   const std::function<void(uint64_t)>& progress) {
  for (uint32_t sector = 0; sector < kFlashSize / kSector; ++sector) {
    const uint32_t first = sector * kSector;
    // A sector that keeps its contents is left alone: no erase, no wear.
    if (!std::equal(data + first, data + first + kSector, old + first)) {
      if (!erase_sector(sector, error)) return false;
      for (uint32_t page = 0; page < kPagesPerSector; ++page) {
        const uint8_t* bytes = data + first + page * kPage;
        if (std::all_of(bytes, bytes + kPage, [](uint8_t b) { return b == 0xFF; })) continue;
        if (!program_page(sector * kPagesPerSector + page, bytes, error)) return false;
      }
    }
    if (progress) progress(first + kSector);
  }
  return true;
}

}  // namespace

bool n64_flash_command(uint32_t command) {
  uint8_t bytes[4];
  put_be32(bytes, command);
  const N64BusRun run{kN64FlashCommand, bytes, 4};
  return n64_bus_lossless([&] { return n64_write_runs(&run, 1); });
}

bool n64_flash_write(const uint8_t* data, const uint8_t* old, std::string& error,
                     const std::function<void(uint64_t)>& progress) {
  const bool written = write_sectors(data, old, error, progress);
  // Back to reading the array, also after a failure, so that the read-back shows the cells.
  if (!n64_flash_command(kReadArray) && written) {
    error = "the read-array command after writing was lost";
    return false;
  }
  return written;
}
