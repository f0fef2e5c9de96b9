#include "nes/flash_job_parts.h"

#include "nes/nes_family.h"
#include "platform/print.h"
#include "platform/sleep.h"

void flash_register_write(uint16_t address, uint32_t value) {
  nes_cpu_write_byte(address, static_cast<uint8_t>(value));
}

void flash_print_first_bytes(const uint8_t* bytes) {
  for (int i = 0; i < 16; ++i) print_message("%.2X ", bytes[i]);
  print_message("\n");
}

void flash_poll_wait(PollProgress progress, const uint8_t* polled, uint32_t pause_ms) {
  if (progress == PollProgress::dot) {
    print_message(".");
  } else {
    print_message("%.2X %.2X\r", polled[0], polled[1]);
  }
  if (pause_ms != 0) plat_sleep_ms(pause_ms);
}
