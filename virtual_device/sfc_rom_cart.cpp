#include "virtual_device/sfc_rom_cart.h"

#include <bit>
#include <memory>
#include <string>

#include "virtual_device/rom_images.h"

namespace vdev {

namespace {

using Kind = SfcRomCartridge::Place::Kind;

constexpr uint32_t kRamSizeCode = 0x18;   // in the header block
constexpr uint32_t kMaxRamCode = 8;       // 256 KiB: what the HiROM window holds
constexpr uint32_t kMaxRam = 0x40000;
constexpr uint32_t kLoRomHalf = 0x8000;

uint32_t bank_of(uint32_t address) { return (address >> 16) & 0xFF; }

}  // namespace

SfcRomCartridge::SfcRomCartridge(const DeviceConfig& device, SfcRomConfig config)
    : SfcSlotCartridge(device),
      map_(config.map),
      rom_(std::move(config.rom)),
      ram_(std::move(config.ram)),
      flaky_(config.flaky) {
  if (rom_.empty()) rom_.assign(kLoRomHalf, 0xFF);
}

SfcRomCartridge::Place SfcRomCartridge::decode(uint32_t address) const {
  address &= kBusMask;
  const uint32_t bank = bank_of(address);
  const uint32_t low_bank = bank & 0x7F;  // boards leave address line 23 alone
  const uint32_t off = address & 0xFFFF;
  const auto rom = [&](uint32_t offset) {
    return Place{Kind::rom, rom_mirror(offset, static_cast<uint32_t>(rom_.size()))};
  };
  const auto ram = [&](uint32_t offset) {
    return Place{Kind::ram, offset % static_cast<uint32_t>(ram_.size())};
  };
  if (map_ == SfcMap::lorom) {
    // 32 KiB halves of banks $00-$7D and $80-$FF; battery RAM below them in $70-$7D.
    if (off >= 0x8000 && (bank < 0x7E || bank >= 0x80)) {
      return rom(low_bank * kLoRomHalf + off - 0x8000);
    }
    if (off < 0x8000 && low_bank >= 0x70 && low_bank <= 0x7D && !ram_.empty()) {
      return ram((low_bank - 0x70) * kLoRomHalf + off);
    }
    return {};
  }
  // HiROM and ExHiROM: 8 KiB of battery RAM at $6000-$7FFF of each bank $20-$3F.
  if (low_bank >= 0x20 && low_bank <= 0x3F && off >= 0x6000 && off < 0x8000 && !ram_.empty()) {
    return ram((low_bank - 0x20) * 0x2000 + off - 0x6000);
  }
  const uint32_t upper = map_ == SfcMap::exhirom ? 0x400000 : 0;  // the part at $40-$7D
  if (bank >= 0xC0) return rom(address & 0x3FFFFF);
  if (bank >= 0x40 && bank <= 0x7D) return rom(upper | (address & 0x3FFFFF));
  if (off >= 0x8000 && bank < 0x40) return rom(upper | (address & 0x3FFFFF));
  if (off >= 0x8000 && bank >= 0x80 && bank < 0xC0) return rom(address & 0x3FFFFF);
  return {};
}

uint8_t SfcRomCartridge::read(uint32_t address) {
  const Place p = decode(address);
  if (p.kind == Kind::rom) return flaky_read(flaky_, p.offset, rom_[p.offset]);
  return peek(address);
}

uint8_t SfcRomCartridge::peek(uint32_t address) const {
  const Place p = decode(address);
  switch (p.kind) {
    case Kind::rom: return rom_[p.offset];
    case Kind::ram: return ram_[p.offset];
    case Kind::open: break;
  }
  return kOpenBus;
}

void SfcRomCartridge::write(uint32_t address, uint8_t value) {
  const Place p = decode(address);
  if (p.kind == Kind::ram) ram_[p.offset] = value;
}

std::vector<NamedMemory> SfcRomCartridge::memories() {
  std::vector<NamedMemory> out{{"rom", &rom_}};
  if (!ram_.empty()) out.push_back({"sram", &ram_});
  return out;
}

bool sfc_rom_from_file(SfcMap map, std::vector<uint8_t> file, const std::string& name,
                       std::optional<uint32_t> ram_size, SfcRomConfig& config,
                       std::string& error) {
  const size_t size = file.size();
  if (size == 0 || size % kLoRomHalf != 0 || size > sfc_image_rom_limit(map)) {
    error = name + " is " + std::to_string(size) + " bytes, " +
            (size % kLoRomHalf == 512 ? "with a 512-byte copier header: remove it"
                                      : "not a whole number of 32 KiB up to " +
                                            std::to_string(sfc_image_rom_limit(map) >> 20) + "M");
    return false;
  }
  if (!ram_size) {
    const uint32_t code_at = sfc_image_header_offset(map) + kRamSizeCode;
    const uint32_t code = code_at < size ? file[code_at] : 0;
    if (code > kMaxRamCode) {
      error = name + ": its header gives RAM size code " + std::to_string(code) +
              ", more than the board maps (256 KiB); give --ram-size";
      return false;
    }
    ram_size = code ? 1024u << code : 0;
  }
  config.map = map;
  config.rom = std::move(file);
  config.ram.assign(*ram_size, 0x00);
  return true;
}

namespace {

// The ROM image from --rom (RAM size from its header unless given) or the built-in one.
bool sfc_rom_options(SfcMap map, const CartridgeOptions& options, SfcRomConfig& config,
                     std::string& error) {
  const uint32_t limit = sfc_image_rom_limit(map);
  const uint32_t unit = map == SfcMap::lorom ? kLoRomHalf : 0x10000;
  uint64_t ram_size = 0x2000;
  if (!option_number(options, "ram-size", ram_size, error, kMaxRam)) return false;
  if (ram_size != 0 && (ram_size < 0x800 || !std::has_single_bit(ram_size))) {
    error = "--ram-size: give 0 (none) or a power of two from 2K to 256K";
    return false;
  }
  if (options.count("rom")) {
    if (options.count("rom-size") || options.count("title")) {
      error = "--rom-size and --title shape the built-in image; a --rom file brings its own";
      return false;
    }
    std::vector<uint8_t> file;
    if (!option_file(options, "rom", "ROM", file, error, kLoRomHalf, limit)) return false;
    std::optional<uint32_t> given;
    if (options.count("ram-size")) given = static_cast<uint32_t>(ram_size);
    return sfc_rom_from_file(map, std::move(file), "the ROM file " + options.at("rom"), given,
                             config, error);
  }
  uint64_t rom_size = map == SfcMap::lorom ? 0x100000 : map == SfcMap::hirom ? 0x200000
                                                                               : 0x600000;
  if (!option_number(options, "rom-size", rom_size, error, limit)) return false;
  const uint32_t least = map == SfcMap::exhirom ? 0x410000 : unit;
  if (rom_size < least || rom_size % unit != 0) {
    error = "--rom-size: give a multiple of " + std::to_string(unit / 1024) + "K from " +
            std::to_string(least / 1024) + "K to " + std::to_string(limit >> 20) + "M";
    return false;
  }
  const auto title = options.count("title") ? options.at("title") : std::string("CARTLINK TEST");
  config.rom = make_sfc_image(map, static_cast<uint32_t>(rom_size),
                              static_cast<uint32_t>(ram_size), title);
  config.ram.assign(ram_size, 0x00);
  return true;
}

bool build_sfc_retail(SfcMap map, Device& device, const CartridgeOptions& options,
                      std::string& error) {
  SfcRomConfig config;
  config.map = map;
  if (!sfc_rom_options(map, options, config, error) ||
      !option_save(options, "battery RAM", config.ram, error) ||
      !option_flaky(options, config.rom.size(), config.flaky, error)) {
    return false;
  }
  device.insert(std::make_unique<SfcRomCartridge>(device.config(), std::move(config)));
  return true;
}

}  // namespace

const std::vector<CartridgeOption>& sfc_rom_option_list() {
  static const std::vector<CartridgeOption> list = join_options(
      {{"rom", "FILE", "the ROM image, no copier header (default: a built-in image with a "
                       "correct header)"},
       {"rom-size", "SIZE", "built-in image size (default 1M LoROM, 2M HiROM, 6M ExHiROM)"},
       {"title", "TEXT", "built-in image title (default CARTLINK TEST)"},
       {"ram-size", "SIZE", "battery RAM: 0 or 2K-256K (default: the --rom header's, else 8K)"}},
      retail_option_list("battery RAM contents, exactly its size (default: zeros)"));
  return list;
}

bool build_sfc_lorom(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_sfc_retail(SfcMap::lorom, device, options, error);
}
bool build_sfc_hirom(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_sfc_retail(SfcMap::hirom, device, options, error);
}
bool build_sfc_exhirom(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_sfc_retail(SfcMap::exhirom, device, options, error);
}

}  // namespace vdev
