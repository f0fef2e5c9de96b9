#include "virtual_device/cartridges.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "virtual_device/device.h"
#include "virtual_device/flash_chip.h"

namespace vdev {

// Each kind's build function lives in its board's own file.
bool build_f90(Device& device, const CartridgeOptions& options, std::string& error);
bool build_n64(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& n64_option_list();
bool build_n64_rom(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& n64_rom_option_list();
bool build_prg_flash_7000_pair(Device&, const CartridgeOptions&, std::string&);
bool build_prg_flash_5116_window(Device&, const CartridgeOptions&, std::string&);
bool build_prg_flash_8000_bank(Device&, const CartridgeOptions&, std::string&);
bool build_prg_flash_8001_one_sector(Device&, const CartridgeOptions&, std::string&);
bool build_prg_flash_8001_two_sectors(Device&, const CartridgeOptions&, std::string&);
bool build_prg_flash_8001_two_sectors_5000(Device&, const CartridgeOptions&, std::string&);
bool build_prg_flash_8001_chip_5000(Device&, const CartridgeOptions&, std::string&);
bool build_chr_flash_8001_boot_sectors(Device&, const CartridgeOptions&, std::string&);
bool build_chr_flash_9000_1k(Device&, const CartridgeOptions&, std::string&);
bool build_chr_flash_4100_2k1k(Device&, const CartridgeOptions&, std::string&);
bool build_chr_flash_4k_upper(Device&, const CartridgeOptions&, std::string&);
bool build_chr_flash_4k_inverted(Device&, const CartridgeOptions&, std::string&);
bool build_chr_flash_5120_1k(Device&, const CartridgeOptions&, std::string&);
bool build_work_ram_flash(Device&, const CartridgeOptions&, std::string&);
bool build_rom_file_flash(Device&, const CartridgeOptions&, std::string&);
bool build_ginga(Device&, const CartridgeOptions&, std::string&);
bool build_serial_register(Device&, const CartridgeOptions&, std::string&);
bool build_fam20(Device& device, const CartridgeOptions& options, std::string& error);
bool build_fam19(Device& device, const CartridgeOptions& options, std::string& error);
bool build_fam2(Device& device, const CartridgeOptions& options, std::string& error);
bool build_fam17(Device& device, const CartridgeOptions& options, std::string& error);
bool build_fam7(Device& device, const CartridgeOptions& options, std::string& error);
bool build_fam3(Device& device, const CartridgeOptions& options, std::string& error);
bool build_sfc(Device& device, const CartridgeOptions& options, std::string& error);
bool build_wsc(Device& device, const CartridgeOptions& options, std::string& error);
// Retail cartridges (sfc_rom_cart.cpp, wsc_rom_cart.cpp, nes_rom_cartridges.cpp).
bool build_sfc_lorom(Device& device, const CartridgeOptions& options, std::string& error);
bool build_sfc_hirom(Device& device, const CartridgeOptions& options, std::string& error);
bool build_sfc_exhirom(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& sfc_rom_option_list();
bool build_wsc_rom(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& wsc_rom_option_list();
bool build_nes_nrom(Device& device, const CartridgeOptions& options, std::string& error);
bool build_nes_mmc1(Device& device, const CartridgeOptions& options, std::string& error);
bool build_nes_uxrom(Device& device, const CartridgeOptions& options, std::string& error);
bool build_nes_cnrom(Device& device, const CartridgeOptions& options, std::string& error);
bool build_nes_mmc3(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& nes_rom_option_list(bool work_ram);

namespace {

bool build_none(Device&, const CartridgeOptions&, std::string&) { return true; }

}  // namespace

// Options of the NES flash boards: the chip's, and the work RAM's on boards that have it.
std::vector<CartridgeOption> flash_options(bool ram) {
  std::vector<CartridgeOption> extra;
  if (ram) {
    extra.push_back({"ram-stuck-bit", "OFFSET:MASK:VALUE",
                     "bits MASK of work RAM byte OFFSET always read as VALUE"});
  }
  return join_options(flash_chip_option_list(), extra);
}

const std::vector<CartridgeKind>& cartridge_kinds() {
  static const std::vector<CartridgeKind> kinds = {
      {"f90", "Famicom board: 128 bytes of expansion RAM behind $F800 (index) and $4800 (data), "
              "8 KiB work RAM, 32 KiB PRG ROM, 8 KiB CHR ROM",
       {{"ram", "FILE", "the expansion RAM, exactly 128 bytes (default: a built-in pattern)"},
        {"prg", "FILE", "PRG ROM, 16 KiB (mirrored) or 32 KiB (default: all 0xFF)"},
        {"chr", "FILE", "CHR ROM, exactly 8 KiB (default: all 0xFF)"}},
       build_f90},
      {"n64", "N64 cartridge: 64 MiB flash in the ROM window at 0x10000000 (DUMP.ROM), 2 KiB "
              "paged save memory, 128 KiB probed save memory",
       n64_option_list(), build_n64},
      {"n64-rom", "retail N64 cartridge: mask ROM at 0x10000000 (DUMP.ROM, .z64 order), mirrored "
                  "or open bus past its end; EEPROM save behind the probed memory, SRAM or flash "
                  "save at 0x08000000",
       n64_rom_option_list(), build_n64_rom},
      {"prg-flash-7000-pair", "PRG flash, 32 KiB banks by $7000 (128 KiB chip)",
       flash_options(false), build_prg_flash_7000_pair},
      {"prg-flash-5116-window", "PRG flash, 8 KiB banks by $5114-$5117 (2 MiB chip); CHR flash "
       "by $5120-$5127/$5130; work RAM", flash_options(true), build_prg_flash_5116_window},
      {"prg-flash-8000-bank", "PRG flash, 8 KiB banks by $8000 (256 KiB chip, 128 KiB sectors)",
       flash_options(false), build_prg_flash_8000_bank},
      {"prg-flash-8001-one-sector", "PRG flash, MMC3-like $8000/$8001 banks (128 KiB chip)",
       flash_options(false), build_prg_flash_8001_one_sector},
      {"prg-flash-8001-two-sectors", "PRG flash, MMC3-like banks (256 KiB chip, 128 KiB "
       "sectors)", flash_options(false), build_prg_flash_8001_two_sectors},
      {"prg-flash-8001-two-sectors-5000", "PRG flash, MMC3-like banks and $5000 (256 KiB chip, "
       "128 KiB sectors)", flash_options(false), build_prg_flash_8001_two_sectors_5000},
      {"prg-flash-8001-chip-5000", "PRG flash, MMC3-like banks and $5000 picking 1 MiB blocks "
       "(2 MiB chip)", flash_options(false), build_prg_flash_8001_chip_5000},
      {"chr-flash-8001-boot-sectors", "CHR flash, 8 KiB banks by $8001 (256 KiB chip, small "
       "bottom sectors)", flash_options(false), build_chr_flash_8001_boot_sectors},
      {"chr-flash-9000-1k", "CHR flash, 1 KiB banks by $9000-$9007 and $A000-$A007 (512 KiB)",
       flash_options(false), build_chr_flash_9000_1k},
      {"chr-flash-4100-2k1k", "CHR flash, MMC3-like 2 KiB/1 KiB banks and $4100 (512 KiB)",
       flash_options(false), build_chr_flash_4100_2k1k},
      {"chr-flash-4k-upper", "CHR flash, MMC3-like banks, PPU $1000 the chip's upper half "
       "(512 KiB)", flash_options(false), build_chr_flash_4k_upper},
      {"chr-flash-4k-inverted", "CHR flash, MMC3-like banks with inversion, PPU A12 the chip's "
       "half (512 KiB)", flash_options(false), build_chr_flash_4k_inverted},
      {"chr-flash-5120-1k", "CHR flash, 1 KiB banks by $5120-$5127 and $5130 (1 MiB chip); "
       "PRG flash by $5114-$5117", flash_options(true), build_chr_flash_5120_1k},
      {"work-ram-test", "8 KiB work RAM at $6000 enabled by $5002, PRG flash by $5114-$5117",
       flash_options(true), build_work_ram_flash},
      {"identify-flash", "PRG flash at $8000 by $5114-$5117 (2 MiB chip), work RAM",
       flash_options(true), build_work_ram_flash},
      {"flash-rom-file", "the MMC5-like flash board: PRG by $5114-$5117 (2 MiB chip; up to 8 "
       "MiB with --chip-size), CHR by $5120-$5127/$5130 (--chr-chip-size, 1 MiB), work RAM",
       join_options(flash_options(true),
                    {{"chr-chip-size", "SIZE", "CHR flash chip size (default 1M)"},
                     {"chr-chip-id", "WORDS", "the CHR chip's autoselect words"},
                     {"chr-protected", "yes|no", "the CHR chip's sectors are protected"},
                     {"chr-erase-polls", "N|never", "reads a CHR chip erase stays busy for"},
                     {"chr-stuck-bit", "OFFSET:MASK:VALUE", "a stuck bit of the CHR chip"}}),
       build_rom_file_flash},
      {"ginga", "Ginga no Sannin: 128 KiB PRG ROM in 16 KiB banks, bank 7 at $C000, $FFF0 + i "
       "switching bank i in at $8000; banks made to match the dump job's checksums",
       {{"flaky-bank", "N", "bank 0-6 that reads one byte wrong for its first switches"},
        {"flaky-reads", "N", "how many switches to the flaky bank read wrong (default 0)"},
        {"wrong-cartridge", "yes|no", "the fixed bank does not match: another cartridge"}},
       build_ginga},
      {"misc-byte-probe", "a serially loaded register at $8000 (bit 7 resets, five writes load "
       "bit 0 each, lowest first) reported as the misc byte", {}, build_serial_register},
      {"fam20", "family 20: 16 MiB bank:offset memory, command port at $00:2400/$00:2401",
       {{"rom", "FILE", "the memory from address 0, up to 16 MiB (default: a built-in pattern)"},
        {"port-wakes-after", "N", "wake commands before the port is awake (default 0: at once)"},
        {"port-never-wakes", "yes", "the port never wakes (default no)"},
        {"port-locked", "yes", "every exchange must unlock the port first (default no)"}},
       build_fam20},
      {"fam19", "family 19: 16-bit word bus over 16 MiB",
       {{"rom", "FILE", "the memory from byte 0, up to 16 MiB (default: a built-in pattern)"}},
       build_fam19},
      {"fam2", "family 2: 16-bit address bus over 64 KiB",
       {{"rom", "FILE", "the memory from address 0, up to 64 KiB (default: a built-in pattern)"}},
       build_fam2},
      {"fam17", "family 17: 24-bit address bus, writes by command, reads in DUMP.ROM",
       {{"rom", "FILE", "the memory from address 0, up to 16 MiB (default: a built-in pattern)"}},
       build_fam17},
      {"fam7", "family 7: 24-bit read-only bus",
       {{"rom", "FILE", "the ROM from address 0, up to 16 MiB (default: a built-in pattern)"}},
       build_fam7},
      {"fam3", "family 3: 32-bit read-only address space, 16 MiB of ROM from address 0",
       {{"rom", "FILE", "the ROM from address 0, up to 16 MiB (default: a built-in pattern)"}},
       build_fam3},
      {"sfc", "SFC flash cartridge: 24-bit bus, byte-mode flash with the game from 0x000000 "
              "(commands at 0x8AAA/0x8555), battery RAM from 0xF00000; \"DUMP.ROM\" one 8 MiB "
              "half below firmware 320, the whole bus from 320 (firmware from --identity)",
       join_options({{"rom", "FILE", "the game image in the flash from 0 (default: a pattern)"},
                     {"ram", "FILE", "battery RAM contents, up to 1M (default: zeros)"},
                     {"ram-size", "SIZE", "battery RAM size without --ram (default 32K)"}},
                    flash_chip_option_list()),
       build_sfc},
      {"wsc", "WSC flash cartridge: 1 MiB space filled by a 16-bit flash with the game from 0 "
              "(commands at 0xF0AAA/0xF0555); protected writes deciphered with the device key "
              "unless the identity begins WSC_HWRKA_FW4",
       join_options({{"rom", "FILE", "the game image in the flash from 0 (default: a pattern)"}},
                    flash_chip_option_list()),
       build_wsc},
      // Retail cartridges: mask ROM wired as the boards wire it, with their saves.
      {"sfc-lorom", "SFC LoROM board: ROM offset o at bank o/32K, $8000-$FFFF, banks $00-$7D "
                    "and $80-$FF; battery RAM at $70-$7D:0000-7FFF; open bus 0xFF elsewhere",
       sfc_rom_option_list(), build_sfc_lorom},
      {"sfc-hirom", "SFC HiROM board: ROM at $C0-$FF and $40-$7D, upper halves at $00-$3F and "
                    "$80-$BF; battery RAM at $20-$3F:6000-7FFF (8K per bank)",
       sfc_rom_option_list(), build_sfc_hirom},
      {"sfc-exhirom", "SFC ExHiROM board: the ROM's first 4 MiB at $C0-$FF, the rest at "
                      "$40-$7D; battery RAM at $20-$3F:6000-7FFF",
       sfc_rom_option_list(), build_sfc_exhirom},
      {"wsc-rom", "WonderSwan cartridge: ROM (at most 1 MiB) ending at 0xFFFFF and repeating "
                  "below, SRAM at 0x10000-0x1FFFF; an EEPROM save is kept but not on the bus",
       wsc_rom_option_list(), build_wsc_rom},
      {"nes-nrom", "NES NROM: 16/32K PRG at $8000, 8K CHR", nes_rom_option_list(false),
       build_nes_nrom},
      {"nes-mmc1", "NES SxROM (MMC1): serial register, PRG modes, 4K/8K CHR, 8K work RAM "
                   "enabled by PRG register bit 4 = 0", nes_rom_option_list(true),
       build_nes_mmc1},
      {"nes-uxrom", "NES UxROM: 16K PRG bank at $8000 (bus conflicts), last bank at $C000",
       nes_rom_option_list(false), build_nes_uxrom},
      {"nes-cnrom", "NES CNROM: 8K CHR bank by a write to $8000-$FFFF (bus conflicts)",
       nes_rom_option_list(false), build_nes_cnrom},
      {"nes-mmc3", "NES TxROM (MMC3): R0-R7, PRG mode, CHR inversion, 8K work RAM behind "
                   "$A001 (enable bit 7, write protect bit 6)", nes_rom_option_list(true),
       build_nes_mmc3},
      {"none", "an empty slot", {}, build_none},
  };
  return kinds;
}

const CartridgeKind* find_cartridge_kind(std::string_view name) {
  for (const auto& kind : cartridge_kinds()) {
    if (name == kind.name) return &kind;
  }
  return nullptr;
}

std::vector<CartridgeOption> join_options(std::vector<CartridgeOption> a,
                                          const std::vector<CartridgeOption>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool parse_option_number(std::string_view text, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t multiplier = 1;
  size_t end = text.size();
  if (base == 10 && (text.back() == 'K' || text.back() == 'k')) {
    multiplier = 1024;
    --end;
  } else if (base == 10 && (text.back() == 'M' || text.back() == 'm')) {
    multiplier = 1024 * 1024;
    --end;
  }
  if (i == end) return false;
  uint64_t v = 0;
  for (; i < end; ++i) {
    const char c = text[i];
    uint64_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint64_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<uint64_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<uint64_t>(c - 'A' + 10);
    else return false;
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  if (v > UINT64_MAX / multiplier) return false;
  out = v * multiplier;
  return true;
}

bool option_number(const CartridgeOptions& options, const std::string& name, uint64_t& out,
                   std::string& error, uint64_t max) {
  auto it = options.find(name);
  if (it == options.end()) return true;
  uint64_t v = 0;
  if (!parse_option_number(it->second, v) || v > max) {
    error = "--" + name + " '" + it->second + "': give a number from 0 to " + std::to_string(max) +
            " (decimal, 0x hex, K or M)";
    return false;
  }
  out = v;
  return true;
}

bool option_flag(const CartridgeOptions& options, const std::string& name, bool& out,
                 std::string& error) {
  auto it = options.find(name);
  if (it == options.end()) return true;
  const std::string& v = it->second;
  if (v == "1" || v == "yes" || v == "on") {
    out = true;
  } else if (v == "0" || v == "no" || v == "off") {
    out = false;
  } else {
    error = "--" + name + " '" + v + "': use yes or no";
    return false;
  }
  return true;
}

bool option_file(const CartridgeOptions& options, const std::string& name, const std::string& what,
                 std::vector<uint8_t>& out, std::string& error, uint64_t min, uint64_t max) {
  auto it = options.find(name);
  if (it == options.end()) return true;
  const std::string file = "the " + what + " file " + it->second;
  struct stat st {};
  if (stat(it->second.c_str(), &st) != 0) {
    error = "cannot read " + file + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = file + " is not a regular file";
    return false;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size < min || size > max) {
    const std::string wanted =
        min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max);
    error = file + " is " + std::to_string(size) + " bytes long (" +
            (size < min ? "too short" : "too long") + "); it must be " + wanted + " bytes";
    return false;
  }
  std::FILE* f = std::fopen(it->second.c_str(), "rb");
  if (!f) {
    error = "cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  out.assign(size, 0);
  const size_t got = size ? std::fread(out.data(), 1, size, f) : 0;
  std::fclose(f);
  if (got != size) {
    error = "cannot read " + file + " in full";
    return false;
  }
  return true;
}

}  // namespace vdev
