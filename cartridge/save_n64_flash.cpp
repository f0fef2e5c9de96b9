// The N64 flash save's own command protocol, in the order games use it: a 32-bit command is
// two word writes to the command register (high word first). An erase is set up for a sector
// (0x4B | page) and started (0x78); a program loads the page buffer (0xB4, then the 128 bytes)
// and starts with the page (0xA5 | page). From its start the chip shows its status register:
// a busy bit while the work runs (0x02 erase, 0x01 program), then a done bit (0x08, 0x04).
// Each erase and each page program goes as one command file, which first clears the status
// left by the one before (0xD2, then a write to the array), and is followed by status polls
// with a bound.
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
constexpr uint32_t kStatusMode = 0xD2000000;
constexpr uint32_t kWriteBuffer = 0xB4000000;
constexpr uint32_t kEraseSector = 0x4B000000;  // | a page of the sector
constexpr uint32_t kStartErase = 0x78000000;
constexpr uint32_t kProgramPage = 0xA5000000;  // | the page

// Status polls (each a command file and a reply read, a pause of 1 ms after each busy one)
// before an erase or a program is given up: seconds for an erase, far more than a page takes.
constexpr uint32_t kErasePolls = 3000;
constexpr uint32_t kProgramPolls = 300;
constexpr uint32_t kPollPauseMs = 1;
constexpr uint32_t kStatusBytes = 8;

// What the status register shows while an operation runs, and once it has succeeded.
struct StatusBits {
  uint8_t busy;
  uint8_t done;
};
constexpr StatusBits kErase{0x02, 0x08};
constexpr StatusBits kProgram{0x01, 0x04};

// Status mode, then a write to the array: clears what the last operation left in the status.
constexpr uint8_t kClearWord[4] = {0, 0, 0, 0};

void put_be32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Polls the status register until the operation's busy bit clears; true when its done bit
// then says it succeeded.
bool wait_done(StatusBits bits, uint32_t polls, const std::string& what, std::string& error) {
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
    if (status[3] & bits.busy) {
      plat_sleep_ms(kPollPauseMs);
      continue;
    }
    if (status[3] & bits.done) return true;
    char text[8];
    std::snprintf(text, sizeof text, "%02X", status[3]);
    error = "the flash save reported a failure after " + what + " (status " + text + ")";
    return false;
  }
  error = "the flash save stayed busy after " + what + " (" + std::to_string(polls) + " polls)";
  return false;
}

bool erase_sector(uint32_t sector, std::string& error) {
  uint8_t status[4], set_up[4], start[4];
  put_be32(status, kStatusMode);
  put_be32(set_up, kEraseSector | sector * kPagesPerSector);
  put_be32(start, kStartErase);
  const N64BusRun runs[4] = {{kN64FlashCommand, status, 4},
                             {kN64SaveBus, kClearWord, 4},
                             {kN64FlashCommand, set_up, 4},
                             {kN64FlashCommand, start, 4}};
  const std::string what = "erasing the sector at " + hex(kN64SaveBus + sector * kSector);
  if (!n64_bus_lossless([&] { return n64_write_runs(runs, 4); })) {
    error = "the command file " + what + " was lost";
    return false;
  }
  return wait_done(kErase, kErasePolls, what, error);
}

// The page buffer takes the bytes at A0-A6 from the domain's start; the page number starts the
// program, all in one command file.
bool program_page(uint32_t page, const uint8_t* data, std::string& error) {
  uint8_t status[4], buffer[4], start[4];
  put_be32(status, kStatusMode);
  put_be32(buffer, kWriteBuffer);
  put_be32(start, kProgramPage | page);
  const N64BusRun runs[5] = {{kN64FlashCommand, status, 4},
                             {kN64SaveBus, kClearWord, 4},
                             {kN64FlashCommand, buffer, 4},
                             {kN64SaveBus, data, kPage},
                             {kN64FlashCommand, start, 4}};
  const std::string what = "programming the page at " + hex(kN64SaveBus + page * kPage);
  if (!n64_bus_lossless([&] { return n64_write_runs(runs, 5); })) {
    error = "the command file " + what + " was lost";
    return false;
  }
  return wait_done(kProgram, kProgramPolls, what, error);
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
