// A WSC flash cartridge for the virtual device: a 1 MiB (20-bit) space filled by a 16-bit flash
// chip that holds the game from address 0 (a smaller chip repeats through the space). Command
// cycles reach the chip as word writes whose low byte is the command, at 0xF0AAA and 0xF0555
// (word offsets whose low 11 bits are 0x555 and 0x2AA). "DUMP.ROM" shows the space at file
// offset = address.
#pragma once
#include <cstdint>
#include <vector>

#include "virtual_device/device.h"
#include "virtual_device/flash_chip.h"
#include "virtual_device/wsc_slot.h"

namespace vdev {

struct WscCartConfig {
  FlashChipConfig flash{.size = 0x100000, .word_mode = true};
  std::vector<uint8_t> rom;  // the game image in the flash from address 0; empty: a pattern
};

class WscCartridge : public WscSlotCartridge {
 public:
  WscCartridge(const DeviceConfig& device, WscCartConfig config);

  void tick() override { flash_.tick(); }
  std::vector<NamedMemory> memories() override;

  FlashChip& flash() { return flash_; }

  uint8_t read(uint32_t address) override;
  uint8_t window_read(uint32_t address) override { return peek(address); }
  uint8_t peek(uint32_t address) const;
  // Bus cycles reach the chip as word writes at the word offset, the command in the low byte;
  // a byte write drives 0xFF in the other half.
  void write_word(uint32_t address, uint16_t value) override;
  void write_byte(uint32_t address, uint8_t value) override;
  // A block write's byte: programmed with the chip's program cycles, the other byte of its
  // word left as it is (programming 0xFF changes nothing).
  void store(uint32_t address, uint8_t value) override;

 private:
  FlashChip flash_;
};

}  // namespace vdev
