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

namespace runner_fams {
bool fam20_start_slot();
bool fam20_read(uint64_t address, uint8_t* out, uint32_t length);
bool fam20_write(uint64_t address, const uint8_t* data, uint32_t length);
bool fam19_start_slot();
bool fam19_read(uint64_t address, uint8_t* out, uint32_t length);
bool fam19_write(uint64_t address, const uint8_t* data, uint32_t length);
bool fam2_start_slot();
bool fam2_read(uint64_t address, uint8_t* out, uint32_t length);
bool fam2_write(uint64_t address, const uint8_t* data, uint32_t length);
bool fam17_start_slot();
bool fam17_read(uint64_t address, uint8_t* out, uint32_t length);
bool fam17_write(uint64_t address, const uint8_t* data, uint32_t length);
bool fam7_start_slot();
bool fam7_read(uint64_t address, uint8_t* out, uint32_t length);
bool fam3_start_slot();
bool fam3_read(uint64_t address, uint8_t* out, uint32_t length);
int port_wake_job(const std::vector<std::string>& args);
int port_check_job(const std::vector<std::string>& args);
}  // namespace runner_fams

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

namespace runner_sfc {
bool start();
bool read(uint64_t address, uint8_t* out, uint32_t length);
bool write(uint64_t address, const uint8_t* data, uint32_t length);
int erase(bool whole_chip, uint64_t sector);
int identify_job(const std::vector<std::string>& args);
}  // namespace runner_sfc

namespace runner_wsc {
bool start();
bool read(uint64_t address, uint8_t* out, uint32_t length);
bool write(uint64_t address, const uint8_t* data, uint32_t length);
int erase(bool whole_chip, uint64_t sector);
int identify_job(const std::vector<std::string>& args);
}  // namespace runner_wsc

const std::vector<RunnerJob>& runner_jobs() {
  static const std::vector<RunnerJob> jobs = {
      {"port-wake", "", "wake the command port of a family 20 cartridge; prints the result", 0,
       0, runner_fams::port_wake_job},
      {"port-check", "", "check that a family 20 cartridge's command port answers", 0, 0,
       runner_fams::port_check_job},
      {"n64-identify", "", "N64 identity: the firmware number, read chunk and bound operations",
       0, 0, runner_n64::identify_job},
      {"n64-probe", "", "N64 save memory probe: selector, identification bytes, status", 0, 0,
       runner_n64::probe_job},
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
      {"sfc-identify", "", "SFC identity: the level it sets and the window form it chooses", 0,
       0, runner_sfc::identify_job},
      {"wsc-identify", "", "WSC identity: whether protected writes are enciphered", 0, 0,
       runner_wsc::identify_job},
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
       runner_n64::erase, 2},
      {"n64-save", "N64 probed save memory (writes in whole 128-byte units)", 0, 0x20000, 0x20000,
       runner_n64::save_start, runner_n64::save_read, runner_n64::save_write, nullptr, 128},
      {"fam20", "family 20: 24-bit bank:offset addresses", 0, 0x1000000, 0x10000,
       runner_fams::fam20_start_slot, runner_fams::fam20_read, runner_fams::fam20_write, nullptr},
      {"fam19", "family 19: 16-bit word bus, byte addresses (writes: whole words)", 0,
       0x100000000, 0x10000, runner_fams::fam19_start_slot, runner_fams::fam19_read,
       runner_fams::fam19_write, nullptr, 2},
      {"fam2", "family 2: 16-bit addresses", 0, 0x10000, 0x10000, runner_fams::fam2_start_slot,
       runner_fams::fam2_read, runner_fams::fam2_write, nullptr},
      {"fam17", "family 17: 24-bit addresses, read through DUMP.ROM", 0, 0x1000000, 0x10000,
       runner_fams::fam17_start_slot, runner_fams::fam17_read, runner_fams::fam17_write, nullptr},
      {"fam7", "family 7: 24-bit addresses, read-only", 0, 0x1000000, 0x10000,
       runner_fams::fam7_start_slot, runner_fams::fam7_read, nullptr, nullptr},
      {"fam3", "family 3: 32-bit addresses, read-only", 0, 0x100000000, 0x10000,
       runner_fams::fam3_start_slot, runner_fams::fam3_read, nullptr, nullptr},
      // Pieces of 4 MiB: a ROM comes through the window with at most one half select each.
      {"sfc", "SFC 24-bit bus (bank:offset; flash from 0x000000 on flash cartridges)", 0,
       0x1000000, 0x400000, runner_sfc::start, runner_sfc::read, runner_sfc::write,
       runner_sfc::erase},
      {"wsc", "WSC 1 MiB space (flash cartridges: the game from 0x00000)", 0, 0x100000,
       0x100000, runner_wsc::start, runner_wsc::read, runner_wsc::write, runner_wsc::erase},
  };
  return slots;
}
