// An SFC flash cartridge for the virtual device: a 24-bit bus (bank:offset) with a byte-mode
// flash chip holding the game from address 0 and battery RAM from 0xF00000. The chip's command
// addresses 0xAAA and 0x555 appear at bank 0x00 with offset bit 15 set (0x8AAA, 0x8555), as
// every address whose low 12 bits match them does.
#pragma once
#include <cstdint>
#include <vector>

#include "virtual_device/device.h"
#include "virtual_device/flash_chip.h"
#include "virtual_device/sfc_slot.h"

namespace vdev {

struct SfcCartConfig {
  FlashChipConfig flash{.size = 0x400000};
  std::vector<uint8_t> rom;  // the game image in the flash from address 0; empty: a pattern
  std::vector<uint8_t> ram;  // battery RAM contents; its size is ram_size
  uint32_t ram_size = 0x8000;
};

class SfcCartridge : public SfcSlotCartridge {
 public:
  static constexpr uint32_t kFlashEnd = 0x800000;  // the flash decodes the lower half
  static constexpr uint32_t kRamBase = 0xF00000;

  SfcCartridge(const DeviceConfig& device, SfcCartConfig config);

  void tick() override { flash_.tick(); }
  std::vector<NamedMemory> memories() override;

  FlashChip& flash() { return flash_; }
  std::vector<uint8_t>& ram() { return ram_; }

  // The bus as the device drives it.
  uint8_t read(uint32_t address) override;
  uint8_t window_read(uint32_t address) override { return peek(address); }
  uint8_t peek(uint32_t address) const;
  void write(uint32_t address, uint8_t value) override;
  // A block write's byte: programmed into the flash (the chip's program cycles), stored in RAM.
  void store(uint32_t address, uint8_t value) override;

 private:
  FlashChip flash_;
  std::vector<uint8_t> ram_;
};

}  // namespace vdev
