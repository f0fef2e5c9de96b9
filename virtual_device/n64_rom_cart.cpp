#include "virtual_device/n64_rom_cart.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vdev {

namespace {

constexpr uint32_t kEepromIdBytes = 3;
constexpr std::array<uint8_t, kEepromIdBytes> kEeprom4kId = {0x00, 0x80, 0x00};
constexpr std::array<uint8_t, kEepromIdBytes> kEeprom16kId = {0x00, 0xC0, 0x00};

// Nothing drives the bus: a word reads as the low 16 bits of its own (even) address.
uint16_t open_bus_word(uint32_t address) { return static_cast<uint16_t>(address & ~1u); }
uint8_t open_bus_byte(uint32_t address) {
  const uint16_t word = open_bus_word(address);
  return static_cast<uint8_t>((address & 1) ? word : word >> 8);
}

bool is_sram(N64SaveType type) { return type == N64SaveType::sram || type == N64SaveType::sram96k; }

}  // namespace

N64RomCart::N64RomCart(N64RomCartConfig config) : config_(std::move(config)) {
  const uint32_t size = n64_save_size(config_.save_type);
  if (config_.save_type == N64SaveType::flash) {
    flash_.emplace(config_.flash_busy_polls);
    if (config_.save.size() == size) flash_->bytes() = config_.save;
  } else if (size != 0) {
    memory_ = config_.save.size() == size ? config_.save
                                          : std::vector<uint8_t>(size, is_sram(config_.save_type) ? 0x00 : 0xFF);
  }
  config_.save.clear();
  config_.save.shrink_to_fit();
}

bool N64RomCart::has_eeprom() const {
  return config_.save_type == N64SaveType::eeprom4k || config_.save_type == N64SaveType::eeprom16k;
}

std::vector<uint8_t>& N64RomCart::save() { return flash_ ? flash_->bytes() : memory_; }

void N64RomCart::read_window(uint32_t offset, uint8_t* out, uint32_t count) {
  const auto& rom = config_.rom;
  const auto size = static_cast<uint32_t>(rom.size());
  while (count > 0) {
    if (size == 0 || (offset >= size && config_.open_bus_past_end)) {
      for (uint32_t i = 0; i < count; ++i) out[i] = open_bus_byte(offset + i);
      return;
    }
    const uint32_t from = offset % size;
    const uint32_t n = std::min(count, size - from);
    std::memcpy(out, rom.data() + from, n);
    if (config_.flaky && config_.flaky->offset >= from && config_.flaky->offset - from < n) {
      const N64Flaky& f = *config_.flaky;
      const uint32_t k = flaky_reads_++;
      uint8_t& byte = out[f.offset - from];
      if (f.always) {
        byte ^= static_cast<uint8_t>(k % 255 + 1);
      } else if (k < f.reads) {
        byte ^= static_cast<uint8_t>(1u << (k % 8));
      }
    }
    out += n;
    offset += n;
    count -= n;
  }
}

void N64RomCart::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  const uint64_t inside = offset < kWindowSize ? std::min<uint64_t>(count, kWindowSize - offset) : 0;
  if (inside > 0) read_window(static_cast<uint32_t>(offset), out, static_cast<uint32_t>(inside));
  std::fill(out + inside, out + count, 0xFF);
}

uint16_t N64RomCart::bus_read_word(uint32_t address) {
  if (n64_in_window(address)) {
    uint8_t pair[2];
    read_window(address & kN64WindowMask & ~1u, pair, 2);
    return static_cast<uint16_t>(pair[0] << 8 | pair[1]);
  }
  if (n64_in_save_domain(address)) {
    const auto type = config_.save_type;
    if (type == N64SaveType::flash) return flash_->read_word(address - kN64SaveBase);
    if (is_sram(type)) {
      if (auto at = n64_sram_offset(address & ~1u, static_cast<uint32_t>(memory_.size()))) {
        return static_cast<uint16_t>(memory_[*at] << 8 | memory_[*at + 1]);
      }
    }
  }
  return open_bus_word(address);
}

void N64RomCart::bus_write_word(uint32_t address, uint16_t value) {
  if (!n64_in_save_domain(address)) return;  // mask ROM and the open bus take nothing
  const auto type = config_.save_type;
  if (type == N64SaveType::flash) {
    flash_->write_word(address - kN64SaveBase, value);
  } else if (is_sram(type)) {
    if (auto at = n64_sram_offset(address & ~1u, static_cast<uint32_t>(memory_.size()))) {
      memory_[*at] = static_cast<uint8_t>(value >> 8);
      memory_[*at + 1] = static_cast<uint8_t>(value);
    }
  }
}

std::vector<uint8_t>& N64RomCart::paged_memory() { return has_eeprom() ? memory_ : none_; }

N64SlotCartridge::ProbedMemory N64RomCart::probed_memory() {
  ProbedMemory m;
  if (!has_eeprom()) {
    m.selector = kN64NoMemorySelector;
    m.id.fill(0xFF);
    return m;
  }
  const auto& id = config_.save_type == N64SaveType::eeprom4k ? kEeprom4kId : kEeprom16kId;
  m.selector = kN64EepromSelector;
  std::copy(id.begin(), id.end(), m.id.begin());
  m.ready = true;
  m.wraps = true;  // a 4 Kbit chip ignores the block number's upper bits
  m.bytes = &memory_;
  return m;
}

void N64RomCart::tick() {
  if (flash_) flash_->tick();
}

std::vector<NamedMemory> N64RomCart::memories() {
  if (config_.save_type == N64SaveType::none) return {};
  return {{"save", &save()}};
}

}  // namespace vdev
