#include "nes/save_ram_dump.h"

#include <cstdint>

#include "link/link_state.h"
#include "link/transport.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"
#include "platform/print.h"

namespace {
constexpr uint16_t kAddressPort = 0xF800;
constexpr uint16_t kDataPort = 0x4800;
constexpr uint32_t kRamSize = 128;
constexpr uint32_t kRamImageOffset = 0x2000;
constexpr uint32_t kSaveSize = 0x2080;
constexpr const char* kSaveName = "f90.sav";
}  // namespace

bool save_ram_dump_listing() {
  g_link.io_failed = false;
  for (uint32_t i = 0; i < kRamSize; ++i) {
    if (i % 16 == 0) print_message("\n%.3X:", static_cast<unsigned>(i));
    // One address write and one data read per byte: the port does not count up by itself.
    nes_cpu_write_byte(kAddressPort, static_cast<uint8_t>(i));
    uint8_t value = nes_cpu_read_byte(kDataPort);
    g_image_buffer[kRamImageOffset + i] = value;
    print_message("%.2X ", static_cast<unsigned>(value));
  }
  print_message("\n");

  if (g_link.io_failed) {
    // A byte that did not come from the cartridge must not be saved as if it had.
    print_message("Reading the RAM failed (the device did not answer); %s was not written\n",
                  kSaveName);
    return false;
  }
  if (save_file(kSaveName, g_image_buffer, kSaveSize) == kSaveSize) {
    print_message("Save to file %s\n", kSaveName);
    return true;
  }
  // The user must not believe the RAM is safe when it is not; an older file stays as it was.
  print_message("Could not save %s (is the working folder writable and not full?)\n", kSaveName);
  return false;
}
