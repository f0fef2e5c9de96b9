#include "virtual_device/n64_cart.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "virtual_device/device.h"

namespace vdev {

namespace {
constexpr uint8_t kOpenBus = 0xFF;
uint32_t word_of(uint32_t address) { return (address & kN64WindowMask) >> 1; }
}  // namespace

uint8_t n64_pattern_byte(uint32_t offset) {
  return static_cast<uint8_t>(offset * 7 + (offset >> 8) * 3 + (offset >> 16) * 5 +
                              (offset >> 24) * 11);
}

N64Cart::N64Cart(N64CartConfig config)
    : config_(std::move(config)),
      flash_(config_.chip),
      pages_(std::max<uint32_t>(config_.page_memory_size, 1), 0xFF),
      save_(std::max<uint32_t>(config_.save_size, 1), 0xFF) {
  // The chip keeps words little-endian; the bus takes the even byte as the high one.
  auto& cells = flash_.bytes();
  const size_t size = cells.size();
  if (config_.rom.empty()) {
    for (size_t i = 0; i < size; ++i) cells[i ^ 1] = n64_pattern_byte(static_cast<uint32_t>(i));
  } else {
    const size_t n = std::min(config_.rom.size(), size);
    for (size_t i = 0; i < n; ++i) cells[i ^ 1] = config_.rom[i];
  }
}

uint16_t N64Cart::bus_read_word(uint32_t address) {
  if (!n64_in_window(address)) return static_cast<uint16_t>(kOpenBus << 8 | kOpenBus);
  return flash_.read_word(word_of(address));
}

void N64Cart::bus_write_word(uint32_t address, uint16_t value) {
  if (n64_in_window(address)) flash_.write_word(word_of(address), value);
}

// The chip sits in the window only: a program cycle elsewhere must not leave it waiting for
// a word.
void N64Cart::program_word(uint32_t address, uint16_t value) {
  if (n64_in_window(address)) N64SlotCartridge::program_word(address, value);
}

N64SlotCartridge::ProbedMemory N64Cart::probed_memory() {
  return {config_.selector, config_.save_id, config_.save_ready, false, &save_};
}

uint8_t N64Cart::rom_byte(uint32_t offset) const {
  const uint16_t word = flash_.peek_word((offset & kN64WindowMask) >> 1);
  return static_cast<uint8_t>((offset & 1) ? word : word >> 8);
}

void N64Cart::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = offset + i;
    out[i] = at < kWindowSize ? rom_byte(static_cast<uint32_t>(at)) : kOpenBus;
  }
}

std::vector<NamedMemory> N64Cart::memories() {
  const size_t size = flash_.bytes().size();
  rom_image_.resize(size);
  for (size_t i = 0; i < size; ++i) rom_image_[i] = flash_.bytes()[i ^ 1];
  return {{"N64_ROM", &rom_image_}, {"N64_PAGES", &pages_}, {"N64_SAVE", &save_}};
}

}  // namespace vdev

namespace vdev {

namespace {
bool parse_id(const std::string& text, std::array<uint8_t, 8>& id) {
  if (text.size() != 16) return false;
  for (size_t i = 0; i < 8; ++i) {
    uint64_t v = 0;
    if (!parse_option_number("0x" + text.substr(2 * i, 2), v)) return false;
    id[i] = static_cast<uint8_t>(v);
  }
  return true;
}
}  // namespace

const std::vector<CartridgeOption>& n64_option_list() {
  static const std::vector<CartridgeOption> list = join_options(
      {{"rom", "FILE", "cartridge ROM as .z64, up to the chip size (default: a pattern)"},
       {"pages", "FILE", "paged save memory (sub-commands 8, 9), up to 2 KiB"},
       {"save", "FILE", "probed save memory contents, up to --save-size"},
       {"save-size", "SIZE", "probed save memory size (default 128K)"},
       {"selector", "N", "memory selector the probe answers (default 3)"},
       {"save-id", "HEX", "the probe's 8 identification bytes as 16 hex digits"},
       {"save-ready", "yes|no", "the status bit of the probed memory (default yes)"}},
      flash_chip_option_list());
  return list;
}

bool build_n64(Device& device, const CartridgeOptions& options, std::string& error) {
  N64CartConfig config;
  if (!flash_chip_options(options, config.chip, error)) return false;
  config.chip.word_mode = true;
  if (config.chip.size > N64Cart::kWindowSize) {
    error = "--chip-size: the N64 ROM window holds at most 64M";
    return false;
  }
  uint64_t save_size = config.save_size;
  uint64_t selector = config.selector;
  std::vector<uint8_t> pages, save;
  if (!option_file(options, "rom", "N64 ROM", config.rom, error, 1, config.chip.size) ||
      !option_number(options, "save-size", save_size, error, 0x1000000) ||
      !option_file(options, "pages", "paged save memory", pages, error, 1,
                   config.page_memory_size) ||
      !option_number(options, "selector", selector, error, 0xFF) ||
      !option_flag(options, "save-ready", config.save_ready, error)) {
    return false;
  }
  if (save_size == 0) {
    error = "--save-size: give at least 1 byte";
    return false;
  }
  config.save_size = static_cast<uint32_t>(save_size);
  config.selector = static_cast<uint8_t>(selector);
  if (!option_file(options, "save", "probed save memory", save, error, 1, save_size)) return false;
  if (auto it = options.find("save-id");
      it != options.end() && !parse_id(it->second, config.save_id)) {
    error = "--save-id '" + it->second + "': give 16 hex digits";
    return false;
  }
  auto cart = std::make_unique<N64Cart>(std::move(config));
  std::copy(pages.begin(), pages.end(), cart->page_memory().begin());
  std::copy(save.begin(), save.end(), cart->save_memory().begin());
  device.insert(std::move(cart));
  return true;
}

}  // namespace vdev
