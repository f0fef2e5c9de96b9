#include "cartridge/nes_banks.h"

#include <cstdio>
#include <vector>

#include "cartridge/io_check.h"
#include "cartridge/read_vote.h"
#include "link/link_state.h"
#include "nes/nes_family.h"

namespace {

constexpr NesMapperKind kKinds[] = {
    {0, "NROM", 0x8000, 0x2000},
    {1, "MMC1", 0x80000, 0x20000},
    {2, "UxROM", 0x40000, 0},
    {3, "CNROM", 0x8000, 0x100000},
    {4, "MMC3", 0x80000, 0x40000},
};

constexpr uint16_t kPrgWindow = 0x8000;
constexpr uint16_t kPrgFixedHigh = 0xC000;  // UxROM's last bank stays here
// MMC1 registers and the control value the dump reads with: PRG mode 3 ($8000 switched, the
// last bank fixed at $C000) and CHR in two 4 KiB banks.
constexpr uint16_t kMmc1Control = 0x8000;
constexpr uint16_t kMmc1Chr0 = 0xA000;
constexpr uint16_t kMmc1Chr1 = 0xC000;
constexpr uint16_t kMmc1Prg = 0xE000;
constexpr uint8_t kMmc1ReadMode = 0x1C;
constexpr uint8_t kMmc1Reset = 0x80;
constexpr uint8_t kMmc1RamOff = 0x10;     // PRG register bit 4: MMC1B's work RAM disabled
constexpr uint32_t kMmc1OuterBanks = 16;  // 16 KiB banks per 256 KiB half (SUROM)
// MMC3 registers: R0/R1 2 KiB CHR at $0000/$0800, R2-R5 1 KiB at $1000-$1C00, R6/R7 8 KiB PRG
// at $8000/$A000 (PRG mode 0, no CHR inversion).
constexpr uint16_t kMmc3Select = 0x8000;
constexpr uint16_t kMmc3Data = 0x8001;

bool cpu_read(uint16_t address, uint8_t* out, uint16_t length) {
  return cart_without_loss([&] { nes_cpu_read_block(address, out, length); });
}

}  // namespace

const NesMapperKind* nes_mapper_kind(uint32_t number) {
  for (const auto& kind : kKinds) {
    if (kind.number == number) return &kind;
  }
  return nullptr;
}

void nes_mmc1_write(uint16_t address, uint8_t value) {
  nes_cpu_write_byte(address, kMmc1Reset);
  for (int bit = 0; bit < 5; ++bit) {
    nes_cpu_write_byte(address, static_cast<uint8_t>((value >> bit) & 1));
  }
}

void nes_mmc3_write(uint8_t reg, uint8_t value) {
  nes_cpu_write_byte(kMmc3Select, static_cast<uint8_t>(reg & 7));
  nes_cpu_write_byte(kMmc3Data, value);
}

// From the fast level on, "DUMP.ROM" shows the bus the last command addressed: a byte read
// of the bus about to be read turns it there.
bool NesBanks::window_to_cpu() {
  if (g_link.protocol_level < kNesFastLevel) return true;
  return cart_without_loss([] { nes_cpu_read_byte(kPrgWindow); });
}

bool NesBanks::window_to_ppu() {
  if (g_link.protocol_level < kNesFastLevel) return true;
  return cart_without_loss([] { nes_ppu_read_byte(0); });
}

bool NesBanks::begin() {
  error_.clear();
  mmc1_outer_ = -1;
  if (kind_.number == 1) {
    if (!cart_without_loss([] { nes_mmc1_write(kMmc1Control, kMmc1ReadMode); })) {
      error_ = "a bank switch was lost";
      return false;
    }
    return true;
  }
  if (kind_.number != 2 && kind_.number != 3) return true;
  // UxROM keeps its last bank at $C000, CNROM all of its PRG at $8000: note where each byte
  // value sits there, read until it settles.
  const uint16_t first = kind_.number == 2 ? kPrgFixedHigh : kPrgWindow;
  const uint32_t length = 0x10000 - first;
  std::vector<uint8_t> fixed(length);
  if (!window_to_cpu() ||
      !read_settled(
          [](uint64_t a, uint8_t* o, uint32_t n) {
            return cpu_read(static_cast<uint16_t>(a), o, static_cast<uint16_t>(n));
          },
          first, fixed.data(), length)) {
    error_ = "the PRG that selects the banks did not read the same twice";
    return false;
  }
  for (uint32_t i = length; i-- > 0;) place_[fixed[i]] = static_cast<uint16_t>(first + i);
  return true;
}

