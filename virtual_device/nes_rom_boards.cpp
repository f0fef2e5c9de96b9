#include "virtual_device/nes_rom_boards.h"

#include <array>

namespace vdev {

namespace {

constexpr uint32_t k1K = 0x400;
constexpr uint32_t k4K = 0x1000;
constexpr uint32_t k8K = 0x2000;
constexpr uint32_t k16K = 0x4000;

// A banked window onto ROM (or CHR RAM). Window reads count as reads of a flaky byte, as the
// contact is the same whichever way the device reads.
class RomWindow : public BusPart {
 public:
  RomWindow(std::vector<uint8_t>& bytes, std::optional<FlakyByte>* flaky, uint32_t flaky_base,
            uint16_t first, std::function<uint32_t(uint16_t)> map, bool writable)
      : bytes_(bytes), flaky_(flaky), flaky_base_(flaky_base), first_(first),
        map_(std::move(map)), writable_(writable) {}
  uint8_t read(uint32_t offset) override {
    const uint32_t at = where(offset);
    return flaky_ ? flaky_read(*flaky_, flaky_base_ + at, bytes_[at]) : bytes_[at];
  }
  void write(uint32_t offset, uint8_t value) override {
    if (writable_) bytes_[where(offset)] = value;
  }

 private:
  uint32_t where(uint32_t offset) const {
    return map_(static_cast<uint16_t>(first_ + offset)) % static_cast<uint32_t>(bytes_.size());
  }
  std::vector<uint8_t>& bytes_;
  std::optional<FlakyByte>* flaky_;
  uint32_t flaky_base_;
  uint16_t first_;
  std::function<uint32_t(uint16_t)> map_;
  bool writable_;
};

class Registers : public BusPart {
 public:
  Registers(uint16_t first, std::function<void(uint16_t, uint8_t)> on_write)
      : first_(first), on_write_(std::move(on_write)) {}
  uint8_t read(uint32_t) override { return NesRomBoard::kOpenBus; }
  void write(uint32_t offset, uint8_t value) override {
    on_write_(static_cast<uint16_t>(first_ + offset), value);
  }

 private:
  uint16_t first_;
  std::function<void(uint16_t, uint8_t)> on_write_;
};

class WorkRam : public BusPart {
 public:
  WorkRam(std::vector<uint8_t>& bytes, std::function<bool()> readable,
          std::function<bool()> writable)
      : bytes_(bytes), readable_(std::move(readable)), writable_(std::move(writable)) {}
  uint8_t read(uint32_t offset) override {
    return readable_() ? bytes_[offset % bytes_.size()] : NesRomBoard::kOpenBus;
  }
  void write(uint32_t offset, uint8_t value) override {
    if (writable_()) bytes_[offset % bytes_.size()] = value;
  }

