// The NES slot's two buses as cartlink-run slots: 64 KiB each, read and written in pieces that
// the family's 16-bit lengths can carry.
#include "nes/nes_family.h"

namespace runner_nes {

bool start() { return true; }  // identify_device has set the protocol level already

bool cpu_read(uint64_t address, uint8_t* out, uint32_t length) {
  nes_cpu_read_block(static_cast<uint16_t>(address), out, static_cast<uint16_t>(length));
  return true;
}

bool ppu_read(uint64_t address, uint8_t* out, uint32_t length) {
  nes_ppu_read_block(static_cast<uint16_t>(address), out, static_cast<uint16_t>(length));
  return true;
}

bool cpu_write(uint64_t address, const uint8_t* data, uint32_t length) {
  nes_cpu_write_block(static_cast<uint16_t>(address), data, static_cast<uint16_t>(length));
  return true;
}

bool ppu_write(uint64_t address, const uint8_t* data, uint32_t length) {
  nes_ppu_write_block(static_cast<uint16_t>(address), data, static_cast<uint16_t>(length));
  return true;
}

}  // namespace runner_nes
