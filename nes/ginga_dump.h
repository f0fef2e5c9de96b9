// The checksummed dump of the "Ginga no Sannin" cartridge into "Ginga.nes", and the CRC-32
// that checks it.
#pragma once
#include <cstdint>

// CRC-32 (IEEE 802.3, reflected 0xEDB88320) continued over `length` bytes; from 0 it gives
// the usual CRC-32.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, uint32_t length);
uint32_t crc32_block(const uint8_t* data, uint32_t length);

// Expected CRC-32 of each 16 KiB PRG bank of the cartridge.
inline constexpr uint32_t kGingaBankCrc[8] = {0x15B94B55, 0x3177C9C6, 0x7BC8A4BE, 0x23347AA0,
                                              0x468291BE, 0x46613D07, 0x680E2D5E, 0xE2670EEA};
inline constexpr uint32_t kGingaBankSize = 0x4000;
inline constexpr uint32_t kGingaFileSize = 0x20010;

enum class GingaResult : uint8_t { saved, wrong_cartridge, save_failed };

// Checks the fixed bank, dumps the seven others (each re-read until its checksum matches, with
// no limit) and saves "Ginga.nes" in the working folder. A failed save is reported and leaves
// an older "Ginga.nes" as it was.
GingaResult ginga_dump();
