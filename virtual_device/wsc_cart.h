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
#include "virtual_device/slot.h"

namespace vdev {

struct WscCartConfig {
  FlashChipConfig flash{.size = 0x100000, .word_mode = true};
  std::vector<uint8_t> rom;  // the game image in the flash from address 0; empty: a pattern
};

class WscCartridge : public Cartridge {
 public:
  static constexpr uint32_t kSpace = 0x100000;
  // Identities that begin so belong to the board that takes protected writes in plain.
  static constexpr const char* kPlainBoardPrefix = "WSC_HWRKA_FW4";

  // The device's config gives the identity and key that decide how protected writes arrive.
  WscCartridge(const DeviceConfig& device, WscCartConfig config);

  bool takes(uint8_t family) const override;
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override { return kSpace; }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override;
  void tick() override { flash_.tick(); }
  std::vector<NamedMemory> memories() override;

  FlashChip& flash() { return flash_; }
  bool takes_plain() const;

  uint8_t read(uint32_t address);
  uint8_t peek(uint32_t address) const;
  // A block write's byte: programmed with the chip's program cycles, the other byte of its
  // word left as it is (programming 0xFF changes nothing).
  void store(uint32_t address, uint8_t value);

 private:
  void read_into_reply(uint32_t address, uint32_t length, uint32_t limit, SlotHost& host);

  const DeviceConfig& device_;
  FlashChip flash_;
};

}  // namespace vdev
