// Every job and slot of cartlink-run: one row each. A row's functions live in their own file.
#include "runner/runner.h"

namespace runner_dump {
int run(const std::vector<std::string>& args);
bool check(const std::vector<std::string>& args);
}  // namespace runner_dump

namespace runner_save {
int backup(const std::vector<std::string>& args);
bool check_backup(const std::vector<std::string>& args);
int restore(const std::vector<std::string>& args);
bool check_restore(const std::vector<std::string>& args);
}  // namespace runner_save

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

namespace runner_nes_flash {
int identify_flash(const std::vector<std::string>& args);
int work_ram_test(const std::vector<std::string>& args);
int prg_flash_7000_pair(const std::vector<std::string>& args);
int prg_flash_5116_window(const std::vector<std::string>& args);
int prg_flash_8000_bank(const std::vector<std::string>& args);
int prg_flash_8001_one_sector(const std::vector<std::string>& args);
int prg_flash_8001_two_sectors(const std::vector<std::string>& args);
int prg_flash_8001_two_sectors_5000(const std::vector<std::string>& args);
int prg_flash_8001_chip_5000(const std::vector<std::string>& args);
int chr_flash_8001_boot_sectors(const std::vector<std::string>& args);
int chr_flash_9000_1k(const std::vector<std::string>& args);
int chr_flash_4100_2k1k(const std::vector<std::string>& args);
int chr_flash_4k_upper(const std::vector<std::string>& args);
int chr_flash_4k_inverted(const std::vector<std::string>& args);
int chr_flash_5120_1k(const std::vector<std::string>& args);
bool check_prg_pair(const std::vector<std::string>& args);
bool check_prg_window(const std::vector<std::string>& args);
bool check_prg_banks(const std::vector<std::string>& args);
bool check_chr_boot(const std::vector<std::string>& args);
bool check_chr_banks(const std::vector<std::string>& args);
bool check_chr_4k_banks(const std::vector<std::string>& args);
}  // namespace runner_nes_flash

namespace runner_nes_rom {
int ginga_dump(const std::vector<std::string>& args);
int flash_rom_file(const std::vector<std::string>& args);
bool check_flash_rom_file(const std::vector<std::string>& args);
int misc_byte_probe(const std::vector<std::string>& args);
int save_ram_dump(const std::vector<std::string>& args);
}  // namespace runner_nes_rom

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

namespace runner_flash {
int run(const std::vector<std::string>& args);
bool check(const std::vector<std::string>& args);
bool sends_nothing(const std::vector<std::string>& args);
}  // namespace runner_flash

namespace runner_wsc {
bool start();
bool read(uint64_t address, uint8_t* out, uint32_t length);
bool write(uint64_t address, const uint8_t* data, uint32_t length);
int erase(bool whole_chip, uint64_t sector);
int identify_job(const std::vector<std::string>& args);
}  // namespace runner_wsc

