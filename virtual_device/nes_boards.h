// Famicom/NES cartridges for the virtual device, built from parts on the CPU and PPU buses.
// A board is a pair of bus decoders with parts mapped at address ranges; board kinds with bank
// registers or flash chips add parts and mappings, the decoding stays here.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"

namespace vdev {

// One part on a bus. It sees offsets within the range it is mapped at, so a part does not
// depend on where a board puts it (a flash chip at $8000 gets its command address $0AAA).
class BusPart {
 public:
  virtual ~BusPart() = default;
  virtual uint8_t read(uint32_t offset) = 0;
  // A read without side effects, for the "DUMP.ROM" window.
  virtual uint8_t peek(uint32_t offset) { return read(offset); }
  virtual void write(uint32_t offset, uint8_t value) = 0;
};

// Plain memory; offsets past its size mirror it.
class Memory : public BusPart {
 public:
  Memory(size_t size, uint8_t fill, bool writable);
  uint8_t read(uint32_t offset) override;
  void write(uint32_t offset, uint8_t value) override;
  std::vector<uint8_t>& bytes() { return bytes_; }
  // Copies `data` in from the start; bytes past the memory's size are dropped.
  void load(const std::vector<uint8_t>& data);

 private:
  std::vector<uint8_t> bytes_;
  bool writable_;
};

// A bus decoder: the latest mapping that covers an address and the access wins, so a port can
// overlay part of a ROM range. Unmapped reads give the open-bus value; unmapped writes vanish.
class Bus {
 public:
  enum class Access : uint8_t { read_write, read_only, write_only };

  // `address_mask` is applied before decoding: the PPU bus has 14 address lines.
  explicit Bus(uint16_t address_mask = 0xFFFF, uint8_t open_bus = 0xFF);
  void map(uint16_t first, uint16_t last, BusPart& part, Access access = Access::read_write);
  uint8_t read(uint16_t address);
  uint8_t peek(uint16_t address);
  void write(uint16_t address, uint8_t value);

 private:
  struct Mapping {
    uint16_t first;
    uint16_t last;
    BusPart* part;
    Access access;
  };
  const Mapping* find(uint16_t address, bool writing) const;

  std::vector<Mapping> mappings_;
  uint16_t address_mask_;
  uint8_t open_bus_;
};

// A board as two decoded buses; board kinds own their parts and map them in their constructor.
class PartsBoard : public NesBoard {
 public:
  uint8_t cpu_read(uint16_t address) override { return cpu_.read(address); }
  void cpu_write(uint16_t address, uint8_t value) override { cpu_.write(address, value); }
  uint8_t ppu_read(uint16_t address) override { return ppu_.read(address); }
  void ppu_write(uint16_t address, uint8_t value) override { ppu_.write(address, value); }
  uint8_t cpu_peek(uint16_t address) override { return cpu_.peek(address); }
  uint8_t ppu_peek(uint16_t address) override { return ppu_.peek(address); }

 protected:
  Bus cpu_{0xFFFF};
  Bus ppu_{0x3FFF};
};

// Expansion RAM reached through an index register and a data port; the index does not
// advance on its own.
class IndexedRam {
 public:
  static constexpr uint32_t kSize = 128;
  std::array<uint8_t, kSize> bytes{};
  uint8_t index = 0;

  BusPart& address_port() { return address_port_; }
  BusPart& data_port() { return data_port_; }

 private:
  struct AddressPort : BusPart {
    explicit AddressPort(IndexedRam& ram) : ram(ram) {}
    uint8_t read(uint32_t) override { return ram.index; }
    void write(uint32_t, uint8_t value) override { ram.index = value & (kSize - 1); }
    IndexedRam& ram;
  };
  struct DataPort : BusPart {
    explicit DataPort(IndexedRam& ram) : ram(ram) {}
    uint8_t read(uint32_t) override { return ram.bytes[ram.index]; }
    void write(uint32_t, uint8_t value) override { ram.bytes[ram.index] = value; }
    IndexedRam& ram;
  };
  AddressPort address_port_{*this};
  DataPort data_port_{*this};
};

struct F90Contents {
  std::vector<uint8_t> expansion_ram;  // up to 128 bytes; empty: the built-in pattern
  std::vector<uint8_t> prg;            // PRG ROM from $8000, up to 32 KiB; the rest reads 0xFF
  std::vector<uint8_t> chr;            // CHR ROM from PPU $0000, up to 8 KiB; the rest 0xFF
};

// The save-RAM dump's cartridge: 128 bytes of expansion RAM behind an address port at
// CPU $F800 (write: index, 7 bits) and a data port at CPU $4800, 8 KiB work RAM at
// $6000-$7FFF, 32 KiB PRG ROM at $8000-$FFFF and 8 KiB CHR ROM at PPU $0000-$1FFF.
class F90Board : public PartsBoard {
 public:
  static constexpr uint16_t kAddressPort = 0xF800;
  static constexpr uint16_t kDataPort = 0x4800;

  explicit F90Board(F90Contents contents = {});
  F90Board(const F90Board&) = delete;
  F90Board& operator=(const F90Board&) = delete;

  // The expansion RAM's contents when none are given: no two neighbours alike, values all
  // over the byte range, and not the index itself, so a read of the wrong index shows.
  static std::array<uint8_t, IndexedRam::kSize> default_pattern();

  std::array<uint8_t, IndexedRam::kSize>& expansion_ram() { return expansion_.bytes; }
  uint8_t ram_index() const { return expansion_.index; }
  std::vector<uint8_t>& work_ram() { return work_ram_.bytes(); }
  std::vector<uint8_t>& prg_rom() { return prg_.bytes(); }
  std::vector<uint8_t>& chr_rom() { return chr_.bytes(); }

 private:
  IndexedRam expansion_;
  Memory work_ram_{0x2000, 0x00, true};
  Memory prg_{0x8000, 0xFF, false};
  Memory chr_{0x2000, 0xFF, false};
};

}  // namespace vdev
