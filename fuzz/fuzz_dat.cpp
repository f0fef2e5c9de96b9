// Known-good lists (XML DAT) as a user's --dat file hands them over: the whole text through the
// XML reader and the list's own checks, then a lookup of what was read. Refusals must name a
// line, and nothing is kept of a refused list.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/dat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Dat dat;
  std::string error;
  bool ok = dat_parse(reinterpret_cast<const char*>(data), size, "fuzz.dat", dat, error);
  if (!ok) {
    if (!dat.roms.empty() || error.rfind("fuzz.dat line ", 0) != 0) std::abort();
    return 0;
  }
  for (const DatRom& rom : dat.roms) {
    const DatRom* found = dat_find(dat, rom.size, rom.crc32, rom.sha1);
    if (!found || found->size != rom.size || found->crc32 != rom.crc32) std::abort();
  }
  return 0;
}
