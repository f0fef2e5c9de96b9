// The retail NES boards as cartridge kinds of cartlink-virtual: an iNES file or a built-in
// image, the work RAM's save, and the flaky byte.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include "virtual_device/cartridges.h"
#include "virtual_device/nes_rom_boards.h"
#include "virtual_device/rom_images.h"

namespace vdev {

namespace {

constexpr uint32_t kHeader = 16;
constexpr uint32_t kTrainer = 512;
constexpr uint32_t kPrgUnit = 0x4000;
constexpr uint32_t kChrUnit = 0x2000;
constexpr uint64_t kLargestFile = kHeader + kTrainer + 255u * kPrgUnit + 255u * kChrUnit;

std::string kib(uint32_t size) { return std::to_string(size / 1024) + "K"; }

bool size_fits(uint32_t size, uint32_t least, uint32_t most, bool zero_ok) {
  if (size == 0) return zero_ok;
  return std::has_single_bit(size) && size >= least && size <= most;
}

std::string sizes_wanted(const char* what, uint32_t least, uint32_t most, bool zero_ok) {
  return std::string(what) + " size: a power of two from " + kib(least) + " to " + kib(most) +
         (zero_ok ? " (or 0: 8K of CHR RAM)" : "");
}

}  // namespace

bool nes_rom_from_ines(const std::vector<uint8_t>& file, const std::string& name,
                       const NesRomLimits& limits, NesRomContents& contents, std::string& error) {
  if (file.size() < kHeader || std::memcmp(file.data(), "NES\x1A", 4) != 0) {
    error = name + " does not begin with NES<EOF>: not an iNES file";
    return false;
  }
  const uint32_t prg = file[4] * kPrgUnit;
  const uint32_t chr = file[5] * kChrUnit;
  const uint32_t trainer = (file[6] & 0x04) ? kTrainer : 0;
  // Old tools left text in bytes 7-15; a classic header with bytes 12-15 set has no upper
  // mapper nibble.
  const bool nes2 = (file[7] & 0x0C) == 0x08;
  const bool dirty = !nes2 && (file[12] | file[13] | file[14] | file[15]) != 0;
  const uint32_t mapper = (file[6] >> 4) | (dirty ? 0 : (file[7] & 0xF0));
  const uint64_t expected = uint64_t{kHeader} + trainer + prg + chr;
  if (file.size() != expected) {
    error = name + " is " + std::to_string(file.size()) + " bytes, but its header says " +
            std::to_string(expected) + " (16 + " + (trainer ? "512 + " : "") + kib(prg) +
            " PRG + " + kib(chr) + " CHR)";
    return false;
  }
  if (mapper != limits.ines_mapper) {
    error = name + " is for mapper " + std::to_string(mapper) + "; this board is mapper " +
            std::to_string(limits.ines_mapper);
    return false;
  }
  if (!size_fits(prg, limits.prg_min, limits.prg_max, false) ||
      !size_fits(chr, limits.chr_min, limits.chr_max, limits.chr_ram)) {
    error = name + " has " + kib(prg) + " PRG and " + kib(chr) + " CHR; this board takes " +
            sizes_wanted("PRG", limits.prg_min, limits.prg_max, false) + ", " +
            sizes_wanted("CHR", limits.chr_min, limits.chr_max, limits.chr_ram);
    return false;
  }
  const auto* data = file.data() + kHeader + trainer;
  contents.prg.assign(data, data + prg);
  contents.chr.assign(data + prg, data + prg + chr);
  return true;
}

namespace {

bool build_nes_retail(NesRomMapper mapper, Device& device, const CartridgeOptions& options,
                      std::string& error) {
  const NesRomLimits& limits = nes_rom_limits(mapper);
  NesRomContents contents;
  if (options.count("rom")) {
    if (options.count("prg-size") || options.count("chr-size")) {
      error = "--prg-size and --chr-size shape the built-in image; an iNES file gives its own";
      return false;
    }
    std::vector<uint8_t> file;
    if (!option_file(options, "rom", "iNES", file, error, kHeader, kLargestFile) ||
        !nes_rom_from_ines(file, "the iNES file " + options.at("rom"), limits, contents,
                           error)) {
      return false;
    }
  } else {
    uint64_t prg = std::min(limits.prg_max, 0x20000u);
    uint64_t chr = std::min(limits.chr_max, 0x8000u);
    if (mapper == NesRomMapper::uxrom) chr = 0;  // UNROM: CHR RAM
    if (!option_number(options, "prg-size", prg, error) ||
        !option_number(options, "chr-size", chr, error)) {
      return false;
    }
    if (!size_fits(static_cast<uint32_t>(prg), limits.prg_min, limits.prg_max, false)) {
      error = "--prg-size: " + sizes_wanted("PRG", limits.prg_min, limits.prg_max, false);
      return false;
    }
    if (!size_fits(static_cast<uint32_t>(chr), limits.chr_min, limits.chr_max, limits.chr_ram)) {
      error = "--chr-size: " + sizes_wanted("CHR", limits.chr_min, limits.chr_max,
                                            limits.chr_ram);
      return false;
    }
    const auto image = make_ines_image(limits.ines_mapper, static_cast<uint32_t>(prg),
                                       static_cast<uint32_t>(chr), NesMirroring::horizontal);
    if (image.empty()) {
      error = "no iNES header holds these sizes";
      return false;
    }
    const uint8_t* data = image.data() + kHeader;
    contents.prg.assign(data, data + prg);
    contents.chr.assign(data + prg, image.data() + image.size());
  }
  if (limits.work_ram) contents.wram.assign(NesRomBoard::kWorkRamSize, 0x00);
  if (!option_save(options, "work RAM", contents.wram, error) ||
      !option_flaky(options, contents.prg.size() + contents.chr.size(), contents.flaky, error)) {
    return false;
  }
  device.insert_nes(make_nes_rom_board(mapper, std::move(contents)));
  return true;
}

}  // namespace

const std::vector<CartridgeOption>& nes_rom_option_list(bool work_ram) {
  static const auto list = [](bool ram) {
    return join_options(
        {{"rom", "FILE", "an iNES file of this board's mapper (header bytes 4 and 5 give the "
                         "sizes; default: a built-in image, no two banks alike)"},
         {"prg-size", "SIZE", "built-in image PRG size"},
         {"chr-size", "SIZE", "built-in image CHR size (0: 8K of CHR RAM)"}},
        retail_option_list(ram ? "work RAM contents, exactly 8K (default: zeros)" : nullptr));
  };
  static const std::vector<CartridgeOption> with_ram = list(true);
  static const std::vector<CartridgeOption> without_ram = list(false);
  return work_ram ? with_ram : without_ram;
}

bool build_nes_nrom(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_nes_retail(NesRomMapper::nrom, device, options, error);
}
bool build_nes_mmc1(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_nes_retail(NesRomMapper::mmc1, device, options, error);
}
bool build_nes_uxrom(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_nes_retail(NesRomMapper::uxrom, device, options, error);
}
bool build_nes_cnrom(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_nes_retail(NesRomMapper::cnrom, device, options, error);
}
bool build_nes_mmc3(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_nes_retail(NesRomMapper::mmc3, device, options, error);
}

}  // namespace vdev
