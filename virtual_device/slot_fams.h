// Cartridges of the slots of families 20, 19, 2, 17, 7 and 3: each a bus over a plain memory,
// carrying out its family's sub-commands so that what is written reads back. Family 20's
// cartridge also has a command port in bank 0x00 at offsets 0x2400 (command and status) and
// 0x2401 (data).
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "virtual_device/cartridges.h"
#include "virtual_device/slot.h"

namespace vdev {

// The bytes behind a bus: a ROM file's contents or a built-in pattern, read as 0xFF past the
// end; writes past the end are dropped.
class BusMemory {
 public:
  BusMemory(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint8_t read(uint64_t address) const {
    return address < bytes_.size() ? bytes_[address] : uint8_t{0xFF};
  }
  void write(uint64_t address, uint8_t value) {
    if (address < bytes_.size()) bytes_[address] = value;
  }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) const {
    for (uint32_t i = 0; i < count; ++i) out[i] = read(offset + i);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A recognisable fill for memories without a file: every byte depends on its whole address.
std::vector<uint8_t> pattern_memory(uint64_t size);

// The `size` bytes of a slot's memory from the "rom" option: the file's bytes from address 0
// and 0xFF after them, or the built-in pattern without the option. False with `error` set when
// the file is unusable.
bool slot_memory(const CartridgeOptions& options, uint64_t size, std::vector<uint8_t>& memory,
                 std::string& error);

// How family 20's command port behaves.
struct PortConfig {
  uint32_t wakes_after = 0;  // wake commands (4) before the port answers awake; 0: awake at once
  bool never_wakes = false;
  bool locked = false;  // every exchange must first unlock it (0x06, 0x39 after 0x7D)
};

class Fam20Cartridge : public Cartridge {
 public:
  static constexpr uint64_t kSize = 0x1000000;  // bank:offset, 24 bits
  Fam20Cartridge(std::vector<uint8_t> memory, PortConfig port);
  bool takes(uint8_t family) const override { return family == 20; }
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override { return kSize; }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override;
  std::vector<NamedMemory> memories() override { return {{"fam20", &memory_.bytes()}}; }

  // What the device was handed, passed through unchanged.
  uint8_t last_selector() const { return selector_; }
  std::pair<uint8_t, uint8_t> last_control() const { return control_; }
  uint8_t last_query() const { return query_; }
  bool port_awake() const { return awake_; }

 private:
  uint8_t bus_read(uint32_t address);
  void bus_write(uint32_t address, uint8_t value);
  void port_write(uint8_t value, bool data_register);
  void port_command(uint8_t command);

  BusMemory memory_;
  PortConfig port_;
  uint8_t selector_ = 0;
  std::pair<uint8_t, uint8_t> control_{0, 0};
  uint8_t query_ = 0;
  // Command port: where an exchange stands, and what the status register shows.
  enum class Phase : uint8_t { idle, selected, data1, armed, unlock1 };
  Phase phase_ = Phase::idle;
  bool awake_ = false;
  bool unlocked_ = false;
  bool second_command_ = false;  // command 2 came since the port woke
  uint32_t wake_commands_ = 0;
  uint8_t status_ = 0;
};

// Memory sizes of the slots whose address space is larger than what is modelled: addresses
// past them read 0xFF.
inline constexpr uint64_t kFam19Size = 0x1000000;
inline constexpr uint64_t kFam7Size = 0x1000000;
inline constexpr uint64_t kFam3Size = 0x1000000;

class Fam19Cartridge : public Cartridge {
 public:
  explicit Fam19Cartridge(std::vector<uint8_t> memory) : memory_(std::move(memory)) {}
  bool takes(uint8_t family) const override { return family == 19; }
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    memory_.dump(offset, out, count);
  }
  std::vector<NamedMemory> memories() override { return {{"fam19", &memory_.bytes()}}; }

 private:
  void write_words(uint64_t word_address, const uint8_t* data, uint32_t count);
  BusMemory memory_;  // bytes in bus order: a word's high byte at the even address
};

class Fam2Cartridge : public Cartridge {
 public:
  static constexpr uint64_t kSize = 0x10000;
  explicit Fam2Cartridge(std::vector<uint8_t> memory) : memory_(std::move(memory)) {}
  bool takes(uint8_t family) const override { return family == 2; }
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override { return kSize; }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    memory_.dump(offset, out, count);
  }
  std::vector<NamedMemory> memories() override { return {{"fam2", &memory_.bytes()}}; }

 private:
  BusMemory memory_;
};

class Fam17Cartridge : public Cartridge {
 public:
  static constexpr uint64_t kSize = 0x1000000;
  static constexpr size_t kWriteLogMax = 4096;
  explicit Fam17Cartridge(std::vector<uint8_t> memory) : memory_(std::move(memory)) {}
  bool takes(uint8_t family) const override { return family == 17; }
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  uint64_t dump_size() const override { return kSize; }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    memory_.dump(offset, out, count);
  }
  std::vector<NamedMemory> memories() override { return {{"fam17", &memory_.bytes()}}; }
  // Every byte write in order (address, value), the latest kWriteLogMax: what the fixed
  // write sequences did to the cartridge.
  const std::deque<std::pair<uint32_t, uint8_t>>& writes() const { return writes_; }

 private:
  BusMemory memory_;
  std::deque<std::pair<uint32_t, uint8_t>> writes_;
};

// Read-only buses: family 7 (24-bit addresses) and family 3 (32-bit addresses).
class Fam7Cartridge : public Cartridge {
 public:
  explicit Fam7Cartridge(std::vector<uint8_t> rom) : rom_(std::move(rom)) {}
  bool takes(uint8_t family) const override { return family == 7; }
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    rom_.dump(offset, out, count);
  }

 private:
  BusMemory rom_;
};

class Fam3Cartridge : public Cartridge {
 public:
  explicit Fam3Cartridge(std::vector<uint8_t> rom) : rom_(std::move(rom)) {}
  bool takes(uint8_t family) const override { return family == 3; }
  void carry_out(const uint8_t* packet, SlotHost& host) override;
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    rom_.dump(offset, out, count);
  }

 private:
  BusMemory rom_;
};

}  // namespace vdev
