// Retail SFC cartridges for the virtual device: a mask ROM and battery RAM wired to the 24-bit
// bus as the LoROM, HiROM and ExHiROM boards wire them, answering family 15 through the one
// SFC slot model. Writes to the ROM go nowhere; everything unmapped reads as open bus.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/sfc_header.h"
#include "virtual_device/retail.h"
#include "virtual_device/sfc_slot.h"

namespace vdev {

struct SfcRomConfig {
  SfcMap map = SfcMap::lorom;
  std::vector<uint8_t> rom;  // the ROM image, not empty
  std::vector<uint8_t> ram;  // battery RAM at its size (empty: none)
  std::optional<FlakyByte> flaky;
};

// A ROM file for `map` (`name` says which in messages): a whole number of 32 KiB up to what the
// map addresses, battery RAM of `ram_size` or, when none is given, of the size its header's RAM
// code gives (at most 256 KiB).
bool sfc_rom_from_file(SfcMap map, std::vector<uint8_t> file, const std::string& name,
                       std::optional<uint32_t> ram_size, SfcRomConfig& config, std::string& error);

class SfcRomCartridge : public SfcSlotCartridge {
 public:
  static constexpr uint8_t kOpenBus = 0xFF;

  // What a bus address reaches.
  struct Place {
    enum class Kind : uint8_t { open, rom, ram };
    Kind kind = Kind::open;
    uint32_t offset = 0;  // into the ROM image or the battery RAM
    bool operator==(const Place&) const = default;
  };

  SfcRomCartridge(const DeviceConfig& device, SfcRomConfig config);

  Place decode(uint32_t address) const;

  uint8_t read(uint32_t address) override;
  uint8_t window_read(uint32_t address) override { return read(address); }
  // The bus without counting a read of the flaky byte, for tests.
  uint8_t peek(uint32_t address) const;
  void write(uint32_t address, uint8_t value) override;
  void store(uint32_t address, uint8_t value) override { write(address, value); }
  std::vector<NamedMemory> memories() override;

  SfcMap map() const { return map_; }
  std::vector<uint8_t>& rom() { return rom_; }
  std::vector<uint8_t>& ram() { return ram_; }
  const std::optional<FlakyByte>& flaky() const { return flaky_; }

 private:
  SfcMap map_;
  std::vector<uint8_t> rom_;
  std::vector<uint8_t> ram_;
  std::optional<FlakyByte> flaky_;
};

}  // namespace vdev
