// The saves of retail SFC, WSC and NES cartridges: where the header, the footer or the board
// puts them, read and written through each slot's plain bus reads and writes.
#include "cartridge/save_retail.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cartridge/identify.h"
#include "cartridge/io_check.h"
#include "cartridge/nes_banks.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "formats/file_name.h"
#include "nes/nes_family.h"

namespace {

constexpr const char* kLost = "a command or an answer was lost while looking for the save";

SaveFound refuse(std::string message) {
  SaveFound f;
  f.message = std::move(message);
  return f;
}

// --- SFC: battery RAM where the header's map puts it ---

std::string sfc_address(uint32_t bus) {
  char text[16];
  std::snprintf(text, sizeof text, "$%02X:%04X", bus >> 16, bus & 0xFFFF);
  return text;
}

// Walks the save's offsets in runs that lie contiguous on the bus.
template <class Step>
bool sfc_runs(SfcMap map, uint32_t offset, uint32_t length, Step&& step) {
  const uint32_t run = sfc_ram_run(map);
  for (uint32_t done = 0; done < length;) {
    const uint32_t at = offset + done;
    const uint32_t n = std::min(length - done, run - at % run);
    if (!step(sfc_ram_bus_address(map, at), done, n)) return false;
    done += n;
  }
  return true;
}

// SA-1 boards: map mode 0x23 (0x33 with the FastROM bit), or a cartridge type of the SA-1
// coprocessor (0x33-0x36: with ROM, RAM, battery).
bool sfc_is_sa1(const SfcHeader& h) {
  return (h.map_mode & 0xEF) == 0x23 || (h.cartridge_type >= 0x33 && h.cartridge_type <= 0x36);
}

// --- WSC: SRAM in the window at 0x10000 ---

constexpr uint32_t kWscSramSize = 0x10000;  // what the family reaches without the bank port

// --- NES: work RAM behind the board's enable ---

constexpr uint16_t kWorkRam = 0x6000;
constexpr uint32_t kWorkRamSize = 0x2000;
constexpr uint16_t kMmc1Chr0 = 0xA000;
constexpr uint16_t kMmc1Chr1 = 0xC000;
constexpr uint16_t kMmc1Prg = 0xE000;
constexpr uint8_t kMmc1RamOff = 0x10;  // PRG register bit 4; on SNROM CHR registers' bit 4 too
constexpr uint16_t kMmc3RamControl = 0xA001;
constexpr uint8_t kMmc3RamOn = 0x80;    // enabled, writes allowed
constexpr uint8_t kMmc3RamOff = 0x00;

void nes_ram_enable(uint32_t mapper, bool on) {
  if (mapper == kNesMapperMmc1) {
    // SNROM also disables its work RAM by bit 4 of whichever CHR register the PPU uses, which
    // a game may have left set: both are cleared while the save is used (the CHR banks do not
    // matter to the save, and its 8 KiB of CHR RAM ignore that bit).
    if (on) {
      nes_mmc1_write(kMmc1Chr0, 0x00);
      nes_mmc1_write(kMmc1Chr1, 0x00);
    }
    nes_mmc1_write(kMmc1Prg, on ? 0x00 : kMmc1RamOff);
  } else {
    nes_cpu_write_byte(kMmc3RamControl, on ? kMmc3RamOn : kMmc3RamOff);
  }
}

}  // namespace

const std::vector<SaveShape>& sfc_save_shapes() {
  static const std::vector<SaveShape> shapes = [] {
    std::vector<SaveShape> s;
    for (uint32_t size = 0x800; size <= 0x40000; size *= 2) {
      s.push_back({"sfc", "battery RAM", size, {}});
    }
    return s;
  }();
  return shapes;
}

SaveFound save_find_sfc() {
  SfcDetection d;
  if (!cart_without_loss([] { sfc_identify(); }) || !cart_sfc_detect(d)) return refuse(kLost);
  if (!d.found) {
    return refuse("no SFC header was found at any map's place (is the cartridge seated?)");
  }
  if (sfc_is_sa1(d.header)) {
    char bytes[48];
    std::snprintf(bytes, sizeof bytes, "map mode 0x%02X, cartridge type 0x%02X",
                  d.header.map_mode, d.header.cartridge_type);
    return refuse(std::string("the header of ") + d.header.title + " names an SA-1 cartridge (" +
                  bytes + "): its battery RAM sits behind the SA-1 chip, not where the LoROM "
                  "map puts battery RAM, so it is not read or written here");
  }
  const uint32_t size = sfc_ram_size(d.header);
  if (size == 0) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", d.header.ram_size_code);
    return refuse(std::string("the header of ") + d.header.title + " (" + sfc_map_name(d.map) +
                  ") names no battery RAM (RAM size code " + code + "): no save to move");
  }
  const SfcMap map = d.map;
  SaveFound f;
  f.ok = true;
  f.how = std::string("the ") + sfc_map_name(map) + " header of " + d.header.title + ": " +
          save_size_text(size) + " of battery RAM";
  SaveArea& a = f.area;
  a.shape = {"sfc", "battery RAM", size, {}};
  a.place = "at " + sfc_address(sfc_ram_bus_address(map, 0));
  a.read = [map](uint32_t offset, uint8_t* out, uint32_t length) {
    return sfc_runs(map, offset, length, [&](uint32_t bus, uint32_t done, uint32_t n) {
      return cart_sfc_read(bus, out + done, n);
    });
  };
  // Plain bus cycles (the long write), which is what RAM takes.
  a.write = [map, size](const uint8_t* data, const uint8_t*, std::string& error,
                        const std::function<void(uint64_t)>& progress) {
    const bool ok = sfc_runs(map, 0, size, [&](uint32_t bus, uint32_t done, uint32_t n) {
      if (!cart_without_loss([&] { sfc_long_write_block(bus, data + done, n); })) return false;
      if (progress) progress(done + n);
      return true;
    });
    if (!ok) error = "a write of the battery RAM was lost";
    return ok;
  };
  a.address = [map](uint32_t offset) { return sfc_address(sfc_ram_bus_address(map, offset)); };
  a.blank_cause = "a header that names battery RAM the board lacks";
  const std::string title = d.header.title;
  f.default_name = [title] { return safe_file_name(title, "sfc-save") + ".srm"; };
  return f;
}

