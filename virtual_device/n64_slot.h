// The device's N64 slot (command family 16) as its firmware carries the packets out, for any
// cartridge in it: bus reads and writes of 16-bit words, the device's flash program command,
// the page commands and the probed memory. A cartridge kind supplies only its bus and its
// memories; the flash cartridge and the retail cartridges are this one model on other buses.
// The N64 bus is big-endian: the byte at an even address is the high byte of its word.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "virtual_device/slot.h"

namespace vdev {

inline constexpr uint32_t kN64WindowBase = 0x10000000;  // the cartridge ROM window
inline constexpr uint32_t kN64WindowEnd = 0x14000000;
inline constexpr uint32_t kN64WindowMask = 0x3FFFFFF;   // "DUMP.ROM" offset = address & mask

inline bool n64_in_window(uint32_t address) {
  return address >= kN64WindowBase && address < kN64WindowEnd;
}

class N64SlotCartridge : public Cartridge {
 public:
  static constexpr uint64_t kWindowSize = 0x4000000;

  bool takes(uint8_t family) const override;
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override { return kWindowSize; }

  // What the host last told the slot, for tests.
  uint32_t address_register() const { return address_register_; }
  uint32_t read_starts() const { return read_starts_; }
  uint32_t write_starts() const { return write_starts_; }
  // Packets not carried out: unknown sub-commands, probed-memory chunks for another selector.
  uint32_t refused_packets() const { return refused_; }

 protected:
  // The memory behind sub-commands 10 to 15 and what its probe answers.
  struct ProbedMemory {
    uint8_t selector = 0;
    std::array<uint8_t, 8> id{};
    bool ready = false;  // the status bit
    // A chip that decodes fewer address lines than the packets carry repeats through them;
    // otherwise bytes past its end read 0xFF and take no writes.
    bool wraps = false;
    std::vector<uint8_t>* bytes = nullptr;  // null or empty: no memory
  };

  // One bus cycle each; a read may change the cartridge (a status register, a worn contact).
  virtual uint16_t bus_read_word(uint32_t address) = 0;
  virtual void bus_write_word(uint32_t address, uint16_t value) = 0;
  // The device's flash program command for one word: two unlock cycles and 0xA0 into the ROM
  // window's command addresses, then the word at its address.
  virtual void program_word(uint32_t address, uint16_t value);
  // The memory of the page commands (sub-commands 8 and 9); empty: none, reads show 0xFF.
  virtual std::vector<uint8_t>& paged_memory() = 0;
  virtual ProbedMemory probed_memory() = 0;

 private:
  // How the device's firmware treats the slot, from its identity text.
  struct Dialect {
    bool ciphered;      // sub-commands 5 and 7 arrive exchanged and enciphered
    bool addressed;     // sub-commands 8 and 9 in the addressed formats
    uint32_t read_max;  // most bytes one bus read (sub-command 3) answers
  };
  static Dialect dialect(const SlotHost& host);

  void bus_read(uint32_t address, uint8_t* out, uint32_t count);
  void bus_write(uint32_t address, const uint8_t* data, uint32_t count);
  void program(uint32_t address, const uint8_t* packet, uint32_t max, SlotHost& host);
  void page_command(const uint8_t* packet, SlotHost& host);
  void save_command(const uint8_t* packet, SlotHost& host);

  uint32_t address_register_ = 0;
  uint32_t read_starts_ = 0;
  uint32_t write_starts_ = 0;
  uint32_t refused_ = 0;
};

}  // namespace vdev
