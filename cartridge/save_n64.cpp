// The N64 save: finding its type (save_n64.h says why detection cannot change a save) and the
// save areas backup and restore work on.
#include "cartridge/save_n64.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "cartridge/save_n64_bus.h"
#include "families/n64.h"
#include "formats/n64_header.h"

namespace {

constexpr uint32_t kEepromSelectorNone = 0;
constexpr uint8_t kEeprom4kId = 0x80;   // the probe's second identification byte
constexpr uint8_t kEeprom16kId = 0xC0;
// Flash save commands that detection sends: they change what reads show, never the array.
constexpr uint32_t kFlashIdentifyMode = 0xE1000000;
constexpr uint32_t kFlashReadArray = 0xF0000000;
// SRAM banks: 32 KiB each, chosen by A18-A19; a 32 KiB chip repeats through the domain.
constexpr uint32_t kSramBank = 0x8000;
constexpr uint32_t kSramBankStep = 0x40000;
// The sample that tells 32 KiB from 96 KiB: the end of bank 0 and of the fourth bank, which a
// 96 KiB cartridge leaves open (a 32 KiB chip shows itself there again).
constexpr uint32_t kBankSample = 0x7FE0;
constexpr uint32_t kBankSampleSize = 32;
constexpr uint32_t kFourthBank = kN64SaveBus + 3 * kSramBankStep;
// A second place to tell the open bus from an SRAM that holds its pattern at 0x08000000.
constexpr uint32_t kOpenBusSecond = kN64SaveBus + 0x4000;
constexpr uint32_t kFirst = 8;   // bytes read at 0x08000000 around the identification command
constexpr uint32_t kPutBack = 4; // the bytes the command reaches on an SRAM

std::string hex_bytes(const uint8_t* bytes, uint32_t count) {
  std::string text;
  char b[4];
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", bytes[i]);
    text += b;
  }
  return text;
}

std::string hex_address(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", address);
  return text;
}

// What the bus shows where nothing drives it: each 16-bit word the low half of its address.
bool is_open_bus(const uint8_t* bytes, uint32_t address, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    const uint32_t word = (a & ~1u) & 0xFFFF;
    if (bytes[i] != static_cast<uint8_t>((a & 1) ? word : word >> 8)) return false;
  }
  return true;
}

// The flash save's status register: identifier 0x111180SS first.
bool is_flash_status(const uint8_t* bytes) {
  return bytes[0] == 0x11 && bytes[1] == 0x11 && bytes[2] == 0x80;
}

void put_be32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A flash save command and the put-back of the SRAM bytes it would reach, in one command file.
bool guarded_command(uint32_t command, const uint8_t* first4) {
  uint8_t bytes[4];
  put_be32(bytes, command);
  const N64BusRun runs[2] = {{kN64FlashCommand, bytes, 4}, {kN64SaveBus, first4, kPutBack}};
  return n64_bus_lossless([&] { return n64_write_runs(runs, 2); });
}

N64SaveFind not_found(std::string message) {
  N64SaveFind f;
  f.message = std::move(message);
  return f;
}

const char* kLost = "a command or an answer was lost while looking for the save";
const char* kOverride = "; name it with --save-type (eeprom4k, eeprom16k, sram, sram96k, flash)";

// Whether `now` is an SRAM's first bytes after `command` reached them and the put-back did not.
bool sram_took_command(const uint8_t* now, const uint8_t* before, uint32_t command) {
  uint8_t bytes[4];
  put_be32(bytes, command);
  return std::equal(bytes, bytes + kPutBack, now) &&
         std::equal(now + kPutBack, now + kFirst, before + kPutBack);
}

// Puts an SRAM's first bytes back and reads them again; true when they read as before.
bool put_back(const uint8_t* before) {
  const N64BusRun run{kN64SaveBus, before, kPutBack};
  uint8_t again[kFirst];
  return n64_bus_lossless([&] { return n64_write_runs(&run, 1); }) &&
         n64_bus_read_settled(kN64SaveBus, again, kFirst) &&
         std::equal(again, again + kFirst, before);
}

std::string put_back_failed(const uint8_t* before, const uint8_t* now) {
  return "the SRAM's first bytes could not be put back after the flash save's command reached "
         "them: they were " + hex_bytes(before, kPutBack) + " and now read " +
         hex_bytes(now, kPutBack) + "; write them back with 'cartlink-run write n64 0x08000000 "
         "FILE'";
}

