#include "virtual_device/flash_board.h"

namespace vdev {

namespace {

constexpr uint16_t kWorkRamFirst = 0x6000;
constexpr uint32_t kWorkRamSize = 0x2000;
constexpr uint16_t kWorkRamEnable = 0x5002;

class ChipWindow : public BusPart {
 public:
  ChipWindow(FlashChip& chip, uint16_t first, BankMap map)
      : chip_(chip), first_(first), map_(std::move(map)) {}
  uint8_t read(uint32_t offset) override { return chip_.read(at(offset)); }
  uint8_t peek(uint32_t offset) override { return chip_.peek(at(offset)); }
  void write(uint32_t offset, uint8_t value) override { chip_.write(at(offset), value); }

 private:
  uint32_t at(uint32_t offset) const {
    return map_(static_cast<uint16_t>(first_ + offset)) % chip_.config().size;
  }
  FlashChip& chip_;
  uint16_t first_;
  BankMap map_;
};

class WorkRam : public BusPart {
 public:
  WorkRam(std::vector<uint8_t>& bytes, const bool& enabled, std::optional<StuckBit> stuck)
      : bytes_(bytes), enabled_(enabled), stuck_(stuck) {}
  uint8_t read(uint32_t offset) override {
    offset %= bytes_.size();
    uint8_t v = bytes_[offset];
    if (stuck_ && stuck_->offset == offset) {
      v = static_cast<uint8_t>((v & ~stuck_->mask) | (stuck_->value & stuck_->mask));
    }
    return v;
  }
  void write(uint32_t offset, uint8_t value) override {
    if (enabled_) bytes_[offset % bytes_.size()] = value;
  }

 private:
  std::vector<uint8_t>& bytes_;
  const bool& enabled_;
  std::optional<StuckBit> stuck_;
};

}  // namespace

void FlashBoard::cpu_write(uint16_t address, uint8_t value) {
  if (auto it = registers_.find(address); it != registers_.end()) {
    it->second(value);
  } else {
    cpu_.write(address, value);
  }
}

void FlashBoard::cpu_flash_write(uint16_t address, uint8_t value) {
  flash_path_.write(address, value);
}

void FlashBoard::tick() {
  if (prg_) prg_->tick();
  if (chr_) chr_->tick();
}

std::vector<NamedMemory> FlashBoard::memories() {
  std::vector<NamedMemory> out;
  if (prg_) out.push_back({"prg", &prg_->bytes()});
  if (chr_) out.push_back({"chr", &chr_->bytes()});
  return out;
}

void FlashBoard::add_prg_chip(const FlashChipConfig& config) {
  prg_ = std::make_unique<FlashChip>(config);
}

void FlashBoard::add_chr_chip(const FlashChipConfig& config) {
  chr_ = std::make_unique<FlashChip>(config);
}

void FlashBoard::map_prg(uint16_t first, uint16_t last, BankMap map) {
  parts_.push_back(std::make_unique<ChipWindow>(*prg_, first, std::move(map)));
  cpu_.map(first, last, *parts_.back());
  flash_path_.map(first, last, *parts_.back());
}

void FlashBoard::map_chr(uint16_t first, uint16_t last, BankMap map) {
  parts_.push_back(std::make_unique<ChipWindow>(*chr_, first, std::move(map)));
  ppu_.map(first, last, *parts_.back());
}

void FlashBoard::map_register(uint16_t address, std::function<void(uint8_t)> on_write) {
  registers_[address] = std::move(on_write);
}

void FlashBoard::map_work_ram(std::optional<StuckBit> stuck) {
  work_ram_.assign(kWorkRamSize, 0x00);
  parts_.push_back(std::make_unique<WorkRam>(work_ram_, work_ram_enabled_, stuck));
  cpu_.map(kWorkRamFirst, kWorkRamFirst + kWorkRamSize - 1, *parts_.back());
  map_register(kWorkRamEnable, [this](uint8_t v) { work_ram_enabled_ = (v & 2) != 0; });
}

}  // namespace vdev
