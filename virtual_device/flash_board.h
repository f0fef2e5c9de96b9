// What the flash cartridges of the NES slot are built from: banked windows onto a flash chip,
// mapper registers at fixed addresses, work RAM, and a flash path for the CPU bus that reaches
// the PRG chip past the registers (flash command and program cycles take it).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "virtual_device/flash_chip.h"
#include "virtual_device/nes_boards.h"

namespace vdev {

// Chip offset that a bus address reaches through the board's bank registers.
using BankMap = std::function<uint32_t(uint16_t address)>;

class FlashBoard : public PartsBoard {
 public:
  FlashBoard() = default;
  FlashBoard(const FlashBoard&) = delete;
  FlashBoard& operator=(const FlashBoard&) = delete;
  // Registers decode every address line and take their writes before any window does.
  void cpu_write(uint16_t address, uint8_t value) override;
  void cpu_flash_write(uint16_t address, uint8_t value) override;
  void tick() override;
  std::vector<NamedMemory> memories() override;

  FlashChip* prg_chip() { return prg_.get(); }
  FlashChip* chr_chip() { return chr_.get(); }
  std::vector<uint8_t>& work_ram() { return work_ram_; }

 protected:
  void add_prg_chip(const FlashChipConfig& config);
  void add_chr_chip(const FlashChipConfig& config);
  // A window of the PRG chip on the CPU bus and on its flash path.
  void map_prg(uint16_t first, uint16_t last, BankMap map);
  // A window of the CHR chip on the PPU bus.
  void map_chr(uint16_t first, uint16_t last, BankMap map);
  // A register written at exactly this CPU address (the board decodes every address line).
  void map_register(uint16_t address, std::function<void(uint8_t)> on_write);
  // 8 KiB of work RAM at $6000-$7FFF that takes writes once $5002 has bit 1 set.
  void map_work_ram(std::optional<StuckBit> stuck);

 private:
  std::unique_ptr<FlashChip> prg_;
  std::unique_ptr<FlashChip> chr_;
  std::vector<uint8_t> work_ram_;
  bool work_ram_enabled_ = false;
  std::vector<std::unique_ptr<BusPart>> parts_;
  std::map<uint16_t, std::function<void(uint8_t)>> registers_;
  Bus flash_path_{0xFFFF};
};

// The chip and RAM settings a flash board is built with.
struct FlashBoardOptions {
  FlashChipConfig prg;
  FlashChipConfig chr;
  std::optional<StuckBit> ram_stuck;
};

// The boards, by the job that programs them. Each is a FlashBoard with the bank registers
// that its job's table implies, so that bank i of an image lands at chip offset i × B.
std::unique_ptr<FlashBoard> make_prg_7000_board(const FlashBoardOptions& options);
std::unique_ptr<FlashBoard> make_prg_8000_board(const FlashBoardOptions& options);
// MMC3-like PRG banking ($8000 select, $8001 data); with `outer`, $5000 picks 1 MiB blocks.
std::unique_ptr<FlashBoard> make_prg_8001_board(const FlashBoardOptions& options, bool outer);
// MMC5-like: $5114-$5117 PRG banks of 8 KiB, $5120-$5127 CHR banks of 1 KiB with $5130 as
// their upper bits, work RAM behind $5002; both chips.
std::unique_ptr<FlashBoard> make_window_board(const FlashBoardOptions& options);
std::unique_ptr<FlashBoard> make_chr_8001_board(const FlashBoardOptions& options);
std::unique_ptr<FlashBoard> make_chr_9000_board(const FlashBoardOptions& options);
// MMC3-like CHR banking: R0/R1 2 KiB, R2-R5 1 KiB.
enum class ChrLayout : uint8_t {
  outer_4100,  // $4100 bit 2 adds 256 KiB; PPU $0000-$0FFF holds R0/R1
  upper_half,  // R2-R5 at $0000, R0/R1 at $1000; PPU A12 picks the chip's upper 256 KiB
  inverted,    // as MMC3: bit 7 of $8000 swaps the halves; PPU A12 picks the chip half
};
std::unique_ptr<FlashBoard> make_chr_mmc3_board(const FlashBoardOptions& options, ChrLayout layout);

}  // namespace vdev
