// The WSC slot as the device drives it: command family 10 and the "DUMP.ROM" window over the
// 1 MiB (20-bit) space at file offset = address. Every WSC cartridge of the virtual device, the
// flash cartridge and the retail one alike, answers the family through this one class and
// differs only in what its bus does at an address.
#pragma once
#include <cstdint>

#include "virtual_device/device.h"
#include "virtual_device/slot.h"

namespace vdev {

class WscSlotCartridge : public Cartridge {
 public:
  static constexpr uint32_t kSpace = 0x100000;
  static constexpr uint32_t kSpaceMask = kSpace - 1;
  // Identities that begin so belong to the board that takes protected writes in plain.
  static constexpr const char* kPlainBoardPrefix = "WSC_HWRKA_FW4";

  // The device's config gives the identity and key that decide how protected writes arrive.
  explicit WscSlotCartridge(const DeviceConfig& device) : device_(device) {}

  bool takes(uint8_t family) const override;
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override { return kSpace; }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override;

  bool takes_plain() const;

  // The bus, at 20-bit addresses (higher bits are dropped before these are called).
  // A read the device makes for a reply.
  virtual uint8_t read(uint32_t address) = 0;
  // A read through "DUMP.ROM".
  virtual uint8_t window_read(uint32_t address) = 0;
  // Plain bus cycles: a word write (sub-command 7, the low byte at the even address, which is
  // how erase sequences arrive) and a byte write (sub-command 9).
  virtual void write_word(uint32_t address, uint16_t value) = 0;
  virtual void write_byte(uint32_t address, uint8_t value) = 0;
  // A block write's byte.
  virtual void store(uint32_t address, uint8_t value) = 0;

 private:
  void read_into_reply(uint32_t address, uint32_t length, uint32_t limit, SlotHost& host);

  const DeviceConfig& device_;
};

}  // namespace vdev