 private:
  std::vector<uint8_t>& bytes_;
  std::function<bool()> readable_;
  std::function<bool()> writable_;
};

}  // namespace

const NesRomLimits& nes_rom_limits(NesRomMapper mapper) {
  static const std::array<NesRomLimits, 5> limits = {{
      {0, k16K, 0x8000, k8K, k8K, true, false},            // NROM
      {1, 0x8000, 0x40000, k8K, 0x20000, true, true},      // SxROM (MMC1), up to SNROM/SKROM
      {2, 0x8000, 0x40000, k8K, k8K, true, false},         // UxROM: UNROM, UOROM
      {3, k16K, 0x8000, k8K, 0x100000, false, false},      // CNROM
      {4, 0x8000, 0x80000, k8K, 0x40000, true, true},      // TxROM (MMC3)
  }};
  return limits[static_cast<size_t>(mapper)];
}

NesRomBoard::NesRomBoard(NesRomContents contents)
    : prg_(std::move(contents.prg)),
      chr_(std::move(contents.chr)),
      wram_(std::move(contents.wram)),
      flaky_(contents.flaky) {
  if (prg_.empty()) prg_.assign(k16K, 0xFF);
}

std::vector<NamedMemory> NesRomBoard::memories() {
  std::vector<NamedMemory> out{{"prg", &prg_}};
  if (!chr_.empty()) out.push_back({"chr", &chr_});
  if (!wram_.empty()) out.push_back({"wram", &wram_});
  return out;
}

void NesRomBoard::map_prg(uint16_t first, uint16_t last, BankMap map) {
  prg_windows_.push_back({first, last, map});
  parts_.push_back(std::make_unique<RomWindow>(prg_, &flaky_, 0, first, std::move(map), false));
  cpu_.map(first, last, *parts_.back(), Bus::Access::read_only);
}

void NesRomBoard::map_chr(uint16_t first, uint16_t last, BankMap map) {
  if (chr_.empty()) {
    chr_ram_.assign(k8K, 0x00);
    parts_.push_back(
        std::make_unique<RomWindow>(chr_ram_, nullptr, 0, first, std::move(map), true));
  } else {
    parts_.push_back(std::make_unique<RomWindow>(chr_, &flaky_,
                                                 static_cast<uint32_t>(prg_.size()), first,
                                                 std::move(map), false));
  }
  ppu_.map(first, last, *parts_.back());
}

void NesRomBoard::map_registers(uint16_t first, uint16_t last,
                                std::function<void(uint16_t, uint8_t)> on_write) {
  parts_.push_back(std::make_unique<Registers>(first, std::move(on_write)));
  cpu_.map(first, last, *parts_.back(), Bus::Access::write_only);
}

void NesRomBoard::map_work_ram(std::function<bool()> readable, std::function<bool()> writable) {
  if (wram_.empty()) return;
  parts_.push_back(std::make_unique<WorkRam>(wram_, std::move(readable), std::move(writable)));
  cpu_.map(0x6000, 0x7FFF, *parts_.back());
}

uint8_t NesRomBoard::prg_at(uint16_t address) {
  for (auto it = prg_windows_.rbegin(); it != prg_windows_.rend(); ++it) {
    if (address >= it->first && address <= it->last) {
      return prg_[it->map(address) % static_cast<uint32_t>(prg_.size())];
    }
  }
  return kOpenBus;
}

namespace {

// NROM: PRG at $8000-$FFFF (16 KiB twice), CHR at PPU $0000-$1FFF; nothing switches.
class NromBoard : public NesRomBoard {
 public:
  explicit NromBoard(NesRomContents c) : NesRomBoard(std::move(c)) {
    map_prg(0x8000, 0xFFFF, [](uint16_t a) { return a - 0x8000u; });
    map_chr(0x0000, 0x1FFF, [](uint16_t a) { return uint32_t{a}; });
  }
};

// SxROM (MMC1): a five-write serial register at $8000-$FFFF (bit 7 resets it and sets PRG
// mode 3); the fifth write loads control ($8000), CHR bank 0 ($A000), CHR bank 1 ($C000) or
// PRG bank ($E000, bit 4 set disables work RAM). With CHR RAM the board is SNROM, whose work
// RAM is also disabled by bit 4 of the CHR register in use: CHR bank 0 in 8 KiB mode, either
// register in 4 KiB mode (the PPU switches between them as it draws).
class Mmc1Board : public NesRomBoard {
 public:
  explicit Mmc1Board(NesRomContents c) : NesRomBoard(std::move(c)), snrom_(chr().empty()) {
    if (snrom_) chr0_ = chr1_ = 0x10;  // undefined at power-on: the state that keeps RAM off
    map_prg(0x8000, 0xFFFF, [this](uint16_t a) { return prg_bank(a) * k16K + (a & 0x3FFFu); });
    map_chr(0x0000, 0x1FFF, [this](uint16_t a) {
      if (control_ & 0x10) return (a < k4K ? chr0_ : chr1_) * k4K + (a & 0xFFFu);
      return (chr0_ & 0x1Eu) * k4K + (a & 0x1FFFu);
    });
    map_registers(0x8000, 0xFFFF, [this](uint16_t a, uint8_t v) { serial(a, v); });
    map_work_ram([this] { return ram_enabled(); }, [this] { return ram_enabled(); });
  }

 private:
  bool ram_enabled() const {
    if (prg_ & 0x10) return false;
    if (!snrom_) return true;
    return (chr0_ & 0x10) == 0 && ((control_ & 0x10) == 0 || (chr1_ & 0x10) == 0);
  }
  uint32_t prg_bank(uint16_t a) const {
    const uint32_t bank = prg_ & 0x0F;
    const uint32_t last = prg_banks(k16K) - 1;
    switch ((control_ >> 2) & 3) {
      case 2: return a < 0xC000 ? 0 : bank;
      case 3: return a < 0xC000 ? bank : last;
      default: return (bank & ~1u) + (a < 0xC000 ? 0 : 1);  // 32 KiB at once
    }
  }
  void serial(uint16_t a, uint8_t v) {
    if (v & 0x80) {
      shift_ = 0;
      count_ = 0;
      control_ |= 0x0C;
      return;
    }
    shift_ = static_cast<uint8_t>(shift_ | ((v & 1) << count_));
    if (++count_ < 5) return;
    switch ((a >> 13) & 3) {
      case 0: control_ = shift_; break;
      case 1: chr0_ = shift_; break;
      case 2: chr1_ = shift_; break;
      default: prg_ = shift_; break;
    }
    shift_ = 0;
    count_ = 0;
  }

