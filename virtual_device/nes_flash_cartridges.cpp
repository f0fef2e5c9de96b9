// The NES flash boards as cartridge kinds of cartlink-virtual: chip defaults per board and
// the options that change them.
#include <string>

#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/flash_board.h"

namespace vdev {

namespace {

enum class Board : uint8_t {
  prg_7000,
  prg_5116,
  prg_8000,
  prg_8001_one,
  prg_8001_two,
  prg_8001_two_5000,
  prg_8001_chip_5000,
  chr_8001,
  chr_9000,
  chr_4100,
  chr_4k_upper,
  chr_4k_inverted,
  chr_5120,
  work_ram,
  rom_file,
};

// Which chip the shared chip options set.
bool options_set_chr(Board b) {
  return b == Board::chr_8001 || b == Board::chr_9000 || b == Board::chr_4100 ||
         b == Board::chr_4k_upper || b == Board::chr_4k_inverted || b == Board::chr_5120;
}

// Chip defaults: big enough for every bank the job can reach, with the sectors its erase
// units name.
FlashBoardOptions defaults(Board b) {
  FlashBoardOptions o;
  o.prg.size = 0x200000;
  o.chr.size = 0x100000;
  switch (b) {
    case Board::prg_7000:
    case Board::prg_8001_one:
      o.prg.size = 0x20000;
      break;
    case Board::prg_8000:
    case Board::prg_8001_two:
    case Board::prg_8001_two_5000:
      o.prg.size = 0x40000;
      o.prg.sectors = {0x20000};  // two sectors, at banks 0 and 16
      break;
    case Board::chr_8001:
      o.chr.size = 0x40000;
      o.chr.sectors = {0x4000, 0x2000, 0x2000, 0x8000, 0x10000};  // small bottom sectors
      break;
    case Board::chr_9000:
    case Board::chr_4100:
    case Board::chr_4k_upper:
    case Board::chr_4k_inverted:
      o.chr.size = 0x80000;
      break;
    default:
      break;
  }
  return o;
}

std::unique_ptr<FlashBoard> make(Board b, const FlashBoardOptions& o) {
  switch (b) {
    case Board::prg_7000:
      return make_prg_7000_board(o);
    case Board::prg_8000:
      return make_prg_8000_board(o);
    case Board::prg_8001_one:
    case Board::prg_8001_two:
      return make_prg_8001_board(o, false);
    case Board::prg_8001_two_5000:
    case Board::prg_8001_chip_5000:
      return make_prg_8001_board(o, true);
    case Board::chr_8001:
      return make_chr_8001_board(o);
    case Board::chr_9000:
      return make_chr_9000_board(o);
    case Board::chr_4100:
      return make_chr_mmc3_board(o, ChrLayout::outer_4100);
    case Board::chr_4k_upper:
      return make_chr_mmc3_board(o, ChrLayout::upper_half);
    case Board::chr_4k_inverted:
      return make_chr_mmc3_board(o, ChrLayout::inverted);
    case Board::prg_5116:
    case Board::chr_5120:
    case Board::work_ram:
    case Board::rom_file:
      return make_window_board(o);
  }
  return nullptr;
}

bool parse_stuck(const std::string& text, uint32_t limit, StuckBit& out) {
  const size_t a = text.find(':');
  const size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  uint64_t offset = 0, mask = 0, value = 0;
  if (b == std::string::npos || !parse_option_number(text.substr(0, a), offset) ||
      !parse_option_number(text.substr(a + 1, b - a - 1), mask) ||
      !parse_option_number(text.substr(b + 1), value) || offset >= limit || mask > 0xFF ||
      value > 0xFF) {
    return false;
  }
  out = {static_cast<uint32_t>(offset), static_cast<uint8_t>(mask), static_cast<uint8_t>(value)};
  return true;
}

bool build(Board b, Device& device, const CartridgeOptions& options, std::string& error) {
  FlashBoardOptions o = defaults(b);
  if (!flash_chip_options(options, options_set_chr(b) ? o.chr : o.prg, error)) return false;
  if (auto it = options.find("chr-chip-size"); it != options.end()) {
    uint64_t size = 0;
    if (!parse_option_number(it->second, size) || size < 0x2000 || size > 0x1000000 ||
        (size & (size - 1)) != 0) {
      error = "--chr-chip-size '" + it->second + "': give a power of two from 8K to 16M";
      return false;
    }
    o.chr.size = static_cast<uint32_t>(size);
  }
  // The ROM-file board carries both chips: "--chr-NAME" sets the CHR chip's NAME, so a job's
  // CHR half can meet a faulty chip too.
  if (b == Board::rom_file) {
    CartridgeOptions chr;
    for (const auto& [name, value] : options) {
      if (name.rfind("chr-", 0) == 0 && name != "chr-chip-size") chr[name.substr(4)] = value;
    }
    chr["chip-size"] = std::to_string(o.chr.size);
    if (!flash_chip_options(chr, o.chr, error)) {
      error = "CHR chip: " + error;
      return false;
    }
  }
  if (auto it = options.find("ram-stuck-bit"); it != options.end()) {
    StuckBit stuck;
    if (!parse_stuck(it->second, 0x2000, stuck)) {
      error = "--ram-stuck-bit '" + it->second +
              "': give OFFSET:MASK:VALUE, OFFSET below 0x2000, MASK and VALUE bytes";
      return false;
    }
    o.ram_stuck = stuck;
  }
  device.insert_nes(make(b, o));
  return true;
}

}  // namespace

#define CARTLINK_FLASH_BUILD(fn, board)                                          \
  bool fn(Device& device, const CartridgeOptions& options, std::string& error) { \
    return build(Board::board, device, options, error);                          \
  }
CARTLINK_FLASH_BUILD(build_prg_flash_7000_pair, prg_7000)
CARTLINK_FLASH_BUILD(build_prg_flash_5116_window, prg_5116)
CARTLINK_FLASH_BUILD(build_prg_flash_8000_bank, prg_8000)
CARTLINK_FLASH_BUILD(build_prg_flash_8001_one_sector, prg_8001_one)
CARTLINK_FLASH_BUILD(build_prg_flash_8001_two_sectors, prg_8001_two)
CARTLINK_FLASH_BUILD(build_prg_flash_8001_two_sectors_5000, prg_8001_two_5000)
CARTLINK_FLASH_BUILD(build_prg_flash_8001_chip_5000, prg_8001_chip_5000)
CARTLINK_FLASH_BUILD(build_chr_flash_8001_boot_sectors, chr_8001)
CARTLINK_FLASH_BUILD(build_chr_flash_9000_1k, chr_9000)
CARTLINK_FLASH_BUILD(build_chr_flash_4100_2k1k, chr_4100)
CARTLINK_FLASH_BUILD(build_chr_flash_4k_upper, chr_4k_upper)
CARTLINK_FLASH_BUILD(build_chr_flash_4k_inverted, chr_4k_inverted)
CARTLINK_FLASH_BUILD(build_chr_flash_5120_1k, chr_5120)
CARTLINK_FLASH_BUILD(build_work_ram_flash, work_ram)
CARTLINK_FLASH_BUILD(build_rom_file_flash, rom_file)
#undef CARTLINK_FLASH_BUILD

}  // namespace vdev
