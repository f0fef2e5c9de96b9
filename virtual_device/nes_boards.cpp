#include "virtual_device/nes_boards.h"

#include <algorithm>

namespace vdev {

Memory::Memory(size_t size, uint8_t fill, bool writable)
    : bytes_(std::max<size_t>(size, 1), fill), writable_(writable) {}

uint8_t Memory::read(uint32_t offset) { return bytes_[offset % bytes_.size()]; }

void Memory::write(uint32_t offset, uint8_t value) {
  if (writable_) bytes_[offset % bytes_.size()] = value;
}

void Memory::load(const std::vector<uint8_t>& data) {
  std::copy_n(data.begin(), std::min(data.size(), bytes_.size()), bytes_.begin());
}

Bus::Bus(uint16_t address_mask, uint8_t open_bus)
    : address_mask_(address_mask), open_bus_(open_bus) {}

void Bus::map(uint16_t first, uint16_t last, BusPart& part, Access access) {
  mappings_.push_back({first, last, &part, access});
}

const Bus::Mapping* Bus::find(uint16_t address, bool writing) const {
  for (auto it = mappings_.rbegin(); it != mappings_.rend(); ++it) {
    if (address < it->first || address > it->last) continue;
    if (writing ? it->access == Access::read_only : it->access == Access::write_only) continue;
    return &*it;
  }
  return nullptr;
}

uint8_t Bus::read(uint16_t address) {
  address &= address_mask_;
  const Mapping* m = find(address, false);
  return m ? m->part->read(address - m->first) : open_bus_;
}

uint8_t Bus::peek(uint16_t address) {
  address &= address_mask_;
  const Mapping* m = find(address, false);
  return m ? m->part->peek(address - m->first) : open_bus_;
}

void Bus::write(uint16_t address, uint8_t value) {
  address &= address_mask_;
  if (const Mapping* m = find(address, true)) m->part->write(address - m->first, value);
}

std::array<uint8_t, IndexedRam::kSize> F90Board::default_pattern() {
  std::array<uint8_t, IndexedRam::kSize> pattern{};
  // A byte-wide linear congruential sequence: full period, so all 128 values differ.
  uint8_t v = 0x5A;
  for (auto& byte : pattern) {
    v = static_cast<uint8_t>(v * 5 + 0x3B);
    byte = v;
  }
  return pattern;
}

F90Board::F90Board(F90Contents contents) {
  expansion_.bytes = default_pattern();
  if (!contents.expansion_ram.empty()) {
    expansion_.bytes.fill(0);
    std::copy_n(contents.expansion_ram.begin(),
                std::min<size_t>(contents.expansion_ram.size(), IndexedRam::kSize),
                expansion_.bytes.begin());
  }
  prg_.load(contents.prg);
  chr_.load(contents.chr);

  cpu_.map(kDataPort, kDataPort, expansion_.data_port());
  cpu_.map(0x6000, 0x7FFF, work_ram_);
  cpu_.map(0x8000, 0xFFFF, prg_, Bus::Access::read_only);
  // The address port only listens to writes; reads at $F800 still see the PRG ROM.
  cpu_.map(kAddressPort, kAddressPort, expansion_.address_port(), Bus::Access::write_only);
  ppu_.map(0x0000, 0x1FFF, chr_, Bus::Access::read_only);
}

}  // namespace vdev

namespace vdev {

bool build_f90(Device& device, const CartridgeOptions& options, std::string& error) {
  F90Contents contents;
  if (!option_file(options, "ram", "expansion RAM", contents.expansion_ram, error,
                   IndexedRam::kSize, IndexedRam::kSize) ||
      !option_file(options, "prg", "PRG ROM", contents.prg, error, 0x4000, 0x8000) ||
      !option_file(options, "chr", "CHR ROM", contents.chr, error, 0x2000, 0x2000)) {
    return false;
  }
  if (contents.prg.size() != 0 && contents.prg.size() != 0x4000 && contents.prg.size() != 0x8000) {
    error = "the PRG ROM file " + options.at("prg") + " is " +
            std::to_string(contents.prg.size()) + " bytes long (wrong size); it must be 16384 or "
            "32768 bytes";
    return false;
  }
  // A 16 KiB PRG ROM appears twice in $8000-$FFFF: the board leaves address line 14 unused.
  if (contents.prg.size() == 0x4000) {
    contents.prg.resize(0x8000);
    std::copy_n(contents.prg.begin(), 0x4000, contents.prg.begin() + 0x4000);
  }
  device.insert_nes(std::make_unique<F90Board>(std::move(contents)));
  return true;
}

}  // namespace vdev
