// Flash identification of a cartridge's PRG flash chip, and the work-RAM test: the two probes
// that come before programming a flash cartridge.
#pragma once
#include <cstdint>

// A PRG block-program operation of the NES family.
using PrgProgramRoutine = void (*)(uint16_t address, const uint8_t* source, uint16_t length);

// Chosen by identify_flash: nes_prg_program_block, or nes_prg_program_block_29gl for a 29GL
// chip. Null until identify_flash has run.
extern PrgProgramRoutine prg_program_routine;
// Set once identification has read 0x01 at byte 0 and 0x7E at byte 2; never cleared.
extern bool flash_is_29gl;
// Chip size in bytes from the last CFI read; 0 when it gave none.
extern uint32_t flash_chip_size;

// Clears the three fields above, as at program start.
void flash_reset_state();

// Reads and prints the chip's identification bytes and its CFI size, and chooses the PRG
// block-program operation. The reads land in the first 1024 bytes of the image buffer.
void identify_flash();

// Writes two patterns into the work RAM at $6000-$7FFF and reads them back; returns whether
// both came back unchanged. `data` and `length` are not used; the patterns go through the
// first 0x8000 bytes of the image buffer, which are left zero.
bool work_ram_test(const uint8_t* data, uint32_t length);

// Decoders of a 1024-byte CFI or identification read.
uint32_t cfi_chip_size(const uint8_t* buffer);
uint32_t cfi_chip_size_interleaved(const uint8_t* buffer);
bool is_29gl_id(const uint8_t* buffer);
