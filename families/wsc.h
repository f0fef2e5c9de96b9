// Command family 10: the WSC slot. Reads of the cartridge's 1 MiB space straight from
// "DUMP.ROM" or through reply-file chunks, word and byte writes on its bus, block writes in
// several packet forms (three of them protected: 8 data bytes of each packet enciphered while
// the WSC cipher flag is on), and the flash erase sequences built on the word write.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamilyWsc = 10;

// Sub-commands (packet byte 2).
inline constexpr uint8_t kWscSubIdentity = 1;
inline constexpr uint8_t kWscSubRead = 4;
inline constexpr uint8_t kWscSubWrite = 6;
inline constexpr uint8_t kWscSubWriteWord = 7;
inline constexpr uint8_t kWscSubWriteByte = 9;
inline constexpr uint8_t kWscSubProtected10 = 10;
inline constexpr uint8_t kWscSubProtected11 = 11;
inline constexpr uint8_t kWscSubProtected12 = 12;
inline constexpr uint8_t kWscSubRead15 = 15;
inline constexpr uint8_t kWscSubWrite16 = 16;

// Data bytes per packet of each form.
inline constexpr uint32_t kWscReadChunk = 2048;
inline constexpr uint32_t kWscReadChunk15 = 128;
inline constexpr uint32_t kWscWriteChunk = 500;
inline constexpr uint32_t kWscWriteChunk16 = 128;
inline constexpr uint32_t kWscProtectedChunk = 500;
inline constexpr uint32_t kWscProtectedChunk12 = 480;

// Sector erase polling: one read at once, then one after each pause.
inline constexpr uint32_t kWscErasePauses = 51;
inline constexpr uint32_t kWscErasePauseMs = 100;

// The board whose identity begins with these characters takes protected writes in plain.
inline constexpr const char* kWscPlainBoard = "WSC_HWRKA_FW400";
inline constexpr uint32_t kWscPlainBoardPrefix = 13;

// On at program start: protected writes are enciphered until wsc_identify says otherwise.
extern bool wsc_cipher_flag;

// Back to the state at program start (flag on).
void wsc_reset_state();

// Sends the identity command, then decides the cipher flag from device_name: off for the plain
// board; on otherwise, with the payload cipher keyed from key_data.
void wsc_identify();

// "DUMP.ROM" at file offset = address, no packet.
void wsc_read_rom(uint32_t address, uint8_t* destination, uint32_t length);
// One whole 1024-byte block of "DUMP.ROM" per byte; address bits above 19 are ignored.
uint8_t wsc_read_byte(uint32_t address);

void wsc_write_word(uint32_t address, uint16_t value);
void wsc_write_byte(uint32_t address, uint8_t value);

// Reply-file chunks of 2048 (sub-command 4) or 128 (sub-command 15) bytes.
void wsc_read_block(uint32_t address, uint8_t* destination, uint32_t length);
void wsc_read_block_sub15(uint32_t address, uint8_t* destination, uint32_t length);

// One command file per packet of up to 500 (sub-command 6) or 128 (sub-command 16) bytes.
void wsc_write_block(uint32_t address, const uint8_t* source, uint32_t length);
void wsc_write_block_sub16(uint32_t address, const uint8_t* source, uint32_t length);

// Protected writes: all packets of one call in one command file. Nothing is sent when the
// command would not fit in memory or in one command file. The caller's source is not changed.
void wsc_write_block_sub10(uint32_t address, const uint8_t* source, uint32_t length);
void wsc_write_block_sub11(uint32_t address, const uint8_t* source, uint32_t length);
void wsc_write_block_sub12(uint32_t address, const uint8_t* source, uint32_t length);

// Sector erase, then polls the sector address until it reads 0xFF: true when one of the first
// 51 reads does; false after the 52nd read.
bool wsc_erase_sector(uint32_t sector_address);
void wsc_erase_chip();
