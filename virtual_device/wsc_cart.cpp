#include "virtual_device/wsc_cart.h"

#include <algorithm>
#include <memory>

namespace vdev {

namespace {

uint8_t pattern_byte(uint32_t offset) {
  return static_cast<uint8_t>((offset >> 12) + (offset >> 4) * 5 + offset);
}

uint8_t byte_of(uint16_t word, uint32_t address) {
  return static_cast<uint8_t>((address & 1) ? word >> 8 : word);
}

// A byte on a 16-bit bus: the other half driven high.
uint16_t word_of(uint32_t address, uint8_t value) {
  return static_cast<uint16_t>((address & 1) ? (value << 8) | 0xFF : 0xFF00 | value);
}

}  // namespace

WscCartridge::WscCartridge(const DeviceConfig& device, WscCartConfig config)
    : WscSlotCartridge(device), flash_(config.flash) {
  auto& cells = flash_.bytes();
  if (config.rom.empty()) {
    for (uint32_t i = 0; i < cells.size(); ++i) cells[i] = pattern_byte(i);
  } else {
    std::copy_n(config.rom.begin(), std::min(config.rom.size(), cells.size()), cells.begin());
  }
}

uint8_t WscCartridge::read(uint32_t address) {
  address &= kSpaceMask;
  return byte_of(flash_.read_word(address >> 1), address);
}

uint8_t WscCartridge::peek(uint32_t address) const {
  address &= kSpaceMask;
  return byte_of(flash_.peek_word(address >> 1), address);
}

void WscCartridge::store(uint32_t address, uint8_t value) {
  address &= kSpaceMask;
  flash_.write_word(0x555, 0xAA);
  flash_.write_word(0x2AA, 0x55);
  flash_.write_word(0x555, 0xA0);
  flash_.write_word(address >> 1, word_of(address, value));
}

void WscCartridge::write_word(uint32_t address, uint16_t value) {
  flash_.write_word((address & kSpaceMask) >> 1, value);
}

void WscCartridge::write_byte(uint32_t address, uint8_t value) {
  flash_.write_word((address & kSpaceMask) >> 1, word_of(address, value));
}

std::vector<NamedMemory> WscCartridge::memories() { return {{"wsc_flash", &flash_.bytes()}}; }

bool build_wsc(Device& device, const CartridgeOptions& options, std::string& error) {
  WscCartConfig config;
  if (!flash_chip_options(options, config.flash, error)) return false;
  if (config.flash.size > WscCartridge::kSpace) {
    error = "--chip-size: the WSC flash takes at most 1M (the whole space)";
    return false;
  }
  if (!option_file(options, "rom", "ROM", config.rom, error, 1, config.flash.size)) return false;
  config.flash.word_mode = true;
  device.insert(std::make_unique<WscCartridge>(device.config(), std::move(config)));
  return true;
}

}  // namespace vdev
