// Flashing an image onto the flash cartridge of an SFC, N64 or WSC slot: identify the chip,
// then carry out a plan (flash_plan.h) — erase the sectors it names or the whole chip, program
// each batch as one command file and read its sector back once, stopping at the first fault.
// Prints nothing: the caller reports what it returns.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cartridge/flash_plan.h"
#include "cartridge/flash_slot.h"

struct FlashChipInfo {
  uint16_t manufacturer = 0;
  uint16_t device = 0;
  bool first_sector_protected = false;  // autoselect word 2
  bool has_geometry = false;            // the CFI query gave a usable sector map
  uint32_t chip_size = 0;               // the size the chip reports
  FlashGeometry geometry;               // its sectors as far as the slot reaches
  std::string problem;                  // why there is no sector map
};

// Puts an image file's bytes into the order and length the slot's bus takes: an N64 image in
// .v64 or .n64 byte order into the bus order (.z64), a word bus's odd length padded with 0xFF.
// `note` says what was done; false with `problem` when the image cannot be put so.
bool flash_prepare_image(const FlashSlot& slot, std::vector<uint8_t>& image, std::string& note,
                         std::string& problem);

// The family's identity, then autoselect and the CFI query (flash_slot.h).
FlashChipInfo flash_identify(const FlashSlot& slot);

enum class FlashStatus : uint8_t {
  done,
  erase_failed,   // a sector (or the chip) did not read back erased within the bound
  not_taken,      // a command file was not written whole or a read did not arrive
  verify_failed,  // a byte read back differs from the image
};

struct FlashResult {
  FlashStatus status = FlashStatus::done;
  uint32_t offset = 0;  // from the chip's first byte: the sector, batch or byte at fault
  uint8_t got = 0;      // verify_failed: what the chip holds there
  uint8_t want = 0;     // and what the image holds
  uint32_t command_files = 0;  // program batches sent
  uint32_t sectors_read = 0;   // sectors read back
};

// Called after each step: the phase ("erase", "program"), its bytes done and in all.
using FlashProgress = std::function<void(const char* phase, uint64_t done, uint64_t total)>;

// Carries out `plan` for `image` (at least as long as the plan's batches reach).
FlashResult flash_run(const FlashSlot& slot, const FlashPlan& plan, const uint8_t* image,
                      const FlashProgress& progress);
