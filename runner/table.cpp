// Every job and slot of cartlink-run: one row each. A row's functions live in their own file.
#include "runner/runner.h"

namespace runner_nes {
bool start();
bool cpu_read(uint64_t address, uint8_t* out, uint32_t length);
bool ppu_read(uint64_t address, uint8_t* out, uint32_t length);
bool cpu_write(uint64_t address, const uint8_t* data, uint32_t length);
bool ppu_write(uint64_t address, const uint8_t* data, uint32_t length);
}  // namespace runner_nes

namespace runner_n64 {
bool start();
bool read(uint64_t address, uint8_t* out, uint32_t length);
bool write(uint64_t address, const uint8_t* data, uint32_t length);
int erase(bool whole_chip, uint64_t sector);
bool save_start();
bool save_read(uint64_t address, uint8_t* out, uint32_t length);
bool save_write(uint64_t address, const uint8_t* data, uint32_t length);
int identify_job(const std::vector<std::string>& args);
int probe_job(const std::vector<std::string>& args);
}  // namespace runner_n64

const std::vector<RunnerJob>& runner_jobs() {
  static const std::vector<RunnerJob> jobs = {
      {"n64-identify", "", "N64 identity: the firmware number, read chunk and bound operations",
       0, 0, runner_n64::identify_job},
      {"n64-probe", "", "N64 save memory probe: selector, identification bytes, status", 0, 0,
       runner_n64::probe_job},
  };
  return jobs;
}

const std::vector<RunnerSlot>& runner_slots() {
  static const std::vector<RunnerSlot> slots = {
      {"nes-cpu", "NES CPU bus ($0000-$FFFF: mapper registers, work RAM, PRG)", 0, 0x10000, 0xFFFF,
       runner_nes::start, runner_nes::cpu_read, runner_nes::cpu_write, nullptr},
      {"nes-ppu", "NES PPU bus ($0000-$3FFF: CHR memory)", 0, 0x4000, 0xFFFF, runner_nes::start,
       runner_nes::ppu_read, runner_nes::ppu_write, nullptr},
      {"n64", "N64 cartridge ROM window (flash: write programs and verifies)", 0x10000000,
       0x14000000, 0x400000, runner_n64::start, runner_n64::read, runner_n64::write,
       runner_n64::erase},
      {"n64-save", "N64 probed save memory (writes in whole 128-byte units)", 0, 0x20000, 0x20000,
       runner_n64::save_start, runner_n64::save_read, runner_n64::save_write, nullptr},
  };
  return slots;
}
