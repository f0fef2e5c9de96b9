// The dump's reading of what a cartridge says about itself: SFC header places, the WSC footer,
// the N64 header and where its image stops, NES banks and where they repeat, all from a fuzzed
// ROM in the in-process virtual device's retail cartridges (perhaps with a flaky byte), then
// the whole dump and its verification. The output file is held in memory.
// Input: one settings byte (cartridge kind, firmware, flaky byte), a 32-bit flaky offset, then
// the ROM (cut to 64 KiB so a run stays short; a header's sizes still reach far past it).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cartridge/dump.h"
#include "families/n64.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "fuzz/fake_drive.h"
#include "link/cipher.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "nes/nes_family.h"
#include "platform/seam.h"
#include "virtual_device/device.h"
#include "virtual_device/inprocess.h"
#include "virtual_device/n64_rom_cart.h"
#include "virtual_device/nes_rom_boards.h"
#include "virtual_device/sfc_rom_cart.h"
#include "virtual_device/wsc_rom_cart.h"

namespace {

constexpr const char* kDriveRoot = "/fuzz-device/E/";
constexpr const char* kOutFolder = "/fuzz/out/";
constexpr const char* kOut = "/fuzz/out/game.bin";
constexpr size_t kRomMax = 0x10000;

// The output folder, in memory; every other path goes to the virtual device's calls.
std::map<std::string, std::vector<uint8_t>> g_files;
const PlatformOps* g_device_ops = nullptr;

bool is_out(const char* name) {
  return name && std::strncmp(name, kOutFolder, std::strlen(kOutFolder)) == 0;
}
std::vector<uint8_t>* out_file(const char* name) {
  auto it = g_files.find(name);
  return it == g_files.end() ? nullptr : &it->second;
}

uint32_t o_write_file(const char* n, const uint8_t* d, uint32_t c) {
  if (!is_out(n)) return g_device_ops->write_file(n, d, c);
  g_files[n].assign(d, d + c);
  return c;
}
uint32_t o_read_at(const char* n, uint8_t* b, uint32_t c, int32_t o, bool u) {
  if (!is_out(n)) return g_device_ops->read_at(n, b, c, o, u);
  const auto* f = out_file(n);
  if (!f || !b || o < 0 || static_cast<size_t>(o) >= f->size()) return 0;
  const size_t got = std::min<size_t>(c, f->size() - static_cast<size_t>(o));
  std::memcpy(b, f->data() + o, got);
  return static_cast<uint32_t>(got);
}
uint32_t o_write_at(const char* n, const uint8_t* d, uint32_t c, int32_t o) {
  if (!is_out(n)) return g_device_ops->write_at(n, d, c, o);
  auto* f = out_file(n);
  if (!f || !d || o < 0) return 0;
  if (f->size() < static_cast<size_t>(o) + c) f->resize(static_cast<size_t>(o) + c);
  std::memcpy(f->data() + o, d, c);
  return c;
}
uint32_t o_file_size(const char* n) {
  if (!is_out(n)) return g_device_ops->file_size(n);
  const auto* f = out_file(n);
  return f ? static_cast<uint32_t>(f->size()) : 0;
}
bool o_replace_file(const char* from, const char* to) {
  if (!is_out(from) && !is_out(to)) return g_device_ops->replace_file(from, to);
  auto* f = out_file(from);
  if (!f || !is_out(to)) return false;
  std::vector<uint8_t> moved = std::move(*f);
  g_files.erase(from);
  g_files[to] = std::move(moved);
  return true;
}
bool o_remove_file(const char* n) {
  if (!is_out(n)) return g_device_ops->remove_file(n);
  return g_files.erase(n) != 0;
}
bool o_resize_file(const char* n, uint32_t s) {
  if (!is_out(n)) return g_device_ops->resize_file(n, s);
  g_files[n].resize(s);
  return true;
}
bool o_sync_file(const char* n) {
  return is_out(n) ? out_file(n) != nullptr : g_device_ops->sync_file(n);
}
bool o_file_exists(const char* n) {
  return is_out(n) ? out_file(n) != nullptr : g_device_ops->file_exists(n);
}
uint32_t o_list_drive_roots(char* b, uint32_t c) { return g_device_ops->list_drive_roots(b, c); }
bool o_drive_is_removable(const char* r) { return g_device_ops->drive_is_removable(r); }

const PlatformOps kOutOps = {o_write_file,   o_read_at,       o_write_at,
                             o_file_size,    o_replace_file,  o_remove_file,
                             o_resize_file,  o_sync_file,     o_file_exists,
                             o_list_drive_roots, o_drive_is_removable};

enum class Slot : uint8_t { sfc, wsc, n64, nes };

struct Pick {
  Slot slot;
  const char* identity;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const uint32_t flaky_offset = in.u32();
  std::vector<uint8_t> rom = in.bytes(kRomMax);
  if (rom.empty()) rom.push_back(0xFF);
  const auto rom_size = static_cast<uint32_t>(rom.size());
  const uint32_t kind = (settings & 0x0F) % 11;
  const bool old_firmware = (settings & 0x10) != 0;
  const bool flaky = (settings & 0x20) != 0;
  const bool always = (settings & 0x40) != 0;