bool NesBanks::can_select(bool chr, uint32_t bank) const {
  const bool latched = chr ? kind_.number == 3 : kind_.number == 2;
  return !latched || (bank < 256 && place_[bank] != 0);
}

bool NesBanks::conflict_free_write(uint8_t value) {
  if (place_[value] == 0) {
    char text[120];
    std::snprintf(text, sizeof text,
                  "no byte of the PRG that stays in place holds 0x%02X, so bank %u cannot be "
                  "selected without a bus conflict",
                  value, value);
    error_ = text;
    return false;
  }
  const uint16_t address = place_[value];
  return cart_without_loss([&] { nes_cpu_write_byte(address, value); });
}

bool NesBanks::select_prg(uint32_t bank, uint16_t& address) {
  address = kPrgWindow;
  bool ok = true;
  switch (kind_.number) {
    case 0:
    case 3:
      // 32 KiB in place: the two halves at $8000 and $C000.
      address = static_cast<uint16_t>(kPrgWindow + (bank & 1) * kNesPrgBank);
      ok = window_to_cpu();
      break;
    case 1:
      ok = cart_without_loss([&] {
        // SUROM boards take the 256 KiB half from the CHR registers; others ignore it there.
        const auto outer = static_cast<int32_t>(bank / kMmc1OuterBanks);
        if (outer != mmc1_outer_) {
          const auto chr = static_cast<uint8_t>(outer << 4);
          nes_mmc1_write(kMmc1Chr0, chr);
          nes_mmc1_write(kMmc1Chr1, chr);
          mmc1_outer_ = outer;
        }
        // Bit 4 set keeps MMC1B's work RAM disabled (MMC1A ignores it): a battery save is
        // never left open to writes by a dump.
        nes_mmc1_write(kMmc1Prg, static_cast<uint8_t>(kMmc1RamOff | bank % kMmc1OuterBanks));
      });
      break;
    case 2:
      ok = conflict_free_write(static_cast<uint8_t>(bank));
      break;
    case 4:
      ok = cart_without_loss([&] {
        nes_mmc3_write(6, static_cast<uint8_t>(bank * 2));
        nes_mmc3_write(7, static_cast<uint8_t>(bank * 2 + 1));
      });
      break;
    default:
      ok = false;
  }
  if (!ok && error_.empty()) error_ = "a bank switch was lost";
  return ok;
}

bool NesBanks::select_chr(uint32_t bank) {
  bool ok = true;
  switch (kind_.number) {
    case 0:
      break;
    case 1:
      ok = cart_without_loss([&] {
        nes_mmc1_write(kMmc1Chr0, static_cast<uint8_t>(bank * 2));
        nes_mmc1_write(kMmc1Chr1, static_cast<uint8_t>(bank * 2 + 1));
      });
      mmc1_outer_ = -1;  // the CHR registers no longer hold a PRG half
      break;
    case 3:
      ok = conflict_free_write(static_cast<uint8_t>(bank));
      break;
    case 4:
      ok = cart_without_loss([&] {
        const auto base = static_cast<uint8_t>(bank * 8);
        nes_mmc3_write(0, base);
        nes_mmc3_write(1, static_cast<uint8_t>(base + 2));
        for (uint8_t r = 2; r < 6; ++r) nes_mmc3_write(r, static_cast<uint8_t>(base + r + 2));
      });
      break;
    default:
      ok = false;
  }
  ok = ok && window_to_ppu();
  if (!ok && error_.empty()) error_ = "a bank switch was lost";
  return ok;
}

bool NesBanks::chr_is_ram(bool& ram) {
  ram = false;
  if (kind_.chr_max == 0) {
    ram = true;
    return true;
  }
  if (!select_chr(0)) return false;
  // Two bytes that both take their complement: RAM. ROM ignores the writes; one flaky read
  // alone cannot pass for RAM.
  const uint16_t places[] = {0x0000, 0x1FFF};
  uint32_t took = 0;
  const bool whole = cart_without_loss([&] {
    for (uint16_t at : places) {
      const uint8_t before = nes_ppu_read_byte(at);
      nes_ppu_write_byte(at, static_cast<uint8_t>(~before));
      const uint8_t after = nes_ppu_read_byte(at);
      if (after == static_cast<uint8_t>(~before)) {
        ++took;
        nes_ppu_write_byte(at, before);
      }
    }
  });
  if (!whole) {
    error_ = "the CHR memory test lost a command";
    return false;
  }
  ram = took == 2;
  return true;
}
