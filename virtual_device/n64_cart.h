// A virtual N64 flash cartridge for the device's N64 slot (command family 16): a 16-bit flash
// chip in the cartridge ROM window at 0x10000000, a paged save memory behind sub-commands 8
// and 9, and a probed save memory behind sub-commands 10 to 15. "DUMP.ROM" shows the window in
// the bus's big-endian order (a .z64 image).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "virtual_device/cartridges.h"
#include "virtual_device/flash_chip.h"
#include "virtual_device/n64_slot.h"

namespace vdev {

struct N64CartConfig {
  FlashChipConfig chip = default_chip();
  std::vector<uint8_t> rom;          // .z64 bytes from the window's start; empty: a pattern
  uint32_t page_memory_size = 2048;  // sub-commands 8 and 9 (four 512-byte pages)
  uint32_t save_size = 0x20000;      // the probed memory
  uint8_t selector = 3;              // what the probe answers
  std::array<uint8_t, 8> save_id{0x11, 0x11, 0x80, 0x01, 0x00, 0xC2, 0x00, 0x1E};
  bool save_ready = true;  // the status bit

  static FlashChipConfig default_chip() {
    FlashChipConfig c;
    c.size = 0x4000000;
    c.word_mode = true;
    c.id = {0x0001, 0x227E};
    return c;
  }
};

// The built-in ROM contents when none are given: no two neighbours alike and no repeat within
// the window, so a read from the wrong place shows.
uint8_t n64_pattern_byte(uint32_t offset);

class N64Cart : public N64SlotCartridge {
 public:
  explicit N64Cart(N64CartConfig config = {});

  void dump(uint64_t offset, uint8_t* out, uint32_t count) override;
  void tick() override { flash_.tick(); }
  // "N64_ROM" (the window as .z64, refreshed on each call), "N64_PAGES" and "N64_SAVE".
  std::vector<NamedMemory> memories() override;

  // For tests: the parts.
  FlashChip& flash() { return flash_; }
  // The ROM byte at a window offset, as "DUMP.ROM" shows it.
  uint8_t rom_byte(uint32_t offset) const;
  std::vector<uint8_t>& page_memory() { return pages_; }
  std::vector<uint8_t>& save_memory() { return save_; }

 private:
  uint16_t bus_read_word(uint32_t address) override;
  void bus_write_word(uint32_t address, uint16_t value) override;
  void program_word(uint32_t address, uint16_t value) override;
  std::vector<uint8_t>& paged_memory() override { return pages_; }
  ProbedMemory probed_memory() override;

  N64CartConfig config_;
  FlashChip flash_;
  std::vector<uint8_t> pages_;
  std::vector<uint8_t> save_;
  std::vector<uint8_t> rom_image_;  // filled by memories()
};

bool build_n64(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& n64_option_list();

}  // namespace vdev
