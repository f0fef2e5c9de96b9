// An AMD-compatible flash chip, as every flash board of the virtual device carries one: unlock
// cycles, autoselect, CFI query, sector and chip erase that take device time, programming that
// can only clear bits, and the protection state that the clearing sequence removes. Geometry and
// identification are data; the command set lives here once.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual_device/cartridges.h"

namespace vdev {

// Bits of one byte that read as fixed values whatever was programmed: a worn cell.
struct StuckBit {
  uint32_t offset = 0;  // byte offset within the chip
  uint8_t mask = 0;     // the stuck bits
  uint8_t value = 0;    // what they read as
};

struct FlashChipConfig {
  uint32_t size = 0x80000;  // bytes
  // 16-bit data bus: offsets are word offsets, unlock addresses 0x555/0x2AA. Byte mode decodes
  // 0xAAA/0x555 on the low 12 address bits, as a chip wired to the low address lines does.
  bool word_mode = false;
  // Autoselect words from offset 0: manufacturer, device, ... Word 2 always reads the
  // protection state (1 protected, 0 not). In byte mode each word's low byte is read at byte
  // offsets 2n and 2n + 1.
  std::vector<uint16_t> id{0x0001, 0x00A4};
  // Sector sizes from the bottom of the chip; empty: uniform 64 KiB sectors, or 128 KiB on
  // chips above 8 MiB. Sizes that do not reach the end are continued with the last one.
  std::vector<uint32_t> sectors{};
  bool protect = false;                 // erases and programs do nothing until cleared
  bool cfi = true;                      // answers the CFI query (older chips do not)
  uint32_t erase_polls = 2;             // reply or window reads an erase reads busy for
  bool erase_never_finishes = false;    // a worn-out chip: an erase stays busy for ever
  std::optional<StuckBit> stuck{};
};

class FlashChip {
 public:
  explicit FlashChip(FlashChipConfig config = {});

  // Byte-mode bus access at a byte offset within the chip (offsets wrap at its size).
  uint8_t read(uint32_t offset);
  uint8_t peek(uint32_t offset) const;
  void write(uint32_t offset, uint8_t value);
  // Word-mode bus access at a word offset; words are stored little-endian.
  uint16_t read_word(uint32_t word);
  uint16_t peek_word(uint32_t word) const;
  void write_word(uint32_t word, uint16_t value);

  // One step of device time: a running erase moves towards its end.
  void tick();

  std::vector<uint8_t>& bytes() { return cells_; }
  const FlashChipConfig& config() const { return config_; }
  bool busy() const { return erase_.has_value(); }
  bool is_protected() const { return protected_; }
  uint32_t erases_started() const { return erases_started_; }
  // First byte and size of the sector that holds `offset`.
  std::pair<uint32_t, uint32_t> sector_at(uint32_t offset) const;

 private:
  enum class Mode : uint8_t { read, autoselect, cfi, protection };
  // A run of equal sectors from the bottom up, as the CFI query lists them.
  struct Region {
    uint32_t sector;
    uint32_t count;
  };
  std::vector<Region> regions() const;
  struct Erase {
    uint32_t first;
    uint32_t size;
    uint32_t polls_left;
  };

  // One command cycle: `address` is the unlock-decoded address (byte or word), `offset` the
  // byte offset it reaches, `data` the command byte (low byte of a word).
  void command(uint32_t address, uint32_t offset, uint8_t data, uint16_t word);
  uint8_t read_cell(uint32_t offset) const;
  uint16_t status() const;
  uint16_t autoselect_word(uint32_t word) const;
  uint16_t cfi_word(uint32_t word) const;
  void start_erase(uint32_t first, uint32_t size);
  void program(uint32_t offset, uint16_t value);

  FlashChipConfig config_;
  std::vector<uint8_t> cells_;
  Mode mode_ = Mode::read;
  int cycle_ = 0;            // unlock cycles seen of the current command
  bool erase_armed_ = false; // 0x80 seen: the next unlocked command is an erase
  bool program_armed_ = false;
  bool protection_clear_armed_ = false;
  bool protected_;
  std::optional<Erase> erase_;
  mutable bool toggle_ = false;
  uint32_t erases_started_ = 0;
};

// The chip options every flash cartridge of cartlink-virtual offers.
const std::vector<CartridgeOption>& flash_chip_option_list();
// Reads those options into `config` (defaults stay where an option is absent).
bool flash_chip_options(const CartridgeOptions& options, FlashChipConfig& config,
                        std::string& error);

}  // namespace vdev
