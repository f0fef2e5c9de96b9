// The flash cartridges of the SFC, N64 and WSC slots as the flash job drives them: how each
// family reaches the chip's command cycles, erases a sector or the chip (waiting, with a bound,
// until it reads erased), programs one batch as one command file and reads back. One row per
// slot (flash_sfc.cpp, flash_n64.cpp, flash_wsc.cpp); the procedure is flash_job.h's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cartridge/flash_plan.h"

// What the chip answered in autoselect mode (words 0-3: manufacturer, device, the protection
// of the first sector, ...) and to its CFI query (words 0 to kFlashCfiWords - 1), each as the
// chip's word (byte-mode chips: the byte in the low half).
inline constexpr size_t kFlashAutoselectWords = 4;
struct FlashQuery {
  uint16_t autoselect[kFlashAutoselectWords] = {};
  uint16_t cfi[kFlashCfiWords] = {};
};

struct FlashSlot {
  const char* name;       // the slot's name in cartlink-run
  uint64_t bus_base;      // bus address of the chip's first byte
  uint32_t reach;         // the largest chip the slot's bus decodes, from bus_base
  uint32_t packet_bytes;  // data bytes one packet of the program form carries
  const char* program_form;
  uint32_t word;          // images are padded with 0xFF to a multiple of this
  void (*start)();        // the family's identity
  // Autoselect, then the CFI query; leaves the chip in read mode.
  void (*query)(FlashQuery& out);
  // True when the sector (at a chip offset) or the chip read back erased within the bound.
  bool (*erase_sector)(uint32_t offset);
  bool (*erase_chip)();
  // One batch in one command file; false when the family could not build or send it.
  bool (*program)(uint32_t offset, const uint8_t* data, uint32_t length);
  void (*read)(uint32_t offset, uint8_t* out, uint32_t length);
  bool n64_byte_orders = false;  // images come as .z64, .v64 or .n64
  // The image ends at the chip's last byte: the console starts from the top of its space.
  bool image_at_top = false;
};

const FlashSlot& flash_slot_sfc();
const FlashSlot& flash_slot_n64();
const FlashSlot& flash_slot_wsc();
// By name; nullptr for a slot without a flash row.
const FlashSlot* flash_slot(std::string_view name);

// Erase polling shared by the rows: a sector ends within seconds, a whole chip may take
// minutes.
inline constexpr uint32_t kFlashPollMs = 100;
inline constexpr uint32_t kFlashSectorPolls = 100;
inline constexpr uint32_t kFlashChipPolls = 3000;
