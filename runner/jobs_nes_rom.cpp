// cartlink-run's other NES jobs: the checksummed Ginga dump, ROM-file flashing, the misc-byte
// probe and the entry's save-RAM dump, each without the exit prompt.
#include <cstdio>
#include <string>
#include <vector>

#include "nes/ginga_dump.h"
#include "link/transport.h"
#include "nes/rom_file.h"
#include "nes/save_ram_dump.h"
#include "runner/runner.h"

namespace runner_nes_rom {

int ginga_dump(const std::vector<std::string>&) {
  return ::ginga_dump() == GingaResult::saved ? kExitDone : kExitFailed;
}

// The file is read and its header judged before the device is opened, so a file the job would
// refuse sends nothing, not even the flash identification that the job starts with.
bool check_flash_rom_file(const std::vector<std::string>& args) {
  const char* name = args.empty() ? kRomFileDefault : args[0].c_str();
  std::vector<uint8_t> image(kRomFileMax);
  const uint32_t n = read_file_at(name, image.data(), kRomFileMax, 0);
  if (n == 0) {
    runner_error("cannot read %s (missing, empty or unreadable); nothing was sent", name);
    return false;
  }
  const RomFileLayout layout = rom_file_layout(image.data(), n);
  if (layout.usable) return true;
  if (layout.prg == 0) {
    runner_error("%s: its header gives no PRG data; nothing was sent", name);
  } else {
    runner_error("%s holds %u bytes, but its header needs %u (16 + PRG %u + CHR %u); nothing "
                 "was sent", name, n, 16 + layout.prg + layout.chr, layout.prg, layout.chr);
  }
  return false;
}

int flash_rom_file(const std::vector<std::string>& args) {
  const char* name = args.empty() ? nullptr : args[0].c_str();
  switch (flash_rom_file_run(name)) {
    case RomFileResult::programmed:
    case RomFileResult::ram_tested:
      return kExitDone;
    case RomFileResult::verify_failed:
    case RomFileResult::ram_failed:
      return kExitFailed;
    case RomFileResult::read_error:
      // The job's own message has no line feed: end the line before the runner's.
      std::printf("\n");
      runner_error("cannot read %s", name ? name : kRomFileDefault);
      return kExitUsage;
    case RomFileResult::refused:
      return kExitUsage;
  }
  return kExitFailed;
}

int misc_byte_probe(const std::vector<std::string>&) {
  ::misc_byte_probe();
  return kExitDone;
}

int save_ram_dump(const std::vector<std::string>&) {
  return save_ram_dump_listing() ? kExitDone : kExitFailed;
}

}  // namespace runner_nes_rom
