// cartlink-run dump SLOT [OUTFILE] [options]: a whole cartridge into a verified ROM file. Every
// word, the known-good list and the output's name are checked before the device is opened.
#include <memory>
#include <string>
#include <vector>

#include "cartridge/dump.h"
#include "cartridge/nes_banks.h"
#include "formats/dat.h"
#include "platform/files.h"
#include "runner/args.h"
#include "runner/runner.h"

namespace runner_dump {

namespace {

constexpr uint64_t kSfcSizeUnit = 0x8000;    // a LoROM run: SFC ROMs come in whole ones
constexpr uint64_t kSfcSizeMax = 0x800000;   // ExHiROM
constexpr uint64_t kN64SizeMax = 0x4000000;  // the ROM window
constexpr uint64_t kWscSizeMax = 0x100000;   // the slot's space
constexpr uint64_t kKilobyte = 1024;

const std::vector<JobOption> kOptions = {
    {"dat", true},     {"passes", true}, {"force", false},  {"name-from-dat", false},
    {"map", true},     {"size", true},   {"mapper", true},  {"prg", true},
    {"chr", true},     {"mirroring", true},
};

// The options each slot takes beyond the common ones.
struct SlotOptions {
  const char* slot;
  std::vector<const char*> options;
};
const std::vector<SlotOptions> kSlots = {
    {"sfc", {"map", "size"}},
    {"n64", {"size"}},
    {"wsc", {"size"}},
    {"nes", {"mapper", "prg", "chr", "mirroring"}},
};

bool takes(const SlotOptions& slot, const std::string& option) {
  for (const char* o : slot.options) {
    if (option == o) return true;
  }
  return false;
}

bool size_option(const JobWords& words, const char* name, uint64_t unit, uint64_t least,
                 uint64_t most, uint64_t& out) {
  const std::string* text = words.value(name);
  if (!text) return true;
  if (!parse_size(*text, out) || out < least || out > most || out % unit != 0) {
    runner_error("--%s %s is not a size from %llu to %llu bytes in whole units of %llu", name,
                 text->c_str(), static_cast<unsigned long long>(least),
                 static_cast<unsigned long long>(most), static_cast<unsigned long long>(unit));
    return false;
  }
  return true;
}

// Everything the words say, checked; false with a message on standard error.
bool parse(const std::vector<std::string>& args, std::string& slot, DumpRequest& request,
           Dat& dat) {
  JobWords words;
  if (!split_job_words(args, kOptions, words)) return false;
  if (words.positional.empty() || words.positional.size() > 2) {
    runner_error("usage: dump SLOT [OUTFILE] [options] (SLOT: sfc, n64, wsc or nes)");
    return false;
  }
  slot = words.positional[0];
  const SlotOptions* options = nullptr;
  for (const auto& s : kSlots) {
    if (slot == s.slot) options = &s;
  }
  if (!options) {
    runner_error("dump has no slot '%s' (sfc, n64, wsc or nes)", slot.c_str());
    return false;
  }
  for (const auto& option : kOptions) {
    const std::string name = option.name;
    const bool common = name == "dat" || name == "passes" || name == "force" ||
                        name == "name-from-dat";
    if (words.has(name) && !common && !takes(*options, name)) {
      runner_error("--%s is not an option of dump %s", option.name, slot.c_str());
      return false;
    }
  }
  if (words.positional.size() == 2) request.outfile = words.positional[1];
  request.force = words.has("force");
  request.name_from_dat = words.has("name-from-dat");
  if (const std::string* passes = words.value("passes")) {
    if (*passes != "1" && *passes != "2") {
      runner_error("--passes takes 1 or 2, not '%s'", passes->c_str());
      return false;
    }
    request.passes = *passes == "1" ? 1 : 2;
  }
  if (request.name_from_dat && (!words.has("dat") || !request.outfile.empty())) {
    runner_error("--name-from-dat names the file after the DAT's game: it needs --dat and no "
                 "OUTFILE");
    return false;
  }
  if (!request.outfile.empty() && !request.force && plat_file_exists(request.outfile.c_str())) {
    runner_error("%s exists; nothing was read (--force replaces it)", request.outfile.c_str());
    return false;
  }

  if (slot == "sfc") {
    if (const std::string* map = words.value("map")) {
      if (!sfc_map_from_name(map->c_str(), request.map)) {
        runner_error("--map takes lorom, hirom or exhirom, not '%s'", map->c_str());
        return false;
      }
      request.map_given = true;
    }
    const uint64_t most = request.map_given ? sfc_map_rom_limit(request.map) : kSfcSizeMax;
    if (!size_option(words, "size", kSfcSizeUnit, kSfcSizeUnit, most, request.size)) return false;
  } else if (slot == "n64") {
    if (!size_option(words, "size", 4, 4, kN64SizeMax, request.size)) return false;
  } else if (slot == "wsc") {
    if (!size_option(words, "size", kKilobyte, kKilobyte, kWscSizeMax, request.size)) {
      return false;
    }
  } else {
    uint64_t mapper = 0;
    const std::string* text = words.value("mapper");
    if (!text || !parse_number(*text, mapper) || !nes_mapper_kind(static_cast<uint32_t>(mapper)) ||
        mapper > 255) {
      runner_error("dump nes needs --mapper 0, 1, 2, 3 or 4 (NROM, MMC1, UxROM, CNROM, MMC3): "
                   "an NES cartridge does not say which board it is");
      return false;
    }
    request.mapper = static_cast<uint32_t>(mapper);
    const NesMapperKind& kind = *nes_mapper_kind(request.mapper);
    request.prg_given = words.has("prg");
    request.chr_given = words.has("chr");
    if (!size_option(words, "prg", kNesPrgBank, kNesPrgBank, kind.prg_max, request.prg) ||
        !size_option(words, "chr", kNesChrBank, 0, kind.chr_max, request.chr)) {
      return false;
    }
    if (const std::string* mirroring = words.value("mirroring")) {
      if (*mirroring != "h" && *mirroring != "v") {
        runner_error("--mirroring takes h or v, not '%s'", mirroring->c_str());
        return false;
      }
      request.mirroring = *mirroring == "v" ? NesMirroring::vertical : NesMirroring::horizontal;
    }
  }

  if (const std::string* path = words.value("dat")) {
    std::string error;
    if (!dat_load(path->c_str(), dat, error)) {
      runner_error("%s", error.c_str());
      return false;
    }
    request.dat = &dat;
  }
  return true;
}

}  // namespace

bool check(const std::vector<std::string>& args) {
  std::string slot;
  DumpRequest request;
  Dat dat;
  return parse(args, slot, request, dat);
}

int run(const std::vector<std::string>& args) {
  std::string slot;
  DumpRequest request;
  Dat dat;
  if (!parse(args, slot, request, dat)) return kExitUsage;
  // One bar per pass, on standard error when it is a terminal.
  std::unique_ptr<RunnerProgress> bar;
  uint32_t shown_pass = 0;
  request.progress = [&](uint32_t pass, uint64_t done, uint64_t total) {
    if (pass != shown_pass) {
      bar.reset();
      bar = std::make_unique<RunnerProgress>(pass == 1 ? "read" : "second read", total);
      shown_pass = pass;
    }
    bar->update(done);
  };
  DumpResult result;
  if (slot == "sfc") {
    result = dump_sfc(request);
  } else if (slot == "n64") {
    result = dump_n64(request);
  } else if (slot == "wsc") {
    result = dump_wsc(request);
  } else {
    result = dump_nes(request);
  }
  bar.reset();
  if (!result.message.empty()) runner_error("%s", result.message.c_str());
  switch (result.status) {
    case DumpStatus::verified: return kExitDone;
    case DumpStatus::refused: return kExitUsage;
    case DumpStatus::unverified:
    case DumpStatus::failed: return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace runner_dump
