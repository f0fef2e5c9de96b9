// A retail WonderSwan cartridge for the virtual device: a mask ROM at the top of the 1 MiB
// space (it ends at 0xFFFFF and repeats below), and SRAM in the window 0x10000-0x1FFFF over
// the ROM there, answering family 10 through the one WSC slot model. Saves in an EEPROM sit
// behind the console's serial port, which the family does not reach: such a cartridge holds
// its EEPROM (and saves it at unmount) but shows no save window.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_device/retail.h"
#include "virtual_device/wsc_slot.h"

namespace vdev {

// Save memories the footer's save-type byte names.
struct WscSaveType {
  const char* name;  // as --save-type takes it
  uint8_t code;      // the footer's byte
  bool eeprom;
  uint32_t size;     // bytes
};
const std::vector<WscSaveType>& wsc_save_types();
const WscSaveType* wsc_save_type_by_code(uint8_t code);
const WscSaveType* wsc_save_type_by_name(std::string_view name);

struct WscRomConfig {
  std::vector<uint8_t> rom;     // at most 1 MiB, not empty
  std::vector<uint8_t> sram;    // empty: none
  std::vector<uint8_t> eeprom;  // empty: none; never on the bus
  std::optional<FlakyByte> flaky;
  // Reads of the flaky byte that come back right before its wrong ones start: a byte that
  // reads right while the cartridge is identified and wrong while it is dumped.
  uint32_t flaky_after = 0;
};

// A ROM file (`name` says which in messages) of 16 bytes to 1 MiB, its save memory as its
// footer's save-type byte names it.
bool wsc_rom_from_file(std::vector<uint8_t> file, const std::string& name, WscRomConfig& config,
                       std::string& error);

class WscRomCartridge : public WscSlotCartridge {
 public:
  static constexpr uint32_t kSramFirst = 0x10000;
  static constexpr uint32_t kSramWindow = 0x10000;

  struct Place {
    bool sram = false;    // else the ROM
    uint32_t offset = 0;  // into the ROM image or the SRAM
    bool operator==(const Place&) const = default;
  };

  WscRomCartridge(const DeviceConfig& device, WscRomConfig config);

  Place decode(uint32_t address) const;

  uint8_t read(uint32_t address) override;
  uint8_t window_read(uint32_t address) override { return read(address); }
  // The space without counting a read of the flaky byte, for tests.
  uint8_t peek(uint32_t address) const;
  // A word write stores its low byte at the address and its high byte after it; only SRAM
  // takes either.
  void write_word(uint32_t address, uint16_t value) override;
  void write_byte(uint32_t address, uint8_t value) override;
  void store(uint32_t address, uint8_t value) override { write_byte(address, value); }
  std::vector<NamedMemory> memories() override;

  std::vector<uint8_t>& rom() { return rom_; }
  std::vector<uint8_t>& sram() { return sram_; }
  std::vector<uint8_t>& eeprom() { return eeprom_; }
  const std::optional<FlakyByte>& flaky() const { return flaky_; }

 private:
  std::vector<uint8_t> rom_;
  std::vector<uint8_t> sram_;
  std::vector<uint8_t> eeprom_;
  std::optional<FlakyByte> flaky_;
  uint32_t flaky_after_;
};

}  // namespace vdev
