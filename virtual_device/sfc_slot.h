// The SFC slot as the device drives it: command family 15 and the "DUMP.ROM" window over the
// 24-bit bus (bank:offset). Every SFC cartridge of the virtual device, the flash cartridge and
// the retail boards alike, answers the family through this one class and differs only in its
// bus: what a read, a bus cycle and a block write's byte do at an address.
#pragma once
#include <cstdint>

#include "virtual_device/device.h"
#include "virtual_device/slot.h"

namespace vdev {

class SfcSlotCartridge : public Cartridge {
 public:
  static constexpr uint32_t kHalf = 0x800000;
  static constexpr uint32_t kBusMask = 0xFFFFFF;
  // From this firmware on "DUMP.ROM" is the whole bus; below it the half that sub-command 4
  // chose.
  static constexpr uint32_t kWholeWindowFirmware = 320;

  // The device's config gives the firmware (from its identity text) that shapes "DUMP.ROM".
  explicit SfcSlotCartridge(const DeviceConfig& device) : device_(device) {}

  bool takes(uint8_t family) const override;
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override;
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override;

  bool upper_half() const { return upper_half_; }
  // The firmware number the device works by: DeviceConfig::firmware, else the number of its
  // SFC or GEN identity text, else 0.
  uint32_t firmware() const;

  // The bus, at 24-bit addresses (higher bits are dropped before these are called).
  // A read the device makes for a reply.
  virtual uint8_t read(uint32_t address) = 0;
  // A read through "DUMP.ROM".
  virtual uint8_t window_read(uint32_t address) = 0;
  // A plain bus cycle (byte writes and long writes, which is how erase sequences arrive).
  virtual void write(uint32_t address, uint8_t value) = 0;
  // A block write's byte (sub-commands 5, 6 and 7).
  virtual void store(uint32_t address, uint8_t value) = 0;

 private:
  void read_into_reply(uint32_t address, uint32_t length, SlotHost& host);

  const DeviceConfig& device_;
  bool upper_half_ = false;
};

}  // namespace vdev
