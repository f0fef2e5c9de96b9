// cartlink-run's other NES jobs: the checksummed Ginga dump, ROM-file flashing, the misc-byte
// probe and the entry's save-RAM dump, each without the exit prompt.
#include <cstdio>
#include <string>
#include <vector>

#include "nes/ginga_dump.h"
#include "nes/rom_file.h"
#include "nes/save_ram_dump.h"
#include "runner/runner.h"

namespace runner_nes_rom {

int ginga_dump(const std::vector<std::string>&) {
  return ::ginga_dump() == GingaResult::saved ? kExitDone : kExitFailed;
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
