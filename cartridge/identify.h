// What a cartridge says about itself, read through its slot's family, and the slots' bus reads
// in the terms the dumps and the save jobs use. Every read reports a lost command or answer
// (false) instead of handing on whatever the reply file held; what identifies a cartridge is
// read until two reads settle it (read_vote.h), since a dump's size and layout follow from it.
#pragma once
#include <cstdint>

#include "formats/n64_header.h"
#include "formats/sfc_header.h"
#include "formats/wsc_footer.h"

// The WSC slot's address space; a cartridge maps the end of its ROM at its top.
inline constexpr uint32_t kWscSpace = 0x100000;
// Where a WSC cartridge's battery SRAM shows in that space.
inline constexpr uint32_t kWscSramWindow = 0x10000;
inline constexpr uint32_t kWscSramWindowEnd = 0x20000;

// Bus reads of each slot: false when a command or an answer was lost.
bool cart_sfc_read(uint32_t address, uint8_t* out, uint32_t length);
bool cart_n64_read(uint32_t address, uint8_t* out, uint32_t length);
bool cart_wsc_read(uint32_t address, uint8_t* out, uint32_t length);

// The SFC ROM as its map lays it on the bus, read at ROM offsets (a flat .sfc image). The
// window's half is chosen once per call where the firmware shows one half at a time.
bool cart_sfc_read_rom(SfcMap map, uint64_t offset, uint8_t* out, uint32_t length);

// The SFC header: the block at each map's place, and the best of them. False when a read
// failed or did not settle; `blocks` (when given) receives the three blocks as read.
bool cart_sfc_detect(SfcDetection& out, uint8_t (*blocks)[kSfcHeaderBlock] = nullptr);
// The header at one map's place, whatever it scores (a damaged header and --map).
bool cart_sfc_header_at(SfcMap map, SfcHeader& out);

// The WSC footer: the last 16 bytes of the slot's space.
bool cart_wsc_footer(WscFooter& out);

// The N64 header at the start of the ROM window.
bool cart_n64_header(N64Header& out);
