// Retail NES boards for the virtual device: mask-ROM PRG and CHR behind the mappers of NROM,
// SxROM (MMC1), UxROM, CNROM and TxROM (MMC3) boards, with work RAM behind the board's enable
// where the board has it. Built from the bus parts of nes_boards.h: banked ROM windows,
// register ranges, work RAM.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_device/nes_boards.h"
#include "virtual_device/retail.h"

namespace vdev {

enum class NesRomMapper : uint8_t { nrom, mmc1, uxrom, cnrom, mmc3 };

// What a board kind takes: its iNES mapper number, the PRG and CHR sizes it can hold (powers of
// two; CHR 0 is 8 KiB of CHR RAM) and whether it carries 8 KiB of work RAM.
struct NesRomLimits {
  uint16_t ines_mapper;
  uint32_t prg_min, prg_max;
  uint32_t chr_min, chr_max;  // of CHR ROM
  bool chr_ram;               // CHR 0 allowed
  bool work_ram;
};
const NesRomLimits& nes_rom_limits(NesRomMapper mapper);

struct NesRomContents {
  std::vector<uint8_t> prg;
  std::vector<uint8_t> chr;   // empty: 8 KiB of CHR RAM
  std::vector<uint8_t> wram;  // the board's work RAM (empty on boards without)
  // Offset into PRG followed by CHR (an iNES file's offset minus its header).
  std::optional<FlakyByte> flaky;
};

// PRG and CHR out of a whole iNES file (`name` says which in messages): header bytes 4 and 5
// give the sizes, byte 6 bit 2 a trainer before them; the file must be exactly that long, of the
// board's mapper and within its sizes.
bool nes_rom_from_ines(const std::vector<uint8_t>& file, const std::string& name,
                       const NesRomLimits& limits, NesRomContents& contents, std::string& error);

class NesRomBoard : public PartsBoard {
 public:
  static constexpr uint8_t kOpenBus = 0xFF;
  static constexpr uint32_t kWorkRamSize = 0x2000;

  NesRomBoard(const NesRomBoard&) = delete;
  NesRomBoard& operator=(const NesRomBoard&) = delete;

  std::vector<uint8_t>& prg() { return prg_; }
  std::vector<uint8_t>& chr() { return chr_; }
  std::vector<uint8_t>& wram() { return wram_; }
  const std::optional<FlakyByte>& flaky() const { return flaky_; }
  std::vector<NamedMemory> memories() override;

 protected:
  using BankMap = std::function<uint32_t(uint16_t address)>;
  explicit NesRomBoard(NesRomContents contents);

  // A window of PRG ROM on the CPU bus, of CHR ROM (or RAM) on the PPU bus: `map` gives the
  // offset (taken modulo the memory's size) of each address.
  void map_prg(uint16_t first, uint16_t last, BankMap map);
  void map_chr(uint16_t first, uint16_t last, BankMap map);
  // Mapper registers: writes to first..last, reads still see the ROM.
  void map_registers(uint16_t first, uint16_t last,
                     std::function<void(uint16_t address, uint8_t value)> on_write);
  // Work RAM at $6000-$7FFF: reads open bus unless `readable`, writes dropped unless
  // `writable`; both are asked at each access.
  void map_work_ram(std::function<bool()> readable, std::function<bool()> writable);
  // The PRG byte a CPU address shows, without counting a read: what a bus conflict meets.
  uint8_t prg_at(uint16_t address);
  uint32_t prg_banks(uint32_t bank_size) const {
    return static_cast<uint32_t>(prg_.size()) / bank_size;
  }

 private:
  std::vector<uint8_t> prg_;
  std::vector<uint8_t> chr_;
  std::vector<uint8_t> chr_ram_;  // 8 KiB on boards without CHR ROM
  std::vector<uint8_t> wram_;
  std::optional<FlakyByte> flaky_;
  std::vector<std::unique_ptr<BusPart>> parts_;
  struct PrgWindow {
    uint16_t first, last;
    BankMap map;
  };
  std::vector<PrgWindow> prg_windows_;
};

std::unique_ptr<NesRomBoard> make_nes_rom_board(NesRomMapper mapper, NesRomContents contents);

}  // namespace vdev
