// Command family 20: a cartridge addressed by bank and 16-bit offset. Byte and block reads,
// byte writes, scattered write lists, block writes and one-byte queries.
#pragma once
#include <cstdint>

inline constexpr uint8_t kFamily20 = 20;

// Sub-commands (packet byte 2).
inline constexpr uint8_t kFam20SubStart = 1;
inline constexpr uint8_t kFam20SubControl = 2;
inline constexpr uint8_t kFam20SubRead = 3;
inline constexpr uint8_t kFam20SubWriteBytes = 4;
inline constexpr uint8_t kFam20SubBlockWrite = 5;
inline constexpr uint8_t kFam20SubShortBlockWrite = 6;
inline constexpr uint8_t kFam20SubQuery = 7;
inline constexpr uint8_t kFam20SubBlockWrite32 = 8;

// Bytes per read command and its reply.
inline constexpr uint32_t kFam20ReadChunk = 8192;
// Data bytes per packet of each block write.
inline constexpr uint32_t kFam20BlockChunk = 384;
inline constexpr uint16_t kFam20ShortBlockMax = 256;
inline constexpr uint32_t kFam20BlockChunk32 = 498;
// Four-byte write entries from byte 12 end at byte 507.
inline constexpr uint8_t kFam20ListMax = 124;

// Addresses hold the bank in bits 16-23 and the offset in bits 0-15.
void fam20_start();
void fam20_control_clear();
void fam20_control_set(uint8_t value);
uint8_t fam20_read_byte(uint32_t address);
// Reads in 8 KiB commands; the address advances as one 24-bit number, so the bank goes up
// when the offset passes 0xFFFF.
void fam20_read_block(uint32_t address, uint8_t* destination, uint32_t length);
void fam20_write_byte(uint32_t address, uint8_t value);
// At most kFam20ListMax entries travel; the rest are not sent.
void fam20_write_byte_list(const uint32_t* addresses, const uint8_t* values, uint8_t count);
// One command file; every packet keeps `bank`, so the offset wraps within it.
void fam20_write_block(uint8_t selector, uint8_t bank, uint16_t offset, const uint8_t* source,
                       uint32_t length);
// One packet of at most kFam20ShortBlockMax bytes; a longer length is cut.
void fam20_write_short_block(uint8_t selector, uint8_t bank, uint16_t offset, const uint8_t* source,
                             uint16_t length);
uint8_t fam20_query(uint8_t value);
// One command file; the whole 32-bit address travels and advances with each packet.
void fam20_write_block_addr32(uint32_t address, const uint8_t* source, uint32_t length);