const std::vector<RunnerJob>& runner_jobs() {
  static const std::vector<RunnerJob> jobs = {
      // What a new user does with a cartridge: first in the list.
      {"dump", "SLOT [OUTFILE] [--dat FILE] [--passes 1|2] [--force] [--name-from-dat] ...",
       "read a whole sfc, n64, wsc or nes cartridge into a verified ROM file (see --help)", 1,
       24, runner_dump::run, runner_dump::check},
      {"save-ram-dump", "",
       "the entry's job: list the 128 bytes of expansion RAM and save f90.sav",
       0, 0, runner_nes_rom::save_ram_dump},
      {"ginga-dump", "",
       "dump Ginga no Sannin into Ginga.nes, every bank checked against its CRC-32",
       0, 0, runner_nes_rom::ginga_dump},
      {"flash-rom-file", "[FILE]",
       "program an NES ROM file (default gac.nes) into the $5116/$5120 flash board",
       0, 1, runner_nes_rom::flash_rom_file,
       runner_nes_rom::check_flash_rom_file},
      {"misc-byte-probe", "",
       "load 0 to 3 into the serial register at $8000 and print the misc byte after each",
       0, 0, runner_nes_rom::misc_byte_probe},
      {"identify-flash", "",
       "print the PRG flash chip's identification bytes, 29GL, and its CFI size",
       0, 0, runner_nes_flash::identify_flash},
      {"work-ram-test", "",
       "write two patterns into the work RAM at $6000-$7FFF and read them back",
       0, 0, runner_nes_flash::work_ram_test},
      {"prg-flash-7000-pair", "FILE",
       "PRG flash, two 32 KiB banks by $7000 (64 KiB of FILE)",
       1, 1, runner_nes_flash::prg_flash_7000_pair,
       runner_nes_flash::check_prg_pair},
      {"prg-flash-5116-window", "FILE",
       "PRG flash, 8 KiB banks by $5116, first MiB erased; last 16 KiB at banks 7E/7F",
       1, 1, runner_nes_flash::prg_flash_5116_window,
       runner_nes_flash::check_prg_window},
      {"prg-flash-8000-bank", "FILE",
       "PRG flash, 8 KiB banks by $8000; erases banks 0 and 16",
       1, 1, runner_nes_flash::prg_flash_8000_bank,
       runner_nes_flash::check_prg_banks},
      {"prg-flash-8001-one-sector", "FILE",
       "PRG flash, 8 KiB banks by $8000 = 6/$8001; erases the first sector",
       1, 1, runner_nes_flash::prg_flash_8001_one_sector,
       runner_nes_flash::check_prg_banks},
      {"prg-flash-8001-two-sectors", "FILE",
       "PRG flash, 8 KiB banks by $8000 = 6/$8001; erases banks 0 and 16",
       1, 1, runner_nes_flash::prg_flash_8001_two_sectors,
       runner_nes_flash::check_prg_banks},
      {"prg-flash-8001-two-sectors-5000", "FILE",
       "as prg-flash-8001-two-sectors, with $5000 = 0 first",
       1, 1, runner_nes_flash::prg_flash_8001_two_sectors_5000,
       runner_nes_flash::check_prg_banks},
      {"prg-flash-8001-chip-5000", "FILE",
       "PRG flash, 8 KiB banks by $8001 and $5000 (1 MiB blocks); chip erase",
       1, 1, runner_nes_flash::prg_flash_8001_chip_5000,
       runner_nes_flash::check_prg_banks},
      {"chr-flash-8001-boot-sectors", "FILE",
       "CHR flash, 8 KiB banks by $8001; boot-sector chip (256 KiB of FILE)",
       1, 1, runner_nes_flash::chr_flash_8001_boot_sectors,
       runner_nes_flash::check_chr_boot},
      {"chr-flash-9000-1k", "FILE",
       "CHR flash, 1 KiB banks by $9000-$9007 and $A000-$A007",
       1, 1, runner_nes_flash::chr_flash_9000_1k,
       runner_nes_flash::check_chr_banks},
      {"chr-flash-4100-2k1k", "FILE",
       "CHR flash, MMC3-like 2 KiB/1 KiB banks and $4100",
       1, 1, runner_nes_flash::chr_flash_4100_2k1k,
       runner_nes_flash::check_chr_banks},
      {"chr-flash-4k-upper", "FILE",
       "CHR flash, 4 KiB banks; from bank 64 through PPU $1000",
       1, 1, runner_nes_flash::chr_flash_4k_upper,
       runner_nes_flash::check_chr_4k_banks},
      {"chr-flash-4k-inverted", "FILE",
       "CHR flash, 4 KiB banks; from bank 64 with the halves inverted",
       1, 1, runner_nes_flash::chr_flash_4k_inverted,
       runner_nes_flash::check_chr_4k_banks},
      {"chr-flash-5120-1k", "FILE",
       "CHR flash, 1 KiB banks by $5120-$5127 and $5130",
       1, 1, runner_nes_flash::chr_flash_5120_1k,
       runner_nes_flash::check_chr_banks},
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
      {"flash", "SLOT INFILE [--dry-run] [--chip-erase] [--chip-size SIZE]",
       "program an image onto an sfc, n64 or wsc flash cartridge: erase, program, verify", 2, 6,
       runner_flash::run, runner_flash::check, runner_flash::sends_nothing},
      {"backup-save", "SLOT [OUTFILE] [--save-type T|--mapper N] [--force]",
       "a game's save into a file, read twice alike (sfc, n64, wsc, nes)", 1, 5,
       runner_save::backup, runner_save::check_backup},
      {"restore-save", "SLOT INFILE [--save-type T|--mapper N]",
       "a save file onto the cartridge, its previous save kept beside INFILE, read back", 2, 4,
       runner_save::restore, runner_save::check_restore},
  };
  return jobs;
}

const std::vector<RunnerSlot>& runner_slots() {
  static const std::vector<RunnerSlot> slots = {
      {"nes-cpu", "NES CPU bus ($0000-$FFFF: mapper registers, work RAM, PRG)", 0, 0x10000, 0xFFFF,
       runner_nes::start, runner_nes::cpu_read, runner_nes::cpu_write, nullptr},
      {"nes-ppu", "NES PPU bus ($0000-$3FFF: CHR memory)", 0, 0x4000, 0xFFFF, runner_nes::start,
       runner_nes::ppu_read, runner_nes::ppu_write, nullptr},
      // From the disk drive's registers to the end of the ROM's address space.
      {"n64", "N64 cartridge bus (ROM window 0x10000000-0x13FFFFFF: flash programmed; "
       "elsewhere plain word writes; both read back)", 0x05000000, 0x20000000, 0x400000,
       runner_n64::start, runner_n64::read, runner_n64::write, runner_n64::erase, 2},
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
