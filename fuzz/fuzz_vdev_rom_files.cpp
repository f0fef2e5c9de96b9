// The retail cartridges' ROM files as cartlink-virtual reads them: an iNES file into each NES
// board, an SFC ROM into each map (its header's RAM code), a WonderSwan ROM (its footer's save
// type), each cartridge built from what is accepted and then read and written at fuzzed places.
// Input: one byte of settings (which loader; for SFC whether the RAM size is given and whether
// the file is padded with 0xFF to 64 KiB so that it can pass the size check), then the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fake_drive.h"
#include "virtual_device/device.h"
#include "virtual_device/nes_rom_boards.h"
#include "virtual_device/sfc_rom_cart.h"
#include "virtual_device/wsc_rom_cart.h"

namespace {

constexpr uint32_t kPadded = 0x10000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  std::vector<uint8_t> file = in.rest();
  // The last bytes also serve as the addresses and values of the accesses afterwards.
  fuzz::Input script(data + (size > 64 ? size - 64 : 0), size > 64 ? 64 : size);
  const vdev::DeviceConfig device;
  std::string error;
  const uint32_t choice = (settings & 0x0F) % 9;

  if (choice < 5) {
    const auto mapper = static_cast<vdev::NesRomMapper>(choice);
    vdev::NesRomContents contents;
    if (!vdev::nes_rom_from_ines(file, "fuzz", vdev::nes_rom_limits(mapper), contents, error)) {
      if (error.empty()) std::abort();
      return 0;
    }
    auto board = vdev::make_nes_rom_board(mapper, std::move(contents));
    while (!script.empty()) {
      const uint16_t address = script.u16();
      const uint8_t value = script.u8();
      board->cpu_write(address, value);
      board->cpu_read(address);
      board->ppu_write(address, value);
      board->ppu_peek(static_cast<uint16_t>(address ^ value));
    }
    return 0;
  }
  if (choice < 8) {
    const auto map = static_cast<SfcMap>(choice - 5);
    if ((settings & 0x80) && file.size() < kPadded) file.resize(kPadded, 0xFF);
    std::optional<uint32_t> ram;
    if (settings & 0x40) ram = 0x800u << (settings >> 4 & 3);
    vdev::SfcRomConfig config;
    if (!vdev::sfc_rom_from_file(map, std::move(file), "fuzz", ram, config, error)) {
      if (error.empty()) std::abort();
      return 0;
    }
    vdev::SfcRomCartridge cart(device, std::move(config));
    while (!script.empty()) {
      const uint32_t address = script.u16() | (static_cast<uint32_t>(script.u8()) << 16);
      cart.write(address, script.u8());
      cart.read(address);
    }
    uint8_t window[512];
    cart.dump(cart.dump_size() - sizeof window, window, sizeof window);
    return 0;
  }
  vdev::WscRomConfig config;
  if (!vdev::wsc_rom_from_file(std::move(file), "fuzz", config, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  vdev::WscRomCartridge cart(device, std::move(config));
  while (!script.empty()) {
    const uint32_t address = script.u32();
    cart.write_word(address & vdev::WscSlotCartridge::kSpaceMask, script.u16());
    cart.read(address & vdev::WscSlotCartridge::kSpaceMask);
  }
  uint8_t window[512];
  cart.dump(vdev::WscSlotCartridge::kSpace - sizeof window, window, sizeof window);
  return 0;
}
