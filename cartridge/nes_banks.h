// Bank switching of the common NES boards, through the family's CPU-bus writes, as a dump (and
// a save job, for their work-RAM enables) needs it: NROM (mapper 0), MMC1 boards (1), UxROM (2),
// CNROM (3) and MMC3 boards (4). A dump sees PRG through CPU $8000-$BFFF 16 KiB at a time and
// CHR through PPU $0000-$1FFF 8 KiB at a time.
#pragma once
#include <cstdint>
#include <string>

inline constexpr uint32_t kNesPrgBank = 0x4000;  // 16 KiB: one iNES PRG unit
inline constexpr uint32_t kNesChrBank = 0x2000;  // 8 KiB: one iNES CHR unit

struct NesMapperKind {
  uint8_t number;         // iNES mapper number
  const char* name;
  uint32_t prg_max;       // the most PRG the board's registers reach
  uint32_t chr_max;       // the most CHR ROM; 0 when the board always has CHR RAM
};

// The kind for an iNES mapper number; nullptr for one this code does not switch.
const NesMapperKind* nes_mapper_kind(uint32_t number);

// MMC1: one register write through its serial port (a reset, then five bits, low bit first).
void nes_mmc1_write(uint16_t address, uint8_t value);
// MMC3: bank register `reg` (0-7) set to `value` through $8000/$8001.
void nes_mmc3_write(uint8_t reg, uint8_t value);

// The banks of one board as the dump reads them. Every call reports a lost command or answer
// (false); `error` then, or on a write the board cannot take safely, says what went wrong.
class NesBanks {
 public:
  explicit NesBanks(const NesMapperKind& kind) : kind_(kind) {}

  // Puts the board into the modes the dump reads in; UxROM and CNROM read the PRG that stays
  // in place, to find where each bank number can be written without a bus conflict.
  bool begin();
  // Shows 16 KiB PRG bank `bank` and gives the CPU address it starts at.
  bool select_prg(uint32_t bank, uint16_t& address);
  // Shows 8 KiB CHR bank `bank` at PPU $0000.
  bool select_chr(uint32_t bank);
  // Whether the board has CHR RAM where CHR ROM would be (a byte there takes a write).
  bool chr_is_ram(bool& ram);
  // Whether a bank can be selected at all: a latch behind a bus conflict takes only values that
  // the PRG in place holds somewhere.
  bool can_select(bool chr, uint32_t bank) const;

  const std::string& error() const { return error_; }

 private:
  // A write to $8000-$FFFF where the PRG already holds `value`, so that the ROM driving the
  // bus at the same time cannot change what the board latches.
  bool conflict_free_write(uint8_t value);
  bool window_to_cpu();
  bool window_to_ppu();

  const NesMapperKind& kind_;
  std::string error_;
  // Where each value sits in the PRG that never moves (0: nowhere).
  uint16_t place_[256] = {};
  // MMC1: the 256 KiB PRG half last chosen through the CHR registers (-1: none yet).
  int32_t mmc1_outer_ = -1;
};
