// Every job and slot of cartlink-run: one row each. A row's functions live in their own file.
#include "runner/runner.h"

namespace runner_nes {
bool start();
bool cpu_read(uint64_t address, uint8_t* out, uint32_t length);
bool ppu_read(uint64_t address, uint8_t* out, uint32_t length);
bool cpu_write(uint64_t address, const uint8_t* data, uint32_t length);
bool ppu_write(uint64_t address, const uint8_t* data, uint32_t length);
}  // namespace runner_nes

namespace runner_device {
int device_info(const std::vector<std::string>& args);
int request_boot(const std::vector<std::string>& args);
bool check_request_boot(const std::vector<std::string>& args);
int put_parameter(const std::vector<std::string>& args);
bool check_put_parameter(const std::vector<std::string>& args);
int get_word(const std::vector<std::string>& args);
bool check_get_word(const std::vector<std::string>& args);
int write_block(const std::vector<std::string>& args);
bool check_write_block(const std::vector<std::string>& args);
}  // namespace runner_device

const std::vector<RunnerJob>& runner_jobs() {
  static const std::vector<RunnerJob> jobs = {
      {"device-info", "", "the link, root, name, identity, protocol level, date and key source", 0,
       0, runner_device::device_info},
      {"request-boot", "FLAG", "the device's boot request (FLAG 0-255; 0 asks for none)", 1, 1,
       runner_device::request_boot, runner_device::check_request_boot},
      {"put-parameter", "VALUE", "writes the device's 32-bit parameter", 1, 1,
       runner_device::put_parameter, runner_device::check_put_parameter},
      {"get-word", "ADDRESS", "reads a word of device memory (2 bytes on the drive, 4 over HID)",
       1, 1, runner_device::get_word, runner_device::check_get_word},
      {"write-block", "ADDRESS FILE", "writes a file into device memory at ADDRESS", 2, 2,
       runner_device::write_block, runner_device::check_write_block},
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
