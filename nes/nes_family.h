// Command family 14: the NES/Famicom slot. Byte and block access to the cartridge's CPU bus
// (mapper registers, work RAM, PRG flash) and PPU bus (CHR memory), the block-program commands
// of the flash jobs, the write list, and a queue of CPU register writes sent in bulk.
#pragma once
#include <cstdint>

// Sub-commands (packet byte 2).
inline constexpr uint8_t kNesSubCpuRead = 4;
inline constexpr uint8_t kNesSubCpuWrite = 5;
inline constexpr uint8_t kNesSubPrgFlashWrite = 6;
inline constexpr uint8_t kNesSubPpuRead = 7;
inline constexpr uint8_t kNesSubPpuWrite = 8;
inline constexpr uint8_t kNesSubPrgProgram = 9;
inline constexpr uint8_t kNesSubChrProgram = 10;
inline constexpr uint8_t kNesSubProgramSetup = 11;
inline constexpr uint8_t kNesSubCpuWriteAlt = 13;
inline constexpr uint8_t kNesSubMiscByte = 18;
inline constexpr uint8_t kNesSubWriteList = 19;
inline constexpr uint8_t kNesSubPrgProgram29gl = 128;
inline constexpr uint8_t kNesSubSetByte = 144;

// From this protocol level on, block reads come straight from "DUMP.ROM", queued writes travel
// as one write list, and block-program data is sent in plain.
inline constexpr int32_t kNesFastLevel = 403;

// Data bytes per block-write packet (the payload runs from byte 12 up to byte 509).
inline constexpr uint16_t kNesWriteChunk = 498;
inline constexpr uint16_t kNesWriteChunk29gl = 480;
// Bytes per packet of a reply-file block read.
inline constexpr uint16_t kNesReadChunk = 2048;
// Entries of a write list; 124 four-byte entries from byte 12 end at byte 507.
inline constexpr uint8_t kNesListMax = 124;

// Write queue: CPU writes held back until a flush or a queued block read sends them.
// Mode 0 flushes on request; modes 1 and 2 hand the writes to the next queued read, as single
// writes (mode 1: sub-command 5, mode 2 and above: sub-command 13) or, on fast firmware, as the
// read's write list.
extern uint8_t queue_mode;
extern uint8_t queue_count;
extern uint16_t queue_addresses[kNesListMax];
extern uint8_t queue_values[kNesListMax];

// Empties the queue and sets mode 0, as at program start.
void nes_reset_state();

// CPU bus.
uint8_t nes_cpu_read_byte(uint16_t address);
void nes_cpu_read_block(uint16_t address, uint8_t* destination, uint16_t length);
void nes_cpu_write_byte(uint16_t address, uint8_t value);
void nes_cpu_write_block(uint16_t address, const uint8_t* source, uint16_t length);
void nes_prg_flash_write(uint16_t address, uint8_t value);
void nes_cpu_write_byte_alt(uint16_t address, uint8_t value);

// PPU bus.
uint8_t nes_ppu_read_byte(uint16_t address);
void nes_ppu_read_block(uint16_t address, uint8_t* destination, uint16_t length);
void nes_ppu_write_byte(uint16_t address, uint8_t value);
void nes_ppu_write_block(uint16_t address, const uint8_t* source, uint16_t length);

// Block-program commands: the device runs the flash program algorithm set up by
// nes_program_setup. Below kNesFastLevel the first 8 data bytes of each packet are enciphered.
// The caller's source is never modified.
void nes_prg_program_block(uint16_t address, const uint8_t* source, uint16_t length);
void nes_chr_program_block(uint16_t address, const uint8_t* source, uint16_t length);
void nes_prg_program_block_29gl(uint16_t address, const uint8_t* source, uint16_t length);
void nes_program_setup(uint16_t word1, uint16_t word2, uint16_t word3, uint16_t word4);

uint8_t nes_read_misc_byte();
uint8_t nes_read_misc_byte_short();
void nes_set_byte(uint8_t value);

// Sends `count` (at most kNesListMax; more are cut) CPU writes with every chunk of a CPU block
// read of `length` bytes into `destination`. With length 0 the writes go alone and nothing is
// read (`destination` may then be null).
void nes_write_list_read(uint16_t address, uint8_t* destination, uint16_t length,
                         const uint16_t* addresses, const uint8_t* values, uint8_t count);

// Write queue operations.
void nes_set_queue_mode(uint8_t mode);
void nes_queue_write(uint16_t address, uint8_t value);
void nes_flush_queue();
void nes_flush_queue_prg_flash();
void nes_flush_queue_ppu();
void nes_queued_cpu_read_block(uint16_t address, uint8_t* destination, uint16_t length);
void nes_queued_ppu_read_block(uint16_t address, uint8_t* destination, uint16_t length);
