// What the device's own system commands act on, whichever way they arrive (family 240 command
// files on the drive, or HID reports): a memory that block writes fill and word reads return,
// the boot request and the parameter.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace vdev {

struct SystemModel {
  std::map<uint32_t, uint8_t> memory;  // bytes written so far; the rest reads as 0xFF
  bool boot_requested = false;         // the last boot request asked for a boot
  uint32_t boot_requests = 0;          // completed boot requests
  std::optional<uint8_t> boot_armed;   // drive form: flag of a first packet awaiting its second
  uint32_t parameter = 0;
  uint32_t command_10_count = 0;
  uint32_t refused = 0;                // commands whose fields were out of range

  uint8_t read(uint32_t address) const;
  // `bytes` (1 to 4) bytes from `address` as a little-endian value; addresses wrap at 32 bits.
  uint32_t read_le(uint32_t address, uint32_t bytes) const;
  void write(uint32_t address, std::span<const uint8_t> data);
};

// Carries out one accepted family 240 packet other than the key request: boot request (7, then
// 255 with the same flag), command 10, parameter write (224), word read (226: two bytes at
// `reply` offset 0) and block write (228, at most 256 bytes a packet).
void carry_out_system(const uint8_t* packet, SystemModel& model, std::span<uint8_t> reply);

}  // namespace vdev