  bool snrom_;
  uint8_t shift_ = 0;
  uint8_t count_ = 0;
  uint8_t control_ = 0x0C;  // power-on: PRG mode 3, the last bank fixed at $C000
  uint8_t chr0_ = 0;
  uint8_t chr1_ = 0;
  uint8_t prg_ = 0x10;      // power-on: work RAM disabled until the PRG register enables it
};

// UxROM: the PRG bank at $8000-$BFFF by a write anywhere in $8000-$FFFF, the last bank fixed
// at $C000. The ROM drives the data bus during the write too: the register gets the value
// ANDed with the ROM byte at that address.
class UxromBoard : public NesRomBoard {
 public:
  explicit UxromBoard(NesRomContents c) : NesRomBoard(std::move(c)) {
    const uint32_t last = prg_banks(k16K) - 1;
    map_prg(0x8000, 0xBFFF, [this](uint16_t a) { return bank_ * k16K + (a & 0x3FFFu); });
    map_prg(0xC000, 0xFFFF, [last](uint16_t a) { return last * k16K + (a & 0x3FFFu); });
    map_chr(0x0000, 0x1FFF, [](uint16_t a) { return uint32_t{a}; });
    map_registers(0x8000, 0xFFFF, [this](uint16_t a, uint8_t v) { bank_ = v & prg_at(a); });
  }

 private:
  uint8_t bank_ = 0;
};

// CNROM: fixed PRG, the 8 KiB CHR bank by a write to $8000-$FFFF, with the same bus conflict.
class CnromBoard : public NesRomBoard {
 public:
  explicit CnromBoard(NesRomContents c) : NesRomBoard(std::move(c)) {
    map_prg(0x8000, 0xFFFF, [](uint16_t a) { return a - 0x8000u; });
    map_chr(0x0000, 0x1FFF, [this](uint16_t a) { return bank_ * k8K + a; });
    map_registers(0x8000, 0xFFFF, [this](uint16_t a, uint8_t v) { bank_ = v & prg_at(a); });
  }

 private:
  uint8_t bank_ = 0;
};

// TxROM (MMC3): $8000 (even) selects R0-R7, PRG mode (bit 6) and CHR inversion (bit 7); $8001
// (odd) loads the selected register; $A000 mirroring, $A001 work RAM enable (bit 7) and write
// protect (bit 6); $C000-$FFFF the scanline counter, which has nothing to do here. Registers
// decode A0 and A13-A14 only, so each repeats through its 8 KiB.
class Mmc3Board : public NesRomBoard {
 public:
  explicit Mmc3Board(NesRomContents c) : NesRomBoard(std::move(c)) {
    map_prg(0x8000, 0xFFFF, [this](uint16_t a) { return prg_bank(a) * k8K + (a & 0x1FFFu); });
    map_chr(0x0000, 0x1FFF, [this](uint16_t a) { return chr_bank(a) * k1K + (a & 0x3FFu); });
    map_registers(0x8000, 0xFFFF, [this](uint16_t a, uint8_t v) { write(a, v); });
    map_work_ram([this] { return (ram_ & 0x80) != 0; },
                 [this] { return (ram_ & 0xC0) == 0x80; });
  }

 private:
  uint32_t prg_bank(uint16_t a) const {
    const uint32_t second_last = prg_banks(k8K) - 2;
    const bool swapped = (select_ & 0x40) != 0;
    switch ((a >> 13) & 3) {
      case 0: return swapped ? second_last : r_[6] & 0x3Fu;
      case 1: return r_[7] & 0x3Fu;
      case 2: return swapped ? r_[6] & 0x3Fu : second_last;
      default: return second_last + 1;
    }
  }
  uint32_t chr_bank(uint16_t a) const {
    uint32_t slot = a >> 10;  // 1 KiB slot 0-7
    if (select_ & 0x80) slot ^= 4;
    if (slot < 4) return (r_[slot >> 1] & 0xFEu) + (slot & 1);
    return r_[slot - 2];
  }
  void write(uint16_t a, uint8_t v) {
    const bool odd = (a & 1) != 0;
    if (a < 0xA000) {
      if (odd) {
        r_[select_ & 7] = v;
      } else {
        select_ = v;
      }
    } else if (a < 0xC000 && odd) {
      ram_ = v;
    }
  }

  uint8_t select_ = 0;
  std::array<uint8_t, 8> r_{0, 2, 4, 5, 6, 7, 0, 1};
  uint8_t ram_ = 0;  // power-on: work RAM disabled until $A001 enables it
};

}  // namespace

std::unique_ptr<NesRomBoard> make_nes_rom_board(NesRomMapper mapper, NesRomContents contents) {
  switch (mapper) {
    case NesRomMapper::nrom: return std::make_unique<NromBoard>(std::move(contents));
    case NesRomMapper::mmc1: return std::make_unique<Mmc1Board>(std::move(contents));
    case NesRomMapper::uxrom: return std::make_unique<UxromBoard>(std::move(contents));
    case NesRomMapper::cnrom: return std::make_unique<CnromBoard>(std::move(contents));
    case NesRomMapper::mmc3: return std::make_unique<Mmc3Board>(std::move(contents));
  }
  return nullptr;
}

}  // namespace vdev
