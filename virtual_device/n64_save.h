// Save memories of retail N64 cartridges on the bus at 0x08000000 (the cartridge's second
// domain): battery SRAM and the 128 KiB flash save ("FlashRAM") with its command register.
// EEPROM saves are not on this bus; the slot reaches them through the probed memory.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vdev {

enum class N64SaveType : uint8_t { none, eeprom4k, eeprom16k, sram, sram96k, flash };

// "none", "eeprom4k", ... and back; the size of each kind's memory in bytes (0 for none).
std::optional<N64SaveType> n64_save_type_named(std::string_view name);
uint32_t n64_save_size(N64SaveType type);

inline constexpr uint32_t kN64SaveBase = 0x08000000;  // the save domain, up to 0x0FFFFFFF
inline constexpr uint32_t kN64SaveEnd = 0x10000000;
inline bool n64_in_save_domain(uint32_t address) {
  return address >= kN64SaveBase && address < kN64SaveEnd;
}

// Battery SRAM: 32 KiB on address lines A0-A14 (nothing above decoded, so the 32 KiB repeat
// through the domain), or 96 KiB as three such banks chosen by A18-A19; the fourth bank has no
// chip. Returns the byte offset an address reaches, or none.
std::optional<uint32_t> n64_sram_offset(uint32_t address, uint32_t size);

// The flash save. Address lines A0-A16 are decoded: the array's 128 KiB from 0x08000000, the
// command register at 0x08010000. A 32-bit command arrives as two 16-bit bus writes, the high
// word at 0x08010000 and then the low word at 0x08010002; the command is taken when the low
// word follows a high word.
//
// Commands, as games drive the chip: 0xF0000000 read-array mode; 0xE1000000 identification
// mode; 0xD2000000 status mode; 0xB4000000 page-buffer mode (the buffer is filled with 0xFF,
// then every write outside the command register lands in it at A0-A6); 0x4B000000 | page sets
// up the erase of the 16 KiB sector holding that 128-byte page and 0x3C000000 the chip erase,
// which 0x78000000 then starts; 0xA5000000 | page, in page-buffer mode, starts programming that
// page from the buffer. Page numbers are taken modulo 1024. An erase or program is busy for a
// set number of device time steps, then takes effect (programming only clears bits); from its
// start the chip is in status mode. Anything else is ignored, as is every command but the
// three mode changes while the chip is busy.
//
// Outside read-array mode, and in every mode while busy, reads show 8 bytes repeated:
// 11 11 80 SS 00 C2 00 1E, the identifier and the maker/type word 0x00C2001E. In
// identification mode SS is 0x01 (0x11118001). In status mode it is the status register:
// 0x02 while an erase runs, 0x01 while a program runs, then 0x08 after an erase and 0x04 after
// a program; a write to the array in status mode clears it.
class N64FlashSave {
 public:
  static constexpr uint32_t kSize = 0x20000;
  static constexpr uint32_t kPage = 128;
  static constexpr uint32_t kSector = 0x4000;
  static constexpr uint32_t kIdentifier = 0x11118001;
  static constexpr uint32_t kMakerType = 0x00C2001E;

  explicit N64FlashSave(uint32_t busy_polls = 3);

  // A bus word at an offset of the domain (the address less 0x08000000).
  uint16_t read_word(uint32_t offset) const;
  void write_word(uint32_t offset, uint16_t value);
  void tick();

  std::vector<uint8_t>& bytes() { return cells_; }
  bool busy() const { return busy_left_ > 0; }
  uint32_t ignored_commands() const { return ignored_; }

 private:
  enum class Mode : uint8_t { read_array, identify, status, write_buffer, erase, chip_erase,
                             program };

  void command(uint32_t value);
  void start(Mode operation);
  void finish();

  std::vector<uint8_t> cells_;
  std::array<uint8_t, kPage> buffer_{};
  Mode mode_ = Mode::read_array;
  uint32_t busy_polls_;
  uint32_t armed_page_ = 0;
  std::optional<uint16_t> high_word_;
  std::optional<Mode> running_;  // the operation that is busy, finished by tick()
  uint32_t busy_left_ = 0;
  uint8_t status_ = 0;
  uint32_t ignored_ = 0;
};

}  // namespace vdev
