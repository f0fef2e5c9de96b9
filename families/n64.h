// Command family 16: the N64 slot. Boards and firmware releases speak slightly different
// dialects of the family, so its cartridge-bus operations go through a process-wide table of
// nine entries that n64_identify binds from the identity text. A second, self-contained group
// (sub-commands 10 to 15) reaches a save memory that the device probes first.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamilyN64 = 16;

// Sub-commands (packet byte 2).
inline constexpr uint8_t kN64SubIdentity = 1;
inline constexpr uint8_t kN64SubSetAddress = 2;
inline constexpr uint8_t kN64SubRead = 3;
inline constexpr uint8_t kN64SubWrite = 4;
inline constexpr uint8_t kN64SubWrite5 = 5;
inline constexpr uint8_t kN64SubWrite7 = 7;
inline constexpr uint8_t kN64SubPageRead = 8;
inline constexpr uint8_t kN64SubPageWrite = 9;
inline constexpr uint8_t kN64SubProbe = 10;
inline constexpr uint8_t kN64SubStatus = 11;
inline constexpr uint8_t kN64SubReadStart = 12;
inline constexpr uint8_t kN64SubReadChunk = 13;
inline constexpr uint8_t kN64SubWriteStart = 14;
inline constexpr uint8_t kN64SubWriteChunk = 15;

// The cartridge ROM window: "DUMP.ROM" shows it at file offset address & kN64WindowMask.
inline constexpr uint32_t kN64RomBase = 0x10000000;
inline constexpr uint32_t kN64RomEnd = 0x14000000;
inline constexpr uint32_t kN64WindowMask = 0x3FFFFFF;

// Firmware numbers at which the bindings change.
inline constexpr uint32_t kN64WindowFirmware = 320;  // windowed reads, no address packet
inline constexpr uint32_t kN64PlainFirmware = 400;   // plain writes, addressed page formats

// Payload bytes per packet of the batched writes.
inline constexpr uint32_t kN64WriteChunk = 500;      // sub-commands 4 and 5
inline constexpr uint32_t kN64WriteChunk7 = 480;     // sub-command 7
inline constexpr uint32_t kN64AddressedChunk = 448;  // addressed write, sub-command 9
inline constexpr uint32_t kN64PageHalf = 256;        // paged write
inline constexpr uint32_t kN64Page = 512;            // paged read
inline constexpr uint32_t kN64AddressedMax = 2048;   // addressed read

// Packet block reads move this many bytes per packet, 2048 on one board kind.
inline constexpr uint16_t kN64ReadChunk = 8192;
inline constexpr uint16_t kN64ReadChunkQ3V6 = 2048;

// What an empty n64_read_word gives.
inline constexpr uint16_t kN64EmptyWord = 0x55AA;

// Probed save memory.
inline constexpr uint32_t kN64MemoryIdSize = 8;
inline constexpr uint32_t kN64MemoryReadChunk = 2048;
inline constexpr uint32_t kN64MemoryWriteChunk = 384;
// Writes move whole 128-byte units, at most 65408 bytes per call.
inline constexpr uint32_t kN64MemoryLengthMask = 0xFF80;

// The operation table. Reads return the bytes delivered into the destination and writes
// whether their command file was written whole, so callers can tell a failed transfer.
struct N64Table {
  void (*set_address)(uint32_t address);
  uint16_t (*read_word)(uint32_t address);
  uint32_t (*read_block)(uint32_t address, uint8_t* destination, uint32_t length);
  void (*write_word)(uint32_t address, uint16_t value);
  bool (*write_block)(uint32_t address, const uint8_t* source, uint32_t length);
  bool (*write_block_sub5)(uint32_t address, const uint8_t* source, uint32_t length);
  bool (*write_block_sub7)(uint32_t address, const uint8_t* source, uint32_t length);
  uint32_t (*read_page)(uint32_t address, uint8_t* destination, uint32_t length);
  bool (*write_page)(uint32_t address, const uint8_t* source, uint32_t length);
};

inline constexpr uint32_t kN64Entries = 9;

// Process-wide N64 state, written by n64_identify (table, read chunk, firmware) and by the
// probe (selector).
extern N64Table g_n64_table;
extern uint16_t g_n64_read_chunk;
extern uint32_t g_n64_firmware;  // the number the table was last bound for
extern uint8_t g_n64_memory_selector;

// Back to the state at program start: every entry empty, chunk 8192, selector 0.
void n64_reset_state();

// Sends the identity command, reads the identity text and binds the table. Never empties an
// entry; n64_set_address is bound only below firmware 320. Keys the payload cipher from
// key_data when it binds the ciphered writes.
void n64_identify();

// Entry names in table order, and the variant each entry is bound to ("empty" when none).
const char* n64_entry_name(uint32_t entry);
const char* n64_bound_variant(uint32_t entry);

// Forwarding functions: call the bound variant; an empty entry does nothing (reads deliver
// 0 bytes, writes report false) and n64_read_word gives kN64EmptyWord.
void n64_set_address(uint32_t address);
uint16_t n64_read_word(uint32_t address);
uint32_t n64_read_block(uint32_t address, uint8_t* destination, uint32_t length);
void n64_write_word(uint32_t address, uint16_t value);
bool n64_write_block(uint32_t address, const uint8_t* source, uint32_t length);
bool n64_write_block_sub5(uint32_t address, const uint8_t* source, uint32_t length);
bool n64_write_block_sub7(uint32_t address, const uint8_t* source, uint32_t length);
uint32_t n64_read_page(uint32_t address, uint8_t* destination, uint32_t length);
bool n64_write_page(uint32_t address, const uint8_t* source, uint32_t length);

// Bus writes at several addresses in one command file: each run one sub-command 4 packet (at
// most kN64WriteChunk bytes), in order, so that the device carries them out back to back.
// False, having sent nothing, when a run is longer or the batch could not be built; else
// whether the command file was written whole.
struct N64BusRun {
  uint32_t address;
  const uint8_t* data;
  uint32_t length;
};
bool n64_write_runs(const N64BusRun* runs, uint32_t count);

// Flash erase sequences through the table. The sector erase polls the sector's first word
// (at once, then after each of up to 51 pauses of 100 ms) and reports whether it read 0xFFFF
// within the first 51 reads.
bool n64_erase_sector(uint32_t sector_address);
void n64_erase_chip();

// Probed save memory (sub-commands 10 to 15); independent of the table.
// Probes the memory, stores the selector and copies the 8 identification bytes to
// `identification` when it is not null.
uint8_t n64_probe_memory(uint8_t* identification);
uint8_t n64_memory_status();
// Returns the bytes delivered (equal to `length` when every reply read succeeded). A read at
// address 0 first sends the read-start packet.
uint32_t n64_read_memory(uint32_t address, uint8_t* destination, uint32_t length);
// Writes length & 0xFF80 bytes (nothing below 128) and returns that count, or 0 when the
// batch could not be built or written. A write at address 0 first sends the write-start packet.
uint32_t n64_write_memory(uint32_t address, const uint8_t* source, uint32_t length);