// After a guarded command whose file was lost: the device carries out every whole packet it
// got, so the command may have reached an SRAM while its put-back never ran. Nothing is said
// to be unchanged until the first bytes read as before (or as a flash save's mode shows them,
// which writes no memory); an SRAM that took the command is put back.
N64SaveFind after_lost_command(uint32_t command, const uint8_t* before) {
  uint8_t now[kFirst];
  if (!n64_bus_read_settled(kN64SaveBus, now, kFirst)) {
    N64SaveFind f = not_found(
        std::string(kLost) + ", and the first bytes at " + hex_address(kN64SaveBus) +
        " could not be read back: on an SRAM, bytes 0-3 may now hold the flash save's command "
        "instead of " + hex_bytes(before, kPutBack) +
        "; check them with 'cartlink-run read n64 0x08000000 8 FILE'");
    f.changed = true;
    return f;
  }
  if (std::equal(now, now + kPutBack, before) || !sram_took_command(now, before, command)) {
    // As before, or a flash save showing another mode: no memory was written.
    return not_found(kLost);
  }
  if (put_back(before)) {
    return not_found(std::string(kLost) + " (the SRAM's first bytes, which the flash save's "
                     "command reached, were put back and read as before)");
  }
  N64SaveFind f = not_found(std::string(kLost) + "; " + put_back_failed(before, now));
  f.changed = true;
  return f;
}

N64SaveFind found(N64SaveType type, std::string how) {
  N64SaveFind f;
  f.found = true;
  f.type = type;
  f.how = std::move(how);
  return f;
}

// SRAM found: 32 KiB or 96 KiB by what the fourth bank shows.
N64SaveFind sram_size() {
  uint8_t bank0[kBankSampleSize], bank3[kBankSampleSize];
  if (!n64_bus_read_settled(kN64SaveBus + kBankSample, bank0, kBankSampleSize) ||
      !n64_bus_read_settled(kFourthBank + kBankSample, bank3, kBankSampleSize)) {
    return not_found(kLost);
  }
  const bool same = std::equal(bank0, bank0 + kBankSampleSize, bank3);
  const bool open3 = is_open_bus(bank3, kFourthBank + kBankSample, kBankSampleSize);
  if (same && !open3) {
    return found(N64SaveType::sram,
                 "SRAM: it did not answer the flash save's identification command, and its 32 KiB "
                 "repeat at " + hex_address(kFourthBank));
  }
  if (open3 && !same) {
    return found(N64SaveType::sram96k,
                 "96 KiB SRAM: it did not answer the flash save's identification command, and its "
                 "fourth bank (" + hex_address(kFourthBank) + ") is open bus");
  }
  return not_found("an SRAM at " + hex_address(kN64SaveBus) +
                   " whose size cannot be told (its bytes at " +
                   hex_address(kN64SaveBus + kBankSample) + " look like the open bus)" +
                   kOverride);
}

N64SaveFind find_on_bus() {
  uint8_t before[kFirst], after[kFirst];
  if (!n64_bus_read_settled(kN64SaveBus, before, kFirst)) return not_found(kLost);
  if (!guarded_command(kFlashIdentifyMode, before)) {
    return after_lost_command(kFlashIdentifyMode, before);
  }
  if (!n64_bus_read_settled(kN64SaveBus, after, kFirst)) return not_found(kLost);
  if (is_flash_status(after)) {
    if (is_flash_status(before)) {
      // Already showing the status register: a flash save left in status mode, or an SRAM that
      // holds those bytes. Only the flash save leaves it for read-array mode.
      uint8_t array[kFirst];
      if (!guarded_command(kFlashReadArray, before)) {
        return after_lost_command(kFlashReadArray, before);
      }
      if (!n64_bus_read_settled(kN64SaveBus, array, kFirst)) return not_found(kLost);
      if (is_flash_status(array)) {
        return not_found("the memory at " + hex_address(kN64SaveBus) + " shows " +
                         hex_bytes(before, kFirst) +
                         " whatever it is told: an SRAM holding a flash save's status or a "
                         "flash save that stays in status mode" + kOverride);
      }
    } else if (!n64_flash_command(kFlashReadArray)) {
      return not_found(kLost);
    }
    return found(N64SaveType::flash, "flash save: it answered its identification command with " +
                                         hex_bytes(after, kFirst));
  }
  if (std::equal(after, after + kFirst, before)) {
    if (is_open_bus(before, kN64SaveBus, kFirst)) {
      uint8_t second[kFirst];
      if (!n64_bus_read_settled(kOpenBusSecond, second, kFirst)) return not_found(kLost);
      if (is_open_bus(second, kOpenBusSecond, kFirst)) {
        return not_found("no save found: the probe answered no EEPROM and nothing answers at " +
                         hex_address(kN64SaveBus) + " (open bus)");
      }
    }
    return sram_size();
  }
  // The command landed in an SRAM and the put-back did not: put it back once more.
  if (sram_took_command(after, before, kFlashIdentifyMode)) {
    if (put_back(before)) return sram_size();
    N64SaveFind f = not_found(put_back_failed(before, after));
    f.changed = true;
    return f;
  }
  return not_found("the memory at " + hex_address(kN64SaveBus) + " answered " +
                   hex_bytes(after, kFirst) +
                   " to the flash save's identification command (it read " +
                   hex_bytes(before, kFirst) + " before): neither SRAM nor a flash save" +
                   kOverride);
}

