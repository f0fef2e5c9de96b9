#include "families/port.h"

#include "families/fam20.h"

namespace {

// A status that asks for the two extra writes before the command.
constexpr uint8_t kPortNeedsUnlock = 0x7D;
constexpr uint8_t kPortCheckAnswer = 0x04;

}  // namespace

uint8_t port_exchange(uint8_t command) {
  fam20_write_byte(kPortStatus, 0x09);
  const uint8_t status = fam20_read_byte(kPortStatus);
  fam20_write_byte(kPortData, 0x28);
  fam20_write_byte(kPortData, 0x84);
  if (status == kPortNeedsUnlock) {
    fam20_write_byte(kPortStatus, 0x06);
    fam20_write_byte(kPortStatus, 0x39);
  }
  fam20_write_byte(kPortStatus, command);
  return fam20_read_byte(kPortStatus);
}

bool port_wake() {
  fam20_control_set(0);
  if (fam20_read_byte(kPortStatus) == kPortAwake) return true;
  for (uint32_t i = 0; i < kPortWakeTries; ++i) {
    if (port_exchange(4) == kPortAwake) return true;
  }
  return false;
}

bool port_check() {
  if (port_exchange(4) != kPortAwake) return false;
  port_exchange(2);
  return port_exchange(1) == kPortCheckAnswer;
}
