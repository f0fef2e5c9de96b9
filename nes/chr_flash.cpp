#include "nes/chr_flash.h"

#include <cstring>
#include <vector>

#include "link/link_state.h"
#include "nes/flash_job_parts.h"
#include "nes/nes_family.h"
#include "platform/print.h"

namespace {

constexpr uint16_t kUnlock1 = 0x0AAA;
constexpr uint16_t kUnlock2 = 0x0555;
constexpr uint16_t kChipStart = 0x0000;
constexpr uint16_t kIdReadLength = 1024;
constexpr uint32_t kLocalSize = 0x2000;

struct EraseUnit {
  std::vector<RegWrite> bank_writes;
  bool chip;            // chip erase; otherwise the sector at PPU $0000 of the selected bank
  const char* message;  // printed once the unit reads erased
};

// One member of the family: everything the skeleton below needs to know about a board.
struct ChrFlashJob {
  std::vector<RegWrite> setup;
  std::vector<EraseUnit> erase;
  const char* after_erase;  // printed once more after the last unit; null: nothing
  PollProgress progress;
  uint32_t pause_ms;
  uint32_t bank_size;
  uint32_t fixed_banks;  // 0: as many whole banks as the image holds
  // Writes the bank registers for bank i and returns the PPU window it appears at.
  uint16_t (*select)(uint32_t bank);
};

void pair(uint8_t index, uint32_t value) {
  flash_register_write(0x8000, index);
  flash_register_write(0x8001, value);
}

// The eight 1 KiB registers of the $9000 and $5120 boards, loaded for 8 KiB bank i.
void eight_registers(uint16_t first, uint32_t bank) {
  for (uint32_t j = 0; j < 8; ++j) flash_register_write(first + j, bank * 8 + j);
}

std::vector<RegWrite> counting(uint16_t first) {
  std::vector<RegWrite> writes;
  for (uint8_t j = 0; j < 8; ++j) writes.push_back({static_cast<uint16_t>(first + j), j});
  return writes;
}

std::vector<RegWrite> with(std::vector<RegWrite> writes, RegWrite last) {
  writes.push_back(last);
  return writes;
}

// The members, one row each, fields in the order of ChrFlashJob.
// clang-format off
const std::vector<RegWrite> k4kSetup{{0x8000, 2}, {0x8001, 0}, {0x8000, 3}, {0x8001, 1},
                                     {0x8000, 4}, {0x8001, 2}, {0x8000, 5}, {0x8001, 3}};

// The boot-sector chip has small sectors at its bottom; the register counts 8 KiB banks, so
// the units start at 192, 128, 64, 32, 24, 16 and 0 KiB.
const ChrFlashJob kBootSectors{
    {{0x8001, 0}},
    {{{{0x8001, 24}}, false, "\nErase bank6.\n"},
     {{{0x8001, 16}}, false, "\nErase bank5.\n"},
     {{{0x8001, 8}}, false, "\nErase bank4.\n"},
     {{{0x8001, 4}}, false, "\nErase bank3.\n"},
     {{{0x8001, 3}}, false, "\nErase bank2.\n"},
     {{{0x8001, 2}}, false, "\nErase bank1.\n"},
     {{{0x8001, 0}}, false, "\nErase bank0.\n"}},
    nullptr, PollProgress::dot, 0, 0x2000, 32,
    [](uint32_t bank) -> uint16_t {
      flash_register_write(0x8001, bank);
      return 0x0000;
    }};

const ChrFlashJob k9000{
    with(counting(0x9000), {0xA000, 0}), {{counting(0x9000), true, "\nErase.\n"}}, nullptr,
    PollProgress::first_two_bytes, 100, 0x2000, 0,
    [](uint32_t bank) -> uint16_t {
      // From bank 32 on the products pass 255: the high registers take the extra bit.
      if (bank == 32) {
        for (uint16_t l = 0; l < 8; ++l) flash_register_write(0xA000 + l, 1);
      }
      eight_registers(0x9000, bank);
      return 0x0000;
    }};

const ChrFlashJob k4100{
    {{0x4100, 1}, {0x8000, 0}, {0x8001, 0}, {0x8000, 1}, {0x8001, 2}},
    {{counting(0x9000), true, "\nErase.\n"}}, nullptr, PollProgress::first_two_bytes, 100,
    0x2000, 0,
    [](uint32_t bank) -> uint16_t {
      if (bank == 32) flash_register_write(0x4100, 5);
      static constexpr uint8_t kOffsets[6] = {0, 2, 4, 5, 6, 7};
      for (uint8_t r = 0; r < 6; ++r) pair(r, bank * 8 + kOffsets[r]);
      return 0x0000;
    }};

const ChrFlashJob k4kUpper{
    k4kSetup, {{{}, true, "\nErase.\n"}}, nullptr, PollProgress::first_two_bytes, 100, 0x1000, 0,
    [](uint32_t bank) -> uint16_t {
      if (bank < 64) {
        for (uint8_t r = 0; r < 4; ++r) pair(2 + r, bank * 4 + r);
        return 0x0000;
      }
      pair(0, bank * 4);
      pair(1, bank * 4 + 2);
      return 0x1000;
    }};

const ChrFlashJob k4kInverted{
    k4kSetup, {{{}, true, "\nErase.\n"}}, nullptr, PollProgress::first_two_bytes, 100, 0x1000, 0,
    [](uint32_t bank) -> uint16_t {
      const bool upper = bank >= 64;
      pair(upper ? 0x80 : 0, bank * 4);
      pair(upper ? 0x81 : 1, bank * 4 + 2);
      return upper ? 0x1000 : 0x0000;
    }};

const ChrFlashJob k5120{
    counting(0x5120), {{{}, true, "\nErase.\n"}}, "\nErase.\n", PollProgress::first_two_bytes,
    100, 0x2000, 0,
    [](uint32_t bank) -> uint16_t {
      if (bank % 32 == 0) flash_register_write(0x5130, bank / 32);
      eight_registers(0x5120, bank);
      return 0x0000;
    }};

// clang-format on

void flash_command(uint16_t address, uint8_t value) { nes_ppu_write_byte(address, value); }

bool erase_unit(const ChrFlashJob& job, const EraseUnit& unit, uint8_t* local) {
  for (const RegWrite& w : unit.bank_writes) flash_register_write(w.address, w.value);
  flash_command(kUnlock1, 0xAA);
  flash_command(kUnlock2, 0x55);
  flash_command(kUnlock1, 0x80);
  flash_command(kUnlock1, 0xAA);
  flash_command(kUnlock2, 0x55);
  if (unit.chip) {
    flash_command(kUnlock1, 0x10);
  } else {
    flash_command(kChipStart, 0x30);
  }
  // No time-out: a chip that takes long shows it through the progress output.
  for (;;) {
    nes_ppu_read_block(kChipStart, local, kIdReadLength);
    if (g_link.io_failed || local[0] == 0xFF) break;
    flash_poll_wait(job.progress, local, job.pause_ms);
  }
  if (g_link.io_failed) return false;
  print_message("%s", unit.message);
  return true;
}

bool run_chr_flash(const ChrFlashJob& job, const uint8_t* data, uint32_t length) {
  std::vector<uint8_t> local(kLocalSize);
  for (const RegWrite& w : job.setup) flash_register_write(w.address, w.value);
  flash_command(kUnlock1, 0xAA);
  flash_command(kUnlock2, 0x55);
  flash_command(kUnlock1, 0x90);
  nes_ppu_read_block(kChipStart, local.data(), kIdReadLength);
  flash_print_first_bytes(local.data());
  flash_command(kUnlock1, 0xF0);

  for (const EraseUnit& unit : job.erase) {
    if (!erase_unit(job, unit, local.data())) {
      print_message("%s", kFlashEraseLost);
      return false;
    }
  }
  if (job.after_erase != nullptr) print_message("%s", job.after_erase);

  print_message("Flash......\n");
  nes_program_setup(0x8AAA, 0x8AAA, 0x8555, 0x8AAA);
  bool all_verified = true;
  const uint32_t banks = job.fixed_banks != 0 ? job.fixed_banks : length / job.bank_size;
  const auto size = static_cast<uint16_t>(job.bank_size);
  for (uint32_t i = 0; i < banks; ++i) {
    const uint16_t window = job.select(i);
    const uint8_t* source = data + uint64_t{i} * job.bank_size;
    nes_chr_program_block(window, source, size);
    nes_ppu_read_block(window, local.data(), size);
    // A bad bank ends the job: what follows would be programmed on a chip that is failing.
    if (std::memcmp(local.data(), source, size) != 0) {
      all_verified = false;
      print_message("error.%d\n", static_cast<int>(i));
      flash_print_first_bytes(local.data());
      break;
    }
    print_message(".");
  }
  print_message("\n");
  print_message("\n");
  return all_verified;
}

}  // namespace

bool chr_flash_8001_boot_sectors(const uint8_t* data) {
  return run_chr_flash(kBootSectors, data, kChrBootImageSize);
}
bool chr_flash_9000_1k(const uint8_t* data, uint32_t length) {
  return run_chr_flash(k9000, data, length);
}
bool chr_flash_4100_2k1k(const uint8_t* data, uint32_t length) {
  return run_chr_flash(k4100, data, length);
}
bool chr_flash_4k_upper(const uint8_t* data, uint32_t length) {
  return run_chr_flash(k4kUpper, data, length);
}
bool chr_flash_4k_inverted(const uint8_t* data, uint32_t length) {
  return run_chr_flash(k4kInverted, data, length);
}
bool chr_flash_5120_1k(const uint8_t* data, uint32_t length) {
  return run_chr_flash(k5120, data, length);
}
