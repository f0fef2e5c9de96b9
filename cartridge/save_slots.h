// The slots whose saves backup-save and restore-save move, in one place: what each can take
// before the device is opened, and finding the save once it is.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cartridge/save.h"

struct SaveRequest {
  std::string slot;       // "sfc", "n64", "wsc" or "nes"
  std::string save_type;  // n64: as --save-type names it ("" finds it)
  uint32_t mapper = 0;    // nes: the board (iNES mapper number)
};

// Whether the jobs know the slot; the slots' names for messages ("sfc, n64, wsc or nes").
bool save_slot_known(const std::string& slot);
const char* save_slot_names();

// The shapes a restore's file may have before the device is opened: the named save type's, or
// every save the slot's cartridges can carry.
std::vector<SaveShape> save_request_shapes(const SaveRequest& request);

struct SaveFound {
  bool ok = false;
  SaveArea area;
  std::string how;           // how it was found, for the user ("" when the request named it)
  // A backup's file name when none is given (it may read the cartridge's title).
  std::function<std::string()> default_name;
  std::string message;       // when not ok: why
  bool changed = false;      // when not ok: the save may have been changed (message says how)
};

// Identifies the slot's family and finds the cartridge's save (the device is open).
SaveFound save_find(const SaveRequest& request);
