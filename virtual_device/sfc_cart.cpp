#include "virtual_device/sfc_cart.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace vdev {

namespace {

uint8_t pattern_byte(uint32_t offset) {
  return static_cast<uint8_t>((offset >> 16) ^ (offset >> 8) ^ (offset * 3));
}

}  // namespace

SfcCartridge::SfcCartridge(const DeviceConfig& device, SfcCartConfig config)
    : SfcSlotCartridge(device), flash_(config.flash), ram_(std::move(config.ram)) {
  auto& cells = flash_.bytes();
  if (config.rom.empty()) {
    for (uint32_t i = 0; i < cells.size(); ++i) cells[i] = pattern_byte(i);
  } else {
    std::copy_n(config.rom.begin(), std::min(config.rom.size(), cells.size()), cells.begin());
  }
  ram_.resize(config.ram_size, 0x00);
}

uint8_t SfcCartridge::read(uint32_t address) {
  address &= kBusMask;
  if (address < kFlashEnd) return flash_.read(address);
  return peek(address);
}

uint8_t SfcCartridge::peek(uint32_t address) const {
  address &= kBusMask;
  if (address < kFlashEnd) return flash_.peek(address);
  if (address >= kRamBase && !ram_.empty()) return ram_[(address - kRamBase) % ram_.size()];
  return 0xFF;  // open bus
}

void SfcCartridge::write(uint32_t address, uint8_t value) {
  address &= kBusMask;
  if (address < kFlashEnd) {
    flash_.write(address, value);
  } else if (address >= kRamBase && !ram_.empty()) {
    ram_[(address - kRamBase) % ram_.size()] = value;
  }
}

void SfcCartridge::store(uint32_t address, uint8_t value) {
  address &= kBusMask;
  if (address < kFlashEnd) {
    flash_.write(0xAAA, 0xAA);
    flash_.write(0x555, 0x55);
    flash_.write(0xAAA, 0xA0);
  }
  write(address, value);
}

std::vector<NamedMemory> SfcCartridge::memories() {
  return {{"sfc_flash", &flash_.bytes()}, {"sfc_ram", &ram_}};
}

bool build_sfc(Device& device, const CartridgeOptions& options, std::string& error) {
  SfcCartConfig config;
  uint64_t ram_size = config.ram_size;
  if (!flash_chip_options(options, config.flash, error)) return false;
  if (config.flash.size > SfcCartridge::kFlashEnd) {
    error = "--chip-size: the SFC flash takes at most 8M (the lower half of the bus)";
    return false;
  }
  if (!option_number(options, "ram-size", ram_size, error, 0x100000) ||
      !option_file(options, "rom", "ROM", config.rom, error, 1, config.flash.size) ||
      !option_file(options, "ram", "battery RAM", config.ram, error, 1, 0x100000)) {
    return false;
  }
  config.flash.word_mode = false;
  config.ram_size = config.ram.empty() ? static_cast<uint32_t>(ram_size)
                                       : static_cast<uint32_t>(config.ram.size());
  device.insert(std::make_unique<SfcCartridge>(device.config(), std::move(config)));
  return true;
}

}  // namespace vdev