// The EEPROM the probe's answer names: its second identification byte tells the size.
N64SaveType eeprom_type(uint8_t selector, const uint8_t* id) {
  if (selector == kEepromSelectorNone || id[0] != 0) return N64SaveType::none;
  if (id[1] == kEeprom4kId) return N64SaveType::eeprom4k;
  if (id[1] == kEeprom16kId) return N64SaveType::eeprom16k;
  return N64SaveType::none;
}

// SRAM offsets to bus addresses: 32 KiB per bank, banks 0x40000 apart.
uint32_t sram_address(uint32_t offset) {
  return kN64SaveBus + offset / kSramBank * kSramBankStep + offset % kSramBank;
}

bool sram_read(uint32_t offset, uint8_t* out, uint32_t length) {
  while (length > 0) {
    const uint32_t n = std::min(length, kSramBank - offset % kSramBank);
    if (!n64_bus_read(sram_address(offset), out, n)) return false;
    offset += n;
    out += n;
    length -= n;
  }
  return true;
}

bool sram_write(uint32_t size, const uint8_t* data, std::string& error,
                const std::function<void(uint64_t)>& progress) {
  for (uint32_t bank = 0; bank * kSramBank < size; ++bank) {
    const uint32_t at = bank * kSramBank;
    if (!n64_bus_lossless(
            [&] { return n64_write_block(sram_address(at), data + at, kSramBank); })) {
      error = "the write of the SRAM bank at " + hex_address(sram_address(at)) + " was lost";
      return false;
    }
    if (progress) progress(at + kSramBank);
  }
  return true;
}

}  // namespace

const std::vector<SaveShape>& n64_save_shapes() {
  static const std::vector<SaveShape> shapes = {
      {"eeprom4k", "4 Kbit EEPROM", 512,
       {{2048, SavePadding::Kind::fill, 0xFF,
         "as mupen64plus and the emulators built on it store every EEPROM"},
        {2048, SavePadding::Kind::mirror, 0,
         "as a 16 Kbit read of the 4 Kbit chip, which repeats, gives it"}}},
      {"eeprom16k", "16 Kbit EEPROM", 2048, {}},
      {"sram", "32 KiB SRAM", 0x8000, {}},
      {"sram96k", "96 KiB SRAM", 0x18000,
       {{0x20000, SavePadding::Kind::fill, 0x00, "an SRAM file padded to a power of two"},
        {0x20000, SavePadding::Kind::fill, 0xFF, "an SRAM file padded to a power of two"}}},
      {"flash", "128 KiB flash save", 0x20000, {}},
  };
  return shapes;
}

N64SaveType n64_save_type_named(const std::string& name) {
  const auto& shapes = n64_save_shapes();
  for (size_t i = 0; i < shapes.size(); ++i) {
    if (name == shapes[i].name) return static_cast<N64SaveType>(i + 1);
  }
  return N64SaveType::none;
}

const char* n64_save_extension(N64SaveType type) {
  switch (type) {
    case N64SaveType::eeprom4k:
    case N64SaveType::eeprom16k: return ".eep";
    case N64SaveType::sram:
    case N64SaveType::sram96k: return ".sra";
    case N64SaveType::flash: return ".fla";
    case N64SaveType::none: break;
  }
  return ".sav";
}

