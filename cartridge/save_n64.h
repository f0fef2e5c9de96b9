// The save of an N64 cartridge, found rather than guessed: an EEPROM (4 or 16 Kbit) behind the
// probed memory, or on the bus at 0x08000000 battery SRAM (32 KiB, or 96 KiB in three banks by
// A18-A19) or the 128 KiB flash save with its own command protocol.
//
// Telling SRAM from the flash save takes one write, since only the flash save answers its
// identification command. That command, written to 0x08010000, reaches an SRAM at offset 0
// (the SRAM does not decode the address bits above), so it always travels in one command file
// with the write that puts the SRAM's first four bytes back as they were read before: the
// device carries the two out back to back, and no save is changed once the file has been
// carried out. Nothing else detection sends changes any memory: the flash save takes only its
// mode commands (identification, read array), never an erase or a program.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cartridge/save.h"

enum class N64SaveType : uint8_t { none, eeprom4k, eeprom16k, sram, sram96k, flash };

// The shapes of the five save types, in that order (names as --save-type takes them).
const std::vector<SaveShape>& n64_save_shapes();
// The type named by --save-type; none for an unknown name.
N64SaveType n64_save_type_named(const std::string& name);

// The bus domain of SRAM and flash saves, and the flash save's command register.
inline constexpr uint32_t kN64SaveBus = 0x08000000;
inline constexpr uint32_t kN64FlashCommand = 0x08010000;

struct N64SaveFind {
  bool found = false;
  N64SaveType type = N64SaveType::none;
  std::string how;      // what identified it ("the probe answered 00 80 00")
  std::string message;  // when not found: why
  // When not found: a lost command may have left the save changed and `message` says how
  // (else nothing was written).
  bool changed = false;
};

// Finds the save of the cartridge in the slot; n64_identify must have run. Leaves a flash save
// in read-array mode and the probe's selector set for an EEPROM.
N64SaveFind n64_find_save();

// The save of `type` (not none) as backup and restore use it; `detected`: n64_find_save found
// the type, else --save-type named it. A named EEPROM is probed first (the selector goes into every
// packet); a named flash save is put into read-array mode in the same command file as the
// put-back that detection uses, so that a flash save named wrongly over SRAM cannot change it.
// A named EEPROM that the probe does not answer as that size is refused. On failure `changed`
// (when given) tells that a lost command may have left the save changed, as `error` says.
bool n64_save_area(N64SaveType type, bool detected, SaveArea& area, std::string& error,
                   bool* changed = nullptr);

// The cartridge's title from its header, for a default file name ("" when unreadable).
std::string n64_save_title();
// The extension emulators give each save type: ".eep", ".sra", ".fla".
const char* n64_save_extension(N64SaveType type);

// The flash save's protocol (save_n64_flash.cpp): one 32-bit command as two word writes; the
// status register as the chip shows it after a command; erase and program of the whole save,
// sector by sector, skipping sectors whose contents stay the same.
bool n64_flash_command(uint32_t command);
bool n64_flash_write(const uint8_t* data, const uint8_t* old, std::string& error,
                     const std::function<void(uint64_t done)>& progress);
