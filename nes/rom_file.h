// Programming an NES ROM file into a flash cartridge (PRG behind $5116, CHR behind $5120), and
// the misc-byte probe of a serially loaded register.
#pragma once
#include <cstdint>

// Most of a ROM file that is loaded; the rest of a longer file is not used.
inline constexpr uint32_t kRomFileMax = 0x800000;
inline constexpr const char* kRomFileDefault = "gac.nes";

enum class RomFileResult : uint8_t {
  programmed,     // every bank read back as written
  verify_failed,  // a flash job reported a bank that read back wrong
  ram_tested,     // a file without header: the work-RAM test passed
  ram_failed,     // ... and did not
  read_error,     // missing, unreadable or empty: "read error." printed
  refused,        // a header the file cannot satisfy: said why, nothing erased
};

// What the first `n` bytes of a ROM file (as loaded, at most kRomFileMax) say about it: a size
// that is a multiple of 256 has no header; otherwise header bytes 4 and 5 give the PRG and CHR
// sizes. `usable` is false for a header the file cannot satisfy (no PRG, or fewer bytes than
// 16 + PRG + CHR), which the job refuses before anything is erased.
struct RomFileLayout {
  bool header;
  uint32_t prg, chr;
  bool usable;
};
RomFileLayout rom_file_layout(const uint8_t* image, uint32_t n);

// Identifies the flash chip, loads the file (null: "gac.nes") and programs it, or runs the
// work-RAM test for a file without header. Does not end the process.
RomFileResult flash_rom_file_run(const char* file_name);

// The library job: as above; the read-error path ends through the exit prompt. Returns 1.
int flash_rom_file(const char* file_name);

// Loads 0, 1, 2 and 3 into the serial register at $8000 and prints the misc byte after each,
// and once more. Returns 1.
int misc_byte_probe();
