// The N64 slot in cartlink-run: the cartridge bus from 0x05000000 (read through the operation
// table; the ROM window programmed, verified and erased, plain word writes elsewhere), the
// probed save memory, and two jobs that show what the identity bound and what the probe found.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "families/n64.h"
#include "platform/print.h"
#include "platform/sleep.h"
#include "runner/runner.h"

namespace runner_n64 {

namespace {
// A chip erase runs for up to minutes on a large chip: poll its first word for up to 5 minutes.
constexpr uint32_t kChipErasePolls = 3000;
constexpr uint32_t kPollMs = 100;
// Save-memory writes move whole units of this many bytes.
constexpr uint32_t kSaveUnit = 128;
constexpr uint32_t kSavePieceMax = kN64MemoryLengthMask;  // 65408, a whole number of units

bool same(const uint8_t* a, const std::vector<uint8_t>& b) {
  return std::equal(b.begin(), b.end(), a);
}
}  // namespace

bool start() {
  n64_identify();
  return true;
}

bool read(uint64_t address, uint8_t* out, uint32_t length) {
  return n64_read_block(static_cast<uint32_t>(address), out, length) == length;
}

namespace {
bool in_window(uint64_t address) { return address >= kN64RomBase && address < kN64RomEnd; }

// What was written must read back: flash takes only what an erase made room for, and memory
// outside the window may be missing or read-only.
bool reads_back(uint32_t at, const uint8_t* data, uint32_t length) {
  std::vector<uint8_t> back(length);
  if (n64_read_block(at, back.data(), length) != length) return false;
  const auto diff = std::mismatch(back.begin(), back.end(), data);
  if (diff.first == back.end()) return true;
  const auto bad = static_cast<uint32_t>(diff.first - back.begin());
  runner_error("the N64 %s at 0x%X reads back 0x%.2X, not 0x%.2X%s",
               in_window(at) ? "flash" : "bus", at + bad, back[bad], data[bad],
               in_window(at) ? " (not erased?)" : "");
  return false;
}
}  // namespace

// Inside the ROM window the device's program command (sub-command 5, ciphered where the
// firmware wants it) programs the flash; elsewhere (SRAM and flash saves from 0x08000000, the
// disk drive's registers) the words go as plain bus writes (sub-command 4). Either is read
// back. A write across the window's edge goes as one piece on each side.
bool write(uint64_t address, const uint8_t* data, uint32_t length) {
  // The bus writes whole words: data for an odd address would land one byte off.
  if (address & 1) {
    runner_error("N64 writes start at an even address; nothing was written");
    return false;
  }
  for (uint32_t done = 0; done < length;) {
    const uint64_t at = address + done;
    const uint64_t edge = at < kN64RomBase ? kN64RomBase : in_window(at) ? kN64RomEnd : UINT64_MAX;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(length - done, edge - at));
    const auto bus = static_cast<uint32_t>(at);
    const bool sent = in_window(at) ? n64_write_block_sub5(bus, data + done, n)
                                    : n64_write_block(bus, data + done, n);
    if (!sent || !reads_back(bus, data + done, n)) return false;
    done += n;
  }
  return true;
}

int erase(bool whole_chip, uint64_t sector) {
  if (!whole_chip && !in_window(sector)) {
    runner_error("0x%llX is outside the ROM window 0x%X-0x%X, where the flash sits; nothing was "
                 "erased", static_cast<unsigned long long>(sector), kN64RomBase, kN64RomEnd - 1);
    return kExitUsage;
  }
  if (!whole_chip) return n64_erase_sector(static_cast<uint32_t>(sector)) ? kExitDone : kExitFailed;
  n64_erase_chip();
  for (uint32_t poll = 0; poll < kChipErasePolls; ++poll) {
    if (n64_read_word(kN64RomBase) == 0xFFFF) return kExitDone;
    plat_sleep_ms(kPollMs);
  }
  return kExitFailed;
}

bool save_start() {
  n64_probe_memory(nullptr);
  return true;
}

bool save_read(uint64_t address, uint8_t* out, uint32_t length) {
  return n64_read_memory(static_cast<uint32_t>(address), out, length) == length;
}

// The family writes whole 128-byte units and at most 65408 bytes a call: other lengths are
// refused here before anything is sent, longer ones go in several calls, and the memory is
// read back.
bool save_write(uint64_t address, const uint8_t* data, uint32_t length) {
  if (length < kSaveUnit || length % kSaveUnit != 0) {
    runner_error(
        "the N64 save memory is written in whole units of %u bytes; %u bytes is not "
        "one, so nothing was written",
        kSaveUnit, length);
    return false;
  }
  const auto first = static_cast<uint32_t>(address);
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(kSavePieceMax, length - done);
    if (n64_write_memory(first + done, data + done, piece) != piece) return false;
    done += piece;
  }
  std::vector<uint8_t> back(length);
  if (n64_read_memory(first, back.data(), length) != length || !same(data, back)) {
    runner_error("the N64 save memory at 0x%X does not read back what was written", first);
    return false;
  }
  return true;
}

int identify_job(const std::vector<std::string>&) {
  n64_identify();
  print_message("N64 table bound for firmware %u, read chunk %u\n", g_n64_firmware,
                static_cast<unsigned>(g_n64_read_chunk));
  for (uint32_t entry = 0; entry < kN64Entries; ++entry) {
    print_message("%-21s %s\n", n64_entry_name(entry), n64_bound_variant(entry));
  }
  return kExitDone;
}

int probe_job(const std::vector<std::string>&) {
  uint8_t id[kN64MemoryIdSize] = {};
  const uint8_t selector = n64_probe_memory(id);
  print_message("Selector: %.2X\nIdentification: ", selector);
  for (uint8_t b : id) print_message("%.2X ", b);
  print_message("\nStatus: %u\n", static_cast<unsigned>(n64_memory_status()));
  return kExitDone;
}

}  // namespace runner_n64
