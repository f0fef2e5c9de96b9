// The saves of retail SFC, WSC and NES cartridges (save_slots.h hands them to the jobs).
#pragma once
#include <cstdint>
#include <vector>

#include "cartridge/save.h"
#include "cartridge/save_slots.h"

inline constexpr uint32_t kNesMapperMmc1 = 1;
inline constexpr uint32_t kNesMapperMmc3 = 4;

// Every save the slot's cartridges can carry, for the size check before the device opens.
const std::vector<SaveShape>& sfc_save_shapes();
const std::vector<SaveShape>& wsc_save_shapes();
const std::vector<SaveShape>& nes_save_shapes();
// Boards whose work RAM enable the job knows (MMC1, MMC3).
bool nes_save_mapper_known(uint32_t mapper);

// SFC: battery RAM of the header's size where its map puts it.
SaveFound save_find_sfc();
// WSC: SRAM of the footer's size at 0x10000; EEPROM and SRAM beyond 64 KiB are refused.
SaveFound save_find_wsc();
// NES: the 8 KiB work RAM at $6000, enabled for the job and disabled by the area's finish.
SaveFound save_find_nes(uint32_t mapper);
