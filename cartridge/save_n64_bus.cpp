#include "cartridge/save_n64_bus.h"

#include "cartridge/io_check.h"
#include "cartridge/read_vote.h"
#include "families/n64.h"

bool n64_bus_lossless(const std::function<bool()>& body) {
  bool ok = false;
  return cart_without_loss([&] { ok = body(); }) && ok;
}

bool n64_bus_read(uint32_t address, uint8_t* out, uint32_t length) {
  return n64_bus_lossless([&] { return n64_read_block(address, out, length) == length; });
}

bool n64_bus_read_settled(uint32_t address, uint8_t* out, uint32_t length) {
  return read_settled(
      [](uint64_t a, uint8_t* o, uint32_t n) {
        return n64_bus_read(static_cast<uint32_t>(a), o, n);
      },
      address, out, length);
}
