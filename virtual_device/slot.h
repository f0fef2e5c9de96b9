// Cartridges for the slots other than the NES slot. The device hands each such cartridge the
// packets of the command families it answers and shows its memory in "DUMP.ROM"; a cartridge
// sees of the device only what a SlotHost gives it.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/cipher.h"

namespace vdev {

struct DeviceConfig;

// "DUMP.ROM" size when a cartridge does not say otherwise.
inline constexpr uint64_t kDefaultDumpSize = 0x1000000;

// A memory of a cartridge that cartlink-virtual saves at unmount (as NAME.bin) and tests check.
struct NamedMemory {
  std::string name;
  std::vector<uint8_t>* bytes;
};

// What a cartridge may use of the device while it carries out a packet.
class SlotHost {
 public:
  virtual ~SlotHost() = default;
  // "T-DRIVER.DMP" bytes 0..8191: the answer to the last command.
  virtual std::span<uint8_t> reply() = 0;
  virtual const DeviceConfig& config() const = 0;
  // Blowfish scheduled from the device's own key bytes, as its firmware deciphers with.
  virtual const CipherContext& device_cipher() = 0;
  // From now on the status sector shows the identity text.
  virtual void set_identified() = 0;
};

class Cartridge {
 public:
  virtual ~Cartridge() = default;
  // Whether packets of this command family (packet byte 1) are this cartridge's to carry out.
  virtual bool takes(uint8_t family) const = 0;
  // One packet whose marker and CRC the device has checked.
  virtual void carry_out(const uint8_t* packet, SlotHost& host) = 0;
  // "DUMP.ROM": its size, and its bytes at a file offset; reading it changes nothing.
  virtual uint64_t dump_size() const { return kDefaultDumpSize; }
  virtual void dump(uint64_t offset, uint8_t* out, uint32_t count) = 0;
  // Device time passes: called after every reply or window read (erases finish by it).
  virtual void tick() {}
  virtual std::vector<NamedMemory> memories() { return {}; }
};

}  // namespace vdev
