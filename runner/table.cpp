// Every job and slot of cartlink-run: one row each. A row's functions live in their own file.
#include "runner/runner.h"

namespace runner_nes {
bool start();
bool cpu_read(uint64_t address, uint8_t* out, uint32_t length);
bool ppu_read(uint64_t address, uint8_t* out, uint32_t length);
bool cpu_write(uint64_t address, const uint8_t* data, uint32_t length);
bool ppu_write(uint64_t address, const uint8_t* data, uint32_t length);
}  // namespace runner_nes

const std::vector<RunnerJob>& runner_jobs() {
  static const std::vector<RunnerJob> jobs = {
  };
  return jobs;
}

const std::vector<RunnerSlot>& runner_slots() {
  static const std::vector<RunnerSlot> slots = {
      {"nes-cpu", "NES CPU bus ($0000-$FFFF: mapper registers, work RAM, PRG)", 0, 0x10000, 0xFFFF,
       runner_nes::start, runner_nes::cpu_read, runner_nes::cpu_write, nullptr},
      {"nes-ppu", "NES PPU bus ($0000-$3FFF: CHR memory)", 0, 0x4000, 0xFFFF, runner_nes::start,
       runner_nes::ppu_read, runner_nes::ppu_write, nullptr},
  };
  return slots;
}
