// Known-good lists in the XML DAT format that preservation sets publish:
//   <datafile><game name="..."><rom name="..." size="..." crc="..." sha1="..."/></game>...
// read with a maintained XML parser (platform/xml.h) and looked up by size and hashes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hash.h"

struct DatRom {
  std::string game;      // the game element's name
  std::string rom_name;  // the rom element's name
  uint64_t size = 0;
  uint32_t crc32 = 0;
  uint8_t sha1[kSha1Size] = {};
  bool has_sha1 = false;
};

struct Dat {
  std::vector<DatRom> roms;
};

// Reads a whole DAT file. False with `error` set ("FILE line N: what is wrong") on a file that
// cannot be read, is not well-formed XML, is not a datafile, or has a rom whose size, crc or
// sha1 attribute is missing or malformed (crc is 8 hex digits, sha1 40; sha1 may be absent).
bool dat_load(const char* path, Dat& out, std::string& error);
// The same over text in memory; `source` names it in messages.
bool dat_parse(const char* text, size_t size, const char* source, Dat& out, std::string& error);

// Bytes as lowercase hex, the form a known-good list gives a SHA-1 in.
std::string dat_hex(const uint8_t* bytes, size_t count);

// The entry with this size, CRC-32 and (where the entry has one) SHA-1; nullptr when none.
const DatRom* dat_find(const Dat& dat, uint64_t size, uint32_t crc32,
                       const uint8_t sha1[kSha1Size]);
