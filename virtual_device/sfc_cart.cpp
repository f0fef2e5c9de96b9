#include "virtual_device/sfc_cart.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "link/text.h"

namespace vdev {

namespace {

constexpr uint8_t kFamily = 15;
constexpr uint32_t kBusMask = 0xFFFFFF;
constexpr uint32_t kMaxRead = 2048;

// The device's own reading of the family's packets.
enum Sub : uint8_t {
  kIdentity = 1,
  kRead = 2,
  kWriteByte = 3,
  kHalfSelect = 4,
  kWriteAddr32 = 5,
  kWrite480 = 6,
  kWrite496 = 7,
  kLongRead = 9,
  kLongWrite = 10,
};

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t le24(const uint8_t* p) { return le16(p) | (static_cast<uint32_t>(p[2]) << 16); }

uint8_t pattern_byte(uint32_t offset) {
  return static_cast<uint8_t>((offset >> 16) ^ (offset >> 8) ^ (offset * 3));
}

}  // namespace

SfcCartridge::SfcCartridge(const DeviceConfig& device, SfcCartConfig config)
    : device_(device), flash_(config.flash), ram_(std::move(config.ram)) {
  auto& cells = flash_.bytes();
  if (config.rom.empty()) {
    for (uint32_t i = 0; i < cells.size(); ++i) cells[i] = pattern_byte(i);
  } else {
    std::copy_n(config.rom.begin(), std::min(config.rom.size(), cells.size()), cells.begin());
  }
  ram_.resize(config.ram_size, 0x00);
}

bool SfcCartridge::takes(uint8_t family) const { return family == kFamily; }

uint32_t SfcCartridge::firmware() const {
  if (device_.firmware) return static_cast<uint32_t>(*device_.firmware);
  const std::string_view id = device_.identity;
  const auto number_after = [&](size_t at) {
    return static_cast<uint32_t>(
        parse_decimal(reinterpret_cast<const uint8_t*>(id.data()) + at, id.size() - at));
  };
  if (id.starts_with("SFC_Q3V8_FW")) return number_after(11);
  if (id.starts_with("SFC_HWRKA_FW") || id.starts_with("GEN_HWRKA_FW")) return number_after(12);
  return 0;
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

void SfcCartridge::read_into_reply(uint32_t address, uint32_t length, SlotHost& host) {
  auto reply = host.reply();
  std::fill(reply.begin(), reply.end(), 0);
  const uint32_t n = std::min<uint32_t>({length, kMaxRead, static_cast<uint32_t>(reply.size())});
  for (uint32_t i = 0; i < n; ++i) reply[i] = read(address + i);
}

void SfcCartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const auto store_block = [&](uint32_t address, uint32_t limit) {
    const uint32_t n = std::min(le16(p + 8), limit);
    for (uint32_t i = 0; i < n; ++i) store(address + i, p[12 + i]);
  };
  switch (p[2]) {
    case kIdentity:
      host.set_identified();
      break;
    case kRead:
      read_into_reply(le24(p + 3), le16(p + 6), host);
      break;
    case kWriteByte:
      write(le24(p + 3), p[7]);
      break;
    case kHalfSelect:
      upper_half_ = p[3] != 0;
      break;
    case kWriteAddr32:  // the bus has 24 lines; address bits above them go nowhere
    case kWrite480:
      store_block(le24(p + 4), 480);
      break;
    case kWrite496:
      store_block(le24(p + 4), 496);
      break;
    case kLongRead:
      read_into_reply(le24(p + 4), le16(p + 8), host);
      break;
    case kLongWrite: {
      const uint32_t address = le24(p + 4);
      const uint32_t n = std::min<uint32_t>(le16(p + 8), 498);
      for (uint32_t i = 0; i < n; ++i) write(address + i, p[12 + i]);
      break;
    }
    default:
      break;  // not a sub-command this device knows
  }
}

uint64_t SfcCartridge::dump_size() const {
  return firmware() < kWholeWindowFirmware ? kHalf : uint64_t{kBusMask} + 1;
}

void SfcCartridge::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  const bool halves = firmware() < kWholeWindowFirmware;
  for (uint32_t i = 0; i < count; ++i) {
    auto address = static_cast<uint32_t>(offset + i);
    if (halves) address = (address & (kHalf - 1)) | (upper_half_ ? kHalf : 0);
    out[i] = peek(address);
  }
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
