#include "virtual_device/wsc_rom_cart.h"

#include <memory>
#include <string>

#include "formats/wsc_footer.h"
#include "virtual_device/rom_images.h"

namespace vdev {

namespace {

constexpr uint32_t kSaveTypeAt = 11;  // in the footer
constexpr uint32_t kLargestRom = 0x1000000;  // 16 MiB, the footer's largest size

}  // namespace

const std::vector<WscSaveType>& wsc_save_types() {
  static const std::vector<WscSaveType> types = {
      {"none", 0x00, false, 0},           {"sram8k", 0x01, false, 0x2000},
      {"sram32k", 0x02, false, 0x8000},   {"sram128k", 0x03, false, 0x20000},
      {"sram256k", 0x04, false, 0x40000}, {"sram512k", 0x05, false, 0x80000},
      {"eeprom128", 0x10, true, 128},     {"eeprom2k", 0x20, true, 0x800},
      {"eeprom1k", 0x50, true, 0x400},
  };
  return types;
}

const WscSaveType* wsc_save_type_by_code(uint8_t code) {
  for (const auto& t : wsc_save_types()) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

const WscSaveType* wsc_save_type_by_name(std::string_view name) {
  for (const auto& t : wsc_save_types()) {
    if (name == t.name) return &t;
  }
  return nullptr;
}

WscRomCartridge::WscRomCartridge(const DeviceConfig& device, WscRomConfig config)
    : WscSlotCartridge(device),
      rom_(std::move(config.rom)),
      sram_(std::move(config.sram)),
      eeprom_(std::move(config.eeprom)),
      flaky_(config.flaky),
      flaky_after_(config.flaky_after) {
  if (rom_.empty()) rom_.assign(kWscFooterSize, 0xFF);
}

WscRomCartridge::Place WscRomCartridge::decode(uint32_t address) const {
  address &= kSpaceMask;
  if (!sram_.empty() && address >= kSramFirst && address < kSramFirst + kSramWindow) {
    return {true, (address - kSramFirst) % static_cast<uint32_t>(sram_.size())};
  }
  // Top-mapped: the ROM's last byte at 0xFFFFF, so the offset counts down from the top.
  const auto size = static_cast<uint32_t>(rom_.size());
  const uint32_t below_top = kSpace - address;  // 1 .. kSpace
  const uint32_t back = (below_top - 1) % size;
  return {false, size - 1 - back};
}

uint8_t WscRomCartridge::read(uint32_t address) {
  const Place p = decode(address);
  if (p.sram) return sram_[p.offset];
  if (flaky_ && flaky_after_ > 0 && p.offset == flaky_->offset()) {
    --flaky_after_;
    return rom_[p.offset];
  }
  return flaky_read(flaky_, p.offset, rom_[p.offset]);
}

uint8_t WscRomCartridge::peek(uint32_t address) const {
  const Place p = decode(address);
  return p.sram ? sram_[p.offset] : rom_[p.offset];
}

void WscRomCartridge::write_byte(uint32_t address, uint8_t value) {
  const Place p = decode(address);
  if (p.sram) sram_[p.offset] = value;
}

void WscRomCartridge::write_word(uint32_t address, uint16_t value) {
  write_byte(address, static_cast<uint8_t>(value));
  write_byte((address + 1) & kSpaceMask, static_cast<uint8_t>(value >> 8));
}

std::vector<NamedMemory> WscRomCartridge::memories() {
  std::vector<NamedMemory> out{{"rom", &rom_}};
  if (!sram_.empty()) out.push_back({"sram", &sram_});
  if (!eeprom_.empty()) out.push_back({"eeprom", &eeprom_});
  return out;
}

bool wsc_rom_from_file(std::vector<uint8_t> file, const std::string& name, WscRomConfig& config,
                       std::string& error) {
  if (file.size() < kWscFooterSize || file.size() > WscSlotCartridge::kSpace) {
    error = name + " is " + std::to_string(file.size()) + " bytes: " +
            (file.size() < kWscFooterSize ? "too short for the footer"
                                          : "the WSC family reaches only the 1 MiB space, so a "
                                            "ROM larger than 1 MiB cannot be shown");
    return false;
  }
  const uint8_t code = file[file.size() - kWscFooterSize + kSaveTypeAt];
  const WscSaveType* save = wsc_save_type_by_code(code);
  if (!save) {
    error = name + ": its footer names save type " + std::to_string(code) +
            ", which this cartridge does not know";
    return false;
  }
  config.rom = std::move(file);
  (save->eeprom ? config.eeprom : config.sram).assign(save->size, 0x00);
  return true;
}

bool build_wsc_rom(Device& device, const CartridgeOptions& options, std::string& error) {
  WscRomConfig config;
  if (options.count("rom")) {
    if (options.count("rom-size") || options.count("save-type") || options.count("color")) {
      error = "--rom-size, --save-type and --color shape the built-in image; a --rom file's "
              "footer names its own";
      return false;
    }
    std::vector<uint8_t> file;
    if (!option_file(options, "rom", "ROM", file, error, kWscFooterSize, kLargestRom) ||
        !wsc_rom_from_file(std::move(file), "the ROM file " + options.at("rom"), config,
                           error)) {
      return false;
    }
  } else {
    uint64_t rom_size = 0x80000;  // below the SRAM window: dumpable whole
    bool color = true;
    if (!option_number(options, "rom-size", rom_size, error, WscSlotCartridge::kSpace) ||
        !option_flag(options, "color", color, error)) {
      return false;
    }
    const WscSaveType* save =
        wsc_save_type_by_name(options.count("save-type") ? options.at("save-type") : "sram32k");
    if (!save) {
      std::string names;
      for (const auto& t : wsc_save_types()) {
        names += std::string(names.empty() ? "" : ", ") + t.name;
      }
      error = "--save-type '" + options.at("save-type") + "': use one of " + names;
      return false;
    }
    config.rom = make_wsc_image(static_cast<uint32_t>(rom_size), save->code, color);
    if (config.rom.empty()) {
      error = "--rom-size: give 128K, 256K, 512K or 1M";
      return false;
    }
    (save->eeprom ? config.eeprom : config.sram).assign(save->size, 0x00);
  }
  const bool eeprom = !config.eeprom.empty();
  if (!option_save(options, eeprom ? "EEPROM" : "SRAM", eeprom ? config.eeprom : config.sram,
                   error) ||
      !option_flaky(options, config.rom.size(), config.flaky, error)) {
    return false;
  }
  if (options.count("flaky-after")) {
    uint64_t after = 0;
    if (!config.flaky) {
      error = "--flaky-after delays the --flaky byte's wrong reads: give --flaky too";
      return false;
    }
    if (!option_number(options, "flaky-after", after, error, UINT32_MAX)) return false;
    config.flaky_after = static_cast<uint32_t>(after);
  }
  device.insert(std::make_unique<WscRomCartridge>(device.config(), std::move(config)));
  return true;
}

const std::vector<CartridgeOption>& wsc_rom_option_list() {
  static const std::vector<CartridgeOption> list = join_options(
      {{"rom", "FILE", "the ROM image, at most 1M, top-mapped (default: a built-in image with a "
                       "correct footer)"},
       {"rom-size", "SIZE", "built-in image size: 128K, 256K, 512K (default) or 1M (with SRAM, "
                            "the SRAM window hides part of a 1M ROM)"},
       {"save-type", "TYPE", "built-in footer's save: none, sram8k, sram32k (default), "
                             "sram128k, sram256k, sram512k, eeprom128, eeprom1k, eeprom2k"},
       {"color", "yes|no", "built-in footer's colour flag (default yes)"},
       {"flaky-after", "K", "the --flaky byte reads right K times before its wrong reads "
                            "start (default 0)"}},
      retail_option_list("SRAM or EEPROM contents, exactly its size (default: zeros)"));
  return list;
}

}  // namespace vdev