const std::vector<SaveShape>& wsc_save_shapes() {
  // Every save a footer can name: the unreachable ones are refused with their reason once the
  // footer is read, not taken for a wrong file before.
  static const std::vector<SaveShape> shapes = {
      {"wsc", "SRAM", 0x2000, {}},    {"wsc", "SRAM", 0x8000, {}},
      {"wsc", "SRAM", 0x20000, {}},   {"wsc", "SRAM", 0x40000, {}},
      {"wsc", "SRAM", 0x80000, {}},   {"wsc", "EEPROM", 128, {}},
      {"wsc", "EEPROM", 1024, {}},    {"wsc", "EEPROM", 2048, {}},
  };
  return shapes;
}

SaveFound save_find_wsc() {
  WscFooter footer{};
  if (!cart_without_loss([] { wsc_identify(); }) || !cart_wsc_footer(footer)) {
    return refuse(kLost);
  }
  const WscSave save = wsc_save(footer.save_type);
  char type[8];
  std::snprintf(type, sizeof type, "0x%02X", footer.save_type);
  if (save.kind == WscSaveKind::none) {
    return refuse(std::string("the footer's save type ") + type + " names no save");
  }
  if (save.kind == WscSaveKind::eeprom) {
    return refuse("the footer names a " + save_size_text(save.size) + " EEPROM save (type " +
                  type + "): it sits behind the console's serial EEPROM ports, which the WSC "
                  "family cannot drive, so it cannot be read or written here");
  }
  if (save.size > kWscSramSize) {
    return refuse("the footer names " + save_size_text(save.size) + " of SRAM (type " + type +
                  "): the family reaches only the 64 KiB window at 0x10000, the bank register "
                  "behind the console's I/O port 0xC1 is out of its reach, and part of a save "
                  "is no backup");
  }
  SaveFound f;
  f.ok = true;
  f.how = "the footer's save type " + std::string(type) + ": " + save_size_text(save.size) +
          " of SRAM";
  SaveArea& a = f.area;
  a.shape = {"wsc", "SRAM", save.size, {}};
  a.place = "at 0x10000";
  a.read = [](uint32_t offset, uint8_t* out, uint32_t length) {
    return cart_wsc_read(kWscSramWindow + offset, out, length);
  };
  a.write = [size = save.size](const uint8_t* data, const uint8_t*, std::string& error,
                               const std::function<void(uint64_t)>& progress) {
    if (!cart_without_loss([&] { wsc_write_block(kWscSramWindow, data, size); })) {
      error = "a write of the SRAM was lost";
      return false;
    }
    if (progress) progress(size);
    return true;
  };
  a.address = [](uint32_t offset) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05X", kWscSramWindow + offset);
    return std::string(text);
  };
  a.blank_cause = "a footer that names SRAM the cartridge lacks";
  const uint8_t publisher = footer.publisher, game = footer.game_id;
  f.default_name = [publisher, game] {
    char text[32];
    std::snprintf(text, sizeof text, "wsc-%02X-%02X.sav", publisher, game);
    return std::string(text);
  };
  return f;
}

const std::vector<SaveShape>& nes_save_shapes() {
  static const std::vector<SaveShape> shapes = {{"nes", "8 KiB work RAM", kWorkRamSize, {}}};
  return shapes;
}

bool nes_save_mapper_known(uint32_t mapper) {
  return mapper == kNesMapperMmc1 || mapper == kNesMapperMmc3;
}

SaveFound save_find_nes(uint32_t mapper) {
  if (!nes_save_mapper_known(mapper)) return refuse("no work RAM enable known for this board");
  if (!cart_without_loss([mapper] { nes_ram_enable(mapper, true); })) return refuse(kLost);
  SaveFound f;
  f.ok = true;
  SaveArea& a = f.area;
  a.shape = nes_save_shapes()[0];
  a.place = std::string("at $6000 (") + (mapper == kNesMapperMmc1 ? "MMC1" : "MMC3") +
            " work RAM enabled)";
  a.read = [](uint32_t offset, uint8_t* out, uint32_t length) {
    return cart_without_loss([&] {
      nes_cpu_read_block(static_cast<uint16_t>(kWorkRam + offset), out,
                         static_cast<uint16_t>(length));
    });
  };
  a.write = [](const uint8_t* data, const uint8_t*, std::string& error,
               const std::function<void(uint64_t)>& progress) {
    if (!cart_without_loss([&] { nes_cpu_write_block(kWorkRam, data, kWorkRamSize); })) {
      error = "a write of the work RAM was lost";
      return false;
    }
    if (progress) progress(kWorkRamSize);
    return true;
  };
  a.address = [](uint32_t offset) {
    char text[16];
    std::snprintf(text, sizeof text, "$%04X", kWorkRam + offset);
    return std::string(text);
  };
  a.blank_cause = "the wrong --mapper, or a board without battery-backed work RAM";
  // Disabled again, so that nothing writes the RAM by accident once the job is over.
  a.finish = [mapper] { cart_without_loss([mapper] { nes_ram_enable(mapper, false); }); };
  f.default_name = [mapper] {
    return std::string(mapper == kNesMapperMmc1 ? "nes-mmc1" : "nes-mmc3") + ".sav";
  };
  return f;
}
