#include "nes/prg_flash.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "nes/flash_id.h"
#include "nes/flash_job_parts.h"
#include "nes/nes_family.h"
#include "platform/print.h"

namespace {

constexpr uint16_t kChipStart = 0x8000;
constexpr uint16_t kIdReadLength = 1024;
constexpr uint8_t kReset = 0xF0;

struct EraseUnit {
  uint16_t reset_address;  // 0xF0 goes here first; 0: no reset write
  std::vector<RegWrite> bank_writes;
  bool chip;            // chip erase; otherwise the sector that holds the unlock address
  std::string message;  // printed once the unit reads erased; empty: nothing
};

// One member of the family: everything the skeleton below needs to know about a board.
struct PrgFlashJob {
  std::vector<RegWrite> setup;
  bool clear_protection;
  uint16_t unlock1;
  uint16_t unlock2;
  std::vector<EraseUnit> erase;  // empty: the window plan, which follows the chip size
  uint16_t poll_address;
  PollProgress progress;
  uint32_t pause_ms;
  uint32_t bank_size;
  uint16_t window;
  uint32_t fixed_banks;  // 0: as many whole banks as the image holds
  void (*select)(uint32_t bank);
  bool last_block;  // the window board's last 16 KiB, programmed once more
  int closing_feeds;
};

void select_8001(uint32_t bank) {
  flash_register_write(0x8000, 6);
  flash_register_write(0x8001, bank);
}

// The members, one row each, fields in the order of PrgFlashJob.
// clang-format off
const EraseUnit kSector0{0x8AAA, {{0x8000, 0}}, false, ""};

const PrgFlashJob kPair{
    {}, false, 0x8AAA, 0x8555, {{0x8000, {}, true, "\nErase bank OK.\n"}},
    0x8000, PollProgress::first_two_bytes, 0, 0x8000, 0x8000, 2,
    [](uint32_t bank) { flash_register_write(0x7000, bank); }, false, 2};

const PrgFlashJob kWindow{
    {}, false, 0xCAAA, 0xC555, {}, 0xC000, PollProgress::dot, 10, 0x2000, 0xC000, 0,
    [](uint32_t bank) { flash_register_write(0x5116, bank); }, true, 2};

const PrgFlashJob kBank8000{
    {{0x8000, 0}}, true, 0x8AAA, 0x8555,
    {{0x8AAA, {{0x8000, 0}}, false, "\nErase bank0.\n"},
     {0, {{0x8000, 16}}, false, "\nErase bank1.\n"}},
    0x8000, PollProgress::dot, 100, 0x2000, 0x8000, 0,
    [](uint32_t bank) { flash_register_write(0x8000, bank); }, false, 2};

const PrgFlashJob kOneSector{
    {{0x8000, 6}, {0x8001, 0}}, true, 0x8AAA, 0x8555,
    {{0x8AAA, {{0x8000, 0}}, false, "\nErase bank0.\n"}},
    0x8000, PollProgress::dot, 100, 0x2000, 0x8000, 0, select_8001, false, 2};

const std::vector<EraseUnit> kTwoSectorUnits{
    kSector0, {0x8AAA, {{0x8000, 6}, {0x8001, 16}}, false, "\nErase bank0.\n"}};

const PrgFlashJob kTwoSectors{
    {{0x8000, 6}, {0x8001, 0}}, true, 0x8AAA, 0x8555, kTwoSectorUnits,
    0x8000, PollProgress::dot, 100, 0x2000, 0x8000, 0, select_8001, false, 2};

const PrgFlashJob kTwoSectors5000{
    {{0x5000, 0}, {0x8000, 6}, {0x8001, 0}}, true, 0x8AAA, 0x8555, kTwoSectorUnits,
    0x8000, PollProgress::dot, 100, 0x2000, 0x8000, 0, select_8001, false, 2};

const PrgFlashJob kChip5000{
    {}, false, 0x8AAA, 0x8555, {{0x8000, {}, true, "\nErase bank OK.\n"}},
    0x8000, PollProgress::first_two_bytes, 0, 0x2000, 0x8000, 0,
    [](uint32_t bank) {
      // The outer register takes the bank number's bits above the 8 that $8001 holds.
      if (bank % 128 == 0) flash_register_write(0x5000, bank / 128);
      select_8001(bank);
    },
    false, 1};

// clang-format on

// The window board erases the first MiB of its chip sector by sector: 64 KiB sectors, or
// 128 KiB on chips above 8 MiB. `s` counts KiB; the register takes 8 KiB bank numbers.
std::vector<EraseUnit> window_erase_plan(uint32_t chip_size) {
  const uint32_t step = chip_size > 0x800000 ? 128 : 64;
  std::vector<EraseUnit> plan;
  for (uint32_t s = 0; s < 1024; s += step) {
    char message[32];
    std::snprintf(message, sizeof message, "\nErase bank %u.\n", s / 16 + 8);
    plan.push_back({0xCAAA, {{0x5116, static_cast<uint8_t>(s / 8)}}, false, message});
  }
  return plan;
}

void flash_command(uint16_t address, uint8_t value) { nes_prg_flash_write(address, value); }

void clear_protection() {
  static constexpr RegWrite kSequence[] = {{0x8555, 0xF0}, {0x8AAA, 0xAA}, {0x8555, 0x55},
                                           {0x8AAA, 0xC0}, {0x8000, 0x80}, {0x8000, 0x30},
                                           {0x8000, 0x90}, {0x8000, 0x00}, {0x8555, 0xF0}};
  for (const RegWrite& w : kSequence) flash_command(w.address, w.value);
}

bool erase_unit(const PrgFlashJob& job, const EraseUnit& unit, uint8_t* local) {
  if (unit.reset_address != 0) flash_command(unit.reset_address, kReset);
  for (const RegWrite& w : unit.bank_writes) flash_register_write(w.address, w.value);
  flash_command(job.unlock1, 0xAA);
  flash_command(job.unlock2, 0x55);
  flash_command(job.unlock1, 0x80);
  flash_command(job.unlock1, 0xAA);
  flash_command(job.unlock2, 0x55);
  flash_command(job.unlock1, unit.chip ? 0x10 : 0x30);
  // No time-out: a chip that takes long shows it through the progress output.
  for (;;) {
    nes_cpu_read_block(job.poll_address, local, kIdReadLength);
    if (g_link.io_failed || local[0] == 0xFF) break;
    flash_poll_wait(job.progress, local, job.pause_ms);
  }
  if (g_link.io_failed) return false;
  if (!unit.message.empty()) print_message("%s", unit.message.c_str());
  return true;
}

// Programs one block and reads it back; false when the read-back differs.
bool program_and_verify(uint16_t window, const uint8_t* source, uint32_t size, uint8_t* local) {
  prg_program_routine(window, source, static_cast<uint16_t>(size));
  nes_cpu_read_block(window, local, static_cast<uint16_t>(size));
  return std::memcmp(local, source, size) == 0;
}

bool run_prg_flash(const PrgFlashJob& job, const uint8_t* data, uint32_t length) {
  if (prg_program_routine == nullptr) {
    print_message("No PRG program command chosen: identify the flash chip first.\n");
    return false;
  }
  if (job.last_block && length < kPrgLastBlockSize) {
    print_message("Image too short: %u bytes, the last block needs %u. Nothing erased.\n", length,
                  kPrgLastBlockSize);
    return false;
  }
  std::vector<uint8_t> local(job.last_block ? kPrgLastBlockSize : job.bank_size);

  for (const RegWrite& w : job.setup) flash_register_write(w.address, w.value);
  flash_command(job.unlock1, 0xAA);
  flash_command(job.unlock2, 0x55);
  flash_command(job.unlock1, 0x90);
  nes_cpu_read_block(kChipStart, local.data(), kIdReadLength);
  flash_print_first_bytes(local.data());
  if (job.clear_protection && local[4] != 0) clear_protection();

  const std::vector<EraseUnit> plan =
      job.erase.empty() ? window_erase_plan(flash_chip_size) : job.erase;
  for (const EraseUnit& unit : plan) {
    if (!erase_unit(job, unit, local.data())) {
      print_message("%s", kFlashEraseLost);
      return false;
    }
  }

  print_message("Flash......\n");
  nes_program_setup(0x8000, 0x8AAA, 0xA555, 0x8AAA);
  bool all_verified = true;
  const uint32_t banks = job.fixed_banks != 0 ? job.fixed_banks : length / job.bank_size;
  for (uint32_t i = 0; i < banks; ++i) {
    job.select(i);
    // A bad bank is reported and the job goes on: the rest of the image still gets written.
    if (!program_and_verify(job.window, data + uint64_t{i} * job.bank_size, job.bank_size,
                            local.data())) {
      all_verified = false;
      print_message("error.%d\n", static_cast<int>(i));
      flash_print_first_bytes(local.data());
    }
    print_message(".");
  }
  if (job.last_block) {
    flash_register_write(0x5116, 0x7E);
    flash_register_write(0x5117, 0x7F);
    if (!program_and_verify(0xC000, data + length - kPrgLastBlockSize, kPrgLastBlockSize,
                            local.data())) {
      all_verified = false;
      print_message("error.%s\n", "last");
      flash_print_first_bytes(local.data());
    }
    print_message(".");
  }
  for (int i = 0; i < job.closing_feeds; ++i) print_message("\n");
  return all_verified;
}

}  // namespace

bool prg_flash_7000_pair(const uint8_t* data) {
  return run_prg_flash(kPair, data, kPrgPairImageSize);
}
bool prg_flash_5116_window(const uint8_t* data, uint32_t length) {
  return run_prg_flash(kWindow, data, length);
}
bool prg_flash_8000_bank(const uint8_t* data, uint32_t length) {
  return run_prg_flash(kBank8000, data, length);
}
bool prg_flash_8001_one_sector(const uint8_t* data, uint32_t length) {
  return run_prg_flash(kOneSector, data, length);
}
bool prg_flash_8001_two_sectors(const uint8_t* data, uint32_t length) {
  return run_prg_flash(kTwoSectors, data, length);
}
bool prg_flash_8001_two_sectors_5000(const uint8_t* data, uint32_t length) {
  return run_prg_flash(kTwoSectors5000, data, length);
}
bool prg_flash_8001_chip_5000(const uint8_t* data, uint32_t length) {
  return run_prg_flash(kChip5000, data, length);
}
