// CHR flash boards: one per CHR flash job, each with the CHR bank registers its job writes.
#include <array>

#include "virtual_device/flash_board.h"

namespace vdev {

namespace {

// $8001 selects an 8 KiB bank at PPU $0000-$1FFF.
class Chr8001Board : public FlashBoard {
 public:
  explicit Chr8001Board(const FlashBoardOptions& o) {
    add_chr_chip(o.chr);
    map_register(0x8001, [this](uint8_t v) { bank_ = v; });
    map_chr(0x0000, 0x1FFF, [this](uint16_t a) { return bank_ * 0x2000u + (a & 0x1FFFu); });
  }

 private:
  uint8_t bank_ = 0;
};

// $9000-$9007 bank PPU $0000-$1FFF in 1 KiB units; $A000-$A007 give each bank number bit 8.
class Chr9000Board : public FlashBoard {
 public:
  explicit Chr9000Board(const FlashBoardOptions& o) {
    add_chr_chip(o.chr);
    for (uint16_t w = 0; w < 8; ++w) {
      map_register(0x9000 + w, [this, w](uint8_t v) { low_[w] = v; });
      map_register(0xA000 + w, [this, w](uint8_t v) { high_[w] = v & 1; });
      map_chr(w * 0x400, w * 0x400 + 0x3FF, [this, w](uint16_t a) {
        return (high_[w] * 256u + low_[w]) * 0x400u + (a & 0x3FFu);
      });
    }
  }

 private:
  std::array<uint8_t, 8> low_{0, 1, 2, 3, 4, 5, 6, 7};
  std::array<uint8_t, 8> high_{};
};

// MMC3-like CHR banking: $8000 picks the register that $8001 loads. R0 and R1 bank 2 KiB
// (their low bit ignored), R2-R5 bank 1 KiB, all numbers in 1 KiB units.
class ChrMmc3Board : public FlashBoard {
 public:
  ChrMmc3Board(const FlashBoardOptions& o, ChrLayout layout) : layout_(layout) {
    add_chr_chip(o.chr);
    map_register(0x8000, [this](uint8_t v) { select_ = v; });
    map_register(0x8001, [this](uint8_t v) { r_[select_ & 7] = v; });
    if (layout == ChrLayout::outer_4100) map_register(0x4100, [this](uint8_t v) { outer_ = v; });
    map_chr(0x0000, 0x1FFF, [this](uint16_t a) { return chip_offset(a); });
  }

 private:
  uint32_t chip_offset(uint16_t a) const {
    const bool upper = (a & 0x1000) != 0;
    const bool swapped = layout_ == ChrLayout::upper_half ||
                         (layout_ == ChrLayout::inverted && (select_ & 0x80) != 0);
    // In the half that the 2 KiB registers serve, R0 covers the first 2 KiB and R1 the second.
    uint32_t bank;
    uint32_t within;
    if (upper == swapped) {
      bank = r_[(a & 0x0800) ? 1 : 0] & 0xFEu;
      within = a & 0x7FFu;
    } else {
      bank = r_[2 + ((a >> 10) & 3)];
      within = a & 0x3FFu;
    }
    if (layout_ == ChrLayout::outer_4100) bank += (outer_ & 4) ? 256u : 0u;
    if (layout_ != ChrLayout::outer_4100 && upper) bank += 256u;  // PPU A12 picks the half
    return bank * 0x400u + within;
  }

  ChrLayout layout_;
  uint8_t select_ = 0;
  std::array<uint8_t, 8> r_{0, 2, 4, 5, 6, 7, 0, 1};
  uint8_t outer_ = 0;
};

}  // namespace

std::unique_ptr<FlashBoard> make_chr_8001_board(const FlashBoardOptions& options) {
  return std::make_unique<Chr8001Board>(options);
}
std::unique_ptr<FlashBoard> make_chr_9000_board(const FlashBoardOptions& options) {
  return std::make_unique<Chr9000Board>(options);
}
std::unique_ptr<FlashBoard> make_chr_mmc3_board(const FlashBoardOptions& options,
                                                ChrLayout layout) {
  return std::make_unique<ChrMmc3Board>(options, layout);
}

}  // namespace vdev
