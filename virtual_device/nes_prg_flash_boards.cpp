// PRG flash boards: one per PRG flash job, each with the bank registers its job writes.
#include <array>

#include "virtual_device/flash_board.h"

namespace vdev {

namespace {

constexpr uint32_t k8K = 0x2000;

// $7000 selects a 32 KiB bank at $8000-$FFFF.
class Prg7000Board : public FlashBoard {
 public:
  explicit Prg7000Board(const FlashBoardOptions& o) {
    add_prg_chip(o.prg);
    map_register(0x7000, [this](uint8_t v) { bank_ = v; });
    map_prg(0x8000, 0xFFFF, [this](uint16_t a) { return bank_ * 0x8000u + (a & 0x7FFFu); });
  }

 private:
  uint8_t bank_ = 0;
};

// $8000 selects an 8 KiB bank at $8000-$9FFF; $A000-$FFFF hold the chip's last 24 KiB.
class Prg8000Board : public FlashBoard {
 public:
  explicit Prg8000Board(const FlashBoardOptions& o) {
    add_prg_chip(o.prg);
    const uint32_t size = prg_chip()->config().size;
    map_register(0x8000, [this](uint8_t v) { bank_ = v; });
    map_prg(0x8000, 0x9FFF, [this](uint16_t a) { return bank_ * k8K + (a & 0x1FFFu); });
    map_prg(0xA000, 0xFFFF, [size](uint16_t a) { return size - 0x6000u + (a - 0xA000u); });
  }

 private:
  uint8_t bank_ = 0;
};

// MMC3-like PRG: $8000 picks the register that $8001 loads; R6 banks $8000, R7 $A000, and
// $C000-$FFFF hold the last 16 KiB (of the 1 MiB block that $5000 picks, when there is one).
class Prg8001Board : public FlashBoard {
 public:
  Prg8001Board(const FlashBoardOptions& o, bool outer) {
    add_prg_chip(o.prg);
    map_register(0x8000, [this](uint8_t v) { select_ = v & 7; });
    map_register(0x8001, [this](uint8_t v) { r_[select_] = v; });
    if (outer) map_register(0x5000, [this](uint8_t v) { outer_ = v; });
    // With the outer register, R6 and R7 give the low 7 bits of the bank number.
    const uint32_t inner_mask = outer ? 0x7F : 0xFF;
    auto bank = [this, inner_mask](uint8_t r) { return outer_ * 128u + (r & inner_mask); };
    map_prg(0x8000, 0x9FFF, [this, bank](uint16_t a) { return bank(r_[6]) * k8K + (a & 0x1FFFu); });
    map_prg(0xA000, 0xBFFF, [this, bank](uint16_t a) { return bank(r_[7]) * k8K + (a & 0x1FFFu); });
    const uint32_t size = prg_chip()->config().size;
    map_prg(0xC000, 0xFFFF, [size](uint16_t a) { return size - 0x4000u + (a & 0x3FFFu); });
  }

 private:
  uint8_t select_ = 0;
  std::array<uint8_t, 8> r_{0, 2, 4, 5, 6, 7, 0, 1};
  uint8_t outer_ = 0;
};

// MMC5-like: $5114-$5117 bank $8000, $A000, $C000, $E000 in 8 KiB units; $5120-$5127 bank
// PPU $0000-$1FFF in 1 KiB units, each taking $5130 as its upper bits when written.
class WindowBoard : public FlashBoard {
 public:
  explicit WindowBoard(const FlashBoardOptions& o) {
    add_prg_chip(o.prg);
    add_chr_chip(o.chr);
    map_work_ram(o.ram_stuck);
    for (uint16_t w = 0; w < 4; ++w) {
      map_register(0x5114 + w, [this, w](uint8_t v) { prg_[w] = v; });
      map_prg(0x8000 + w * 0x2000, 0x9FFF + w * 0x2000,
              [this, w](uint16_t a) { return prg_[w] * k8K + (a & 0x1FFFu); });
    }
    map_register(0x5130, [this](uint8_t v) { chr_upper_ = v; });
    for (uint16_t w = 0; w < 8; ++w) {
      map_register(0x5120 + w, [this, w](uint8_t v) { chr_[w] = chr_upper_ * 256u + v; });
      map_chr(w * 0x400, w * 0x400 + 0x3FF,
              [this, w](uint16_t a) { return chr_[w] * 0x400u + (a & 0x3FFu); });
    }
  }

 private:
  std::array<uint8_t, 4> prg_{0, 1, 2, 3};
  std::array<uint32_t, 8> chr_{0, 1, 2, 3, 4, 5, 6, 7};
  uint8_t chr_upper_ = 0;
};

}  // namespace

std::unique_ptr<FlashBoard> make_prg_7000_board(const FlashBoardOptions& options) {
  return std::make_unique<Prg7000Board>(options);
}
std::unique_ptr<FlashBoard> make_prg_8000_board(const FlashBoardOptions& options) {
  return std::make_unique<Prg8000Board>(options);
}
std::unique_ptr<FlashBoard> make_prg_8001_board(const FlashBoardOptions& options, bool outer) {
  return std::make_unique<Prg8001Board>(options, outer);
}
std::unique_ptr<FlashBoard> make_window_board(const FlashBoardOptions& options) {
  return std::make_unique<WindowBoard>(options);
}

}  // namespace vdev
