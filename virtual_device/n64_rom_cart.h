// A retail N64 cartridge in the device's N64 slot: mask ROM in the window at 0x10000000 (as
// .z64, the bus's big-endian order) and the game's save: EEPROM behind the probed memory,
// battery SRAM or a flash save on the bus at 0x08000000. Past the image's end the window either
// repeats the image (the ROM decodes fewer address lines) or shows the open bus, where each
// 16-bit word reads as the low 16 bits of its own address.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual_device/cartridges.h"
#include "virtual_device/n64_save.h"
#include "virtual_device/n64_slot.h"

namespace vdev {

// A worn contact: the ROM byte at image offset `offset` reads with one bit flipped on its
// first `reads` reads (bit k % 8 on read k, so up to eight wrong reads all differ), or with
// `always`, read k shows value ^ ((k % 255) + 1): no two of 255 reads agree. A read is any
// window read or bus cycle that covers the byte, at the offset or a mirror of it.
struct N64Flaky {
  uint32_t offset = 0;
  uint32_t reads = 1;
  bool always = false;
};

struct N64RomCartConfig {
  std::vector<uint8_t> rom;  // .z64, 1 byte to 64 MiB
  bool open_bus_past_end = false;
  N64SaveType save_type = N64SaveType::none;
  // The save's contents, exactly n64_save_size(save_type) bytes; empty: a fresh memory (SRAM
  // zeros, EEPROM and flash 0xFF).
  std::vector<uint8_t> save;
  uint32_t flash_busy_polls = 3;  // reads an executed flash save erase or program is busy for
  std::optional<N64Flaky> flaky;
};

// What the probed memory answers: selector 1 and the EEPROM's status bytes as the first three
// identification bytes (00 80 00 for 4 Kbit, 00 C0 00 for 16 Kbit, then five zeros); without an
// EEPROM, selector 0 and eight 0xFF bytes (nothing answered), status 0, reads 0xFF.
inline constexpr uint8_t kN64EepromSelector = 1;
inline constexpr uint8_t kN64NoMemorySelector = 0;

class N64RomCart : public N64SlotCartridge {
 public:
  explicit N64RomCart(N64RomCartConfig config);

  void dump(uint64_t offset, uint8_t* out, uint32_t count) override;
  void tick() override;
  // "save" (SRAM, EEPROM or the flash save's array) when the cartridge has one.
  std::vector<NamedMemory> memories() override;

  // For tests.
  const std::vector<uint8_t>& rom() const { return config_.rom; }
  std::vector<uint8_t>& save();
  N64FlashSave* flash_save() { return flash_ ? &*flash_ : nullptr; }
  uint32_t flaky_reads() const { return flaky_reads_; }

 private:
  // Window bytes from `offset`, as the bus or "DUMP.ROM" reads them (counted for the flaky
  // byte).
  void read_window(uint32_t offset, uint8_t* out, uint32_t count);
  uint16_t bus_read_word(uint32_t address) override;
  void bus_write_word(uint32_t address, uint16_t value) override;
  // The page commands reach the EEPROM, the same chip as the probed memory.
  std::vector<uint8_t>& paged_memory() override;
  ProbedMemory probed_memory() override;
  bool has_eeprom() const;

  N64RomCartConfig config_;
  std::vector<uint8_t> memory_;  // EEPROM or SRAM
  std::optional<N64FlashSave> flash_;
  std::vector<uint8_t> none_;
  uint32_t flaky_reads_ = 0;
};

bool build_n64_rom(Device& device, const CartridgeOptions& options, std::string& error);
const std::vector<CartridgeOption>& n64_rom_option_list();

}  // namespace vdev