N64SaveFind n64_find_save() {
  uint8_t id[kN64MemoryIdSize] = {};
  uint8_t selector = 0;
  if (!n64_bus_lossless([&] {
        selector = n64_probe_memory(id);
        return true;
      })) {
    return not_found(kLost);
  }
  if (selector != kEepromSelectorNone) {
    const N64SaveType eeprom = eeprom_type(selector, id);
    if (eeprom != N64SaveType::none) {
      return found(eeprom, "the probe answered " + hex_bytes(id, 3));
    }
    return not_found("the probed memory answered selector " + std::to_string(selector) +
                     " and " + hex_bytes(id, kN64MemoryIdSize) + ", which is no EEPROM known here" +
                     kOverride);
  }
  return find_on_bus();
}

std::string n64_save_title() {
  uint8_t header[kN64HeaderSize];
  if (!n64_bus_read(kN64RomBase, header, kN64HeaderSize)) return {};
  const N64Header h = n64_parse_header(header);
  return n64_header_plausible(h) ? h.title : "";
}

bool n64_save_area(N64SaveType type, bool detected, SaveArea& area, std::string& error,
                   bool* changed) {
  if (type == N64SaveType::none) {
    error = "no save type";
    return false;
  }
  area = {};
  area.shape = n64_save_shapes()[static_cast<size_t>(type) - 1];
  const uint32_t size = area.shape.size;
  if (type == N64SaveType::eeprom4k || type == N64SaveType::eeprom16k) {
    // The selector goes into every packet: probe when --save-type named the type, and take
    // the EEPROM only when the probe answers one of that size (another size would be read
    // short or written past its end, and no answer means no EEPROM to move).
    if (!detected) {
      uint8_t id[kN64MemoryIdSize] = {};
      uint8_t selector = 0;
      if (!n64_bus_lossless([&] {
            selector = n64_probe_memory(id);
            return true;
          })) {
        error = kLost;
        return false;
      }
      if (eeprom_type(selector, id) != type) {
        error = std::string("--save-type ") + area.shape.name + " names a " + area.shape.text +
                ", but " +
                (selector == kEepromSelectorNone
                     ? std::string("the probe answered no EEPROM")
                     : "the probe answered selector " + std::to_string(selector) + " and " +
                           hex_bytes(id, kN64MemoryIdSize));
        return false;
      }
    }
    area.place = "behind the probed memory";
    area.read = [](uint32_t offset, uint8_t* out, uint32_t length) {
      return n64_bus_lossless([&] { return n64_read_memory(offset, out, length) == length; });
    };
    area.write = [size](const uint8_t* data, const uint8_t*, std::string& e,
                        const std::function<void(uint64_t)>& progress) {
      if (!n64_bus_lossless([&] { return n64_write_memory(0, data, size) == size; })) {
        e = "the EEPROM write was lost";
        return false;
      }
      if (progress) progress(size);
      return true;
    };
    area.address = [](uint32_t offset) {
      char text[32];
      std::snprintf(text, sizeof text, "EEPROM byte 0x%03X", offset);
      return std::string(text);
    };
    return true;
  }
  area.place = "at " + hex_address(kN64SaveBus);
  area.address = [](uint32_t offset) { return hex_address(kN64SaveBus + offset); };
  if (type == N64SaveType::flash) {
    // Named by --save-type: read-array mode, with the put-back in case the cartridge holds
    // SRAM after all. Detection has left a flash save in read-array mode already.
    uint8_t first[kFirst];
    if (!detected && !n64_bus_read_settled(kN64SaveBus, first, kFirst)) {
      error = kLost;
      return false;
    }
    if (!detected && !guarded_command(kFlashReadArray, first)) {
      const N64SaveFind lost = after_lost_command(kFlashReadArray, first);
      error = lost.message;
      if (changed) *changed = lost.changed;
      return false;
    }
    area.read = [](uint32_t offset, uint8_t* out, uint32_t length) {
      return n64_bus_read(kN64SaveBus + offset, out, length);
    };
    area.write = n64_flash_write;
    return true;
  }
  area.read = sram_read;
  area.address = [](uint32_t offset) { return hex_address(sram_address(offset)); };
  area.write = [size](const uint8_t* data, const uint8_t*, std::string& e,
                      const std::function<void(uint64_t)>& progress) {
    return sram_write(size, data, e, progress);
  };
  return true;
}
