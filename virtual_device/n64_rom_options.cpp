// cartlink-virtual's n64-rom row: the options of the retail N64 cartridge and its build.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "formats/n64_header.h"
#include "virtual_device/device.h"
#include "virtual_device/n64_rom_cart.h"
#include "virtual_device/n64_rom_image.h"

namespace vdev {

namespace {

constexpr uint64_t kMaxRom = N64SlotCartridge::kWindowSize;
constexpr uint64_t kDefaultRomSize = 0x400000;
constexpr uint32_t kTitleMax = 20;
constexpr uint32_t kGameCodeSize = 4;
constexpr uint64_t kMaxPolls = 1000000;

bool printable(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

// A ROM file in any of the three byte orders, put into the bus's order.
bool rom_file(const CartridgeOptions& options, std::vector<uint8_t>& rom, std::string& error) {
  if (!option_file(options, "rom", "N64 ROM", rom, error, 4, kMaxRom)) return false;
  const N64ByteOrder order = n64_byte_order(rom.data());
  if (order == N64ByteOrder::v64 || order == N64ByteOrder::n64) {
    if (rom.size() % 4 != 0) {
      return fail(error, "--rom " + options.at("rom") +
                             ": a byte-swapped image must be a whole number of 32-bit words");
    }
    n64_to_z64(rom.data(), static_cast<uint32_t>(rom.size()), order);
  }
  return true;
}

// The built-in image of --rom-size with the header the options give.
bool built_in_rom(const CartridgeOptions& options, std::vector<uint8_t>& rom, std::string& error) {
  uint64_t size = kDefaultRomSize;
  uint64_t version = 0;
  if (!option_number(options, "rom-size", size, error, kMaxRom) ||
      !option_number(options, "version", version, error, 0xFF)) {
    return false;
  }
  if (size < kN64HeaderSize || size % 4 != 0) {
    return fail(error, "--rom-size: give a multiple of 4 bytes from 64 to 64M");
  }
  std::string title = "CARTLINK TEST";
  std::string game_code = "NCLE";
  if (auto it = options.find("title"); it != options.end()) title = it->second;
  if (auto it = options.find("game-code"); it != options.end()) game_code = it->second;
  if (title.size() > kTitleMax || !printable(title)) {
    return fail(error, "--title '" + title + "': give up to 20 printable ASCII characters");
  }
  if (game_code.size() != kGameCodeSize || !printable(game_code)) {
    return fail(error, "--game-code '" + game_code + "': give 4 printable ASCII characters");
  }
  N64BootChip chip = N64BootChip::cic6102;
  if (auto it = options.find("boot-chip"); it != options.end()) {
    bool found = false;
    for (uint32_t i = 0; i < kN64BootChipCount; ++i) {
      const auto candidate = static_cast<N64BootChip>(i);
      if (it->second == n64_boot_chip_name(candidate)) {
        chip = candidate;
        found = true;
      }
    }
    if (!found) return fail(error, "--boot-chip '" + it->second + "': give 6101, 6102, 6103, "
                                   "6105 or 6106");
  }
  rom = make_n64_image(static_cast<uint32_t>(size), title, game_code, chip,
                       static_cast<uint8_t>(version));
  return true;
}

// "OFFSET", "OFFSET:READS" or "OFFSET:always".
bool flaky_option(const CartridgeOptions& options, uint64_t rom_size, std::optional<N64Flaky>& out,
                  std::string& error) {
  auto it = options.find("flaky");
  if (it == options.end()) return true;
  const std::string_view text = it->second;
  const size_t colon = text.find(':');
  N64Flaky flaky;
  uint64_t offset = 0;
  uint64_t reads = 1;
  bool usable = parse_option_number(text.substr(0, colon), offset) && offset < rom_size;
  if (usable && colon != std::string_view::npos) {
    const std::string_view count = text.substr(colon + 1);
    if (count == "always") {
      flaky.always = true;
    } else {
      usable = parse_option_number(count, reads) && reads >= 1 && reads <= UINT32_MAX;
    }
  }
  if (!usable) {
    return fail(error, "--flaky '" + it->second + "': give OFFSET[:READS|:always] with OFFSET "
                       "inside the ROM image (" + std::to_string(rom_size) + " bytes)");
  }
  flaky.offset = static_cast<uint32_t>(offset);
  flaky.reads = static_cast<uint32_t>(reads);
  out = flaky;
  return true;
}

}  // namespace

const std::vector<CartridgeOption>& n64_rom_option_list() {
  static const std::vector<CartridgeOption> list = {
      {"rom", "FILE", "the ROM image (.z64, .v64 or .n64), up to 64M (default: built-in)"},
      {"rom-size", "SIZE", "size of the built-in image (default 4M)"},
      {"title", "TEXT", "the built-in image's title, up to 20 characters"},
      {"game-code", "CODE", "its game code, 4 characters (default NCLE)"},
      {"version", "N", "its version byte (default 0)"},
      {"boot-chip", "CIC", "the boot chip its CRC pair is made for: 6101, 6102 (default), "
                           "6103, 6105, 6106"},
      {"past-end", "MODE", "past the image's end: 'mirror' (default) or 'open-bus'"},
      {"save-type", "TYPE", "none (default), eeprom4k, eeprom16k, sram, sram96k or flash"},
      {"save", "FILE", "the save's contents, exactly the save type's size (saved as save.bin)"},
      {"flash-busy-polls", "N", "reads a flash save erase or program is busy for (default 3)"},
      {"flaky", "OFFSET[:N]", "that ROM byte reads a flipped bit on its first N reads (default "
                              "1); ':always': every read differs"},
  };
  return list;
}

bool build_n64_rom(Device& device, const CartridgeOptions& options, std::string& error) {
  N64RomCartConfig config;
  if (options.count("rom")) {
    for (const char* name : {"rom-size", "title", "game-code", "version", "boot-chip"}) {
      if (options.count(name)) {
        return fail(error, "--" + std::string(name) + " describes the built-in image; it does "
                           "not go with --rom");
      }
    }
    if (!rom_file(options, config.rom, error)) return false;
  } else if (!built_in_rom(options, config.rom, error)) {
    return false;
  }
  if (auto it = options.find("past-end"); it != options.end()) {
    if (it->second != "mirror" && it->second != "open-bus") {
      return fail(error, "--past-end '" + it->second + "': use mirror or open-bus");
    }
    config.open_bus_past_end = it->second == "open-bus";
  }
  if (auto it = options.find("save-type"); it != options.end()) {
    const auto type = n64_save_type_named(it->second);
    if (!type) {
      return fail(error, "--save-type '" + it->second + "': use none, eeprom4k, eeprom16k, "
                         "sram, sram96k or flash");
    }
    config.save_type = *type;
  }
  const uint32_t save_size = n64_save_size(config.save_type);
  if (options.count("save") && save_size == 0) {
    return fail(error, "--save needs a --save-type that has a save");
  }
  uint64_t polls = config.flash_busy_polls;
  if (!option_file(options, "save", "save", config.save, error, save_size, save_size) ||
      !option_number(options, "flash-busy-polls", polls, error, kMaxPolls) ||
      !flaky_option(options, config.rom.size(), config.flaky, error)) {
    return false;
  }
  config.flash_busy_polls = static_cast<uint32_t>(polls);
  device.insert(std::make_unique<N64RomCart>(std::move(config)));
  return true;
}

}  // namespace vdev