  link_reset_state();
  cipher_reset_state();
  nes_reset_state();
  sfc_reset_state();
  wsc_reset_state();
  n64_reset_state();
  g_files.clear();

  vdev::Device device;
  DumpRequest request;
  request.outfile = kOut;
  Slot slot;
  const uint32_t flaky_at = flaky_offset % rom_size;
  if (kind < 3) {
    slot = Slot::sfc;
    device.config().identity = old_firmware ? "SFC_HWRKA_FW308" : "SFC_Q3V8_FW412";
    vdev::SfcRomConfig config;
    config.map = static_cast<SfcMap>(kind);
    config.rom = rom;
    if (flaky) config.flaky.emplace(flaky_at, always ? 1 : 3, always);
    device.insert(std::make_unique<vdev::SfcRomCartridge>(device.config(), std::move(config)));
  } else if (kind == 3) {
    slot = Slot::wsc;
    device.config().identity = "WSC_HWRKA_FW400";
    vdev::WscRomConfig config;
    config.rom = rom;
    if (flaky) config.flaky.emplace(flaky_at, 2, always);
    device.insert(std::make_unique<vdev::WscRomCartridge>(device.config(), std::move(config)));
  } else if (kind == 4) {
    slot = Slot::n64;
    device.config().identity = old_firmware ? "N64_HWRKB_FW319" : "N64_HWRKB_FW320";
    vdev::N64RomCartConfig config;
    config.rom = rom;
    config.open_bus_past_end = (settings & 0x80) != 0;
    if (flaky) config.flaky = vdev::N64Flaky{flaky_at, 2, always};
    device.insert(std::make_unique<vdev::N64RomCart>(std::move(config)));
  } else {
    slot = Slot::nes;
    const auto mapper = static_cast<vdev::NesRomMapper>((kind - 5) % 5);
    device.config().identity = old_firmware ? "NES_HWRKA_FW400" : "NES_HWRKA_FW403";
    vdev::NesRomContents contents;
    // PRG first (whole 16 KiB units, at least one), the rest CHR.
    const uint32_t prg = std::max<uint32_t>(0x4000, rom_size / 0x4000 * 0x4000);
    contents.prg.assign(prg, 0xFF);
    std::copy(rom.begin(), rom.begin() + std::min(prg, rom_size), contents.prg.begin());
    if (rom_size > prg) contents.chr.assign(rom.begin() + prg, rom.end());
    if ((settings & 0x80) != 0) contents.wram.assign(vdev::NesRomBoard::kWorkRamSize, 0);
    if (flaky) contents.flaky.emplace(flaky_at, 2, always);
    device.insert_nes(vdev::make_nes_rom_board(mapper, std::move(contents)));
    request.mapper = (kind - 5) % 5;
  }
  device.config().name = device.config().identity;
  vdev::attach({{kDriveRoot, true, &device}});
  g_device_ops = plat_installed_ops();
  plat_install_ops(&kOutOps);
  std::strcpy(g_link.root_path, kDriveRoot);
  identify_device();

  DumpResult result;
  switch (slot) {
    case Slot::sfc: result = dump_sfc(request); break;
    case Slot::wsc: result = dump_wsc(request); break;
    case Slot::n64: result = dump_n64(request); break;
    case Slot::nes: result = dump_nes(request); break;
  }
  // Written exactly when the dump says so, and never a temporary file left behind.
  const bool written = result.status == DumpStatus::verified ||
                       result.status == DumpStatus::unverified;
  if (written != (out_file(kOut) != nullptr)) std::abort();
  if (out_file("/fuzz/out/game.bin.tmp") != nullptr) std::abort();
  if (!written && result.message.empty()) std::abort();

  vdev::detach();
  g_device_ops = nullptr;
  return 0;
}
