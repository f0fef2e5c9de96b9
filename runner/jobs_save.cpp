// cartlink-run backup-save SLOT [OUTFILE] and restore-save SLOT INFILE: a game's save moved to
// and from a file without loss (cartridge/save.h). Every word, the input file's size and an
// existing output are checked before the device is opened; a size that only the cartridge
// tells is checked right after the save is found, before anything is written.
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cartridge/save.h"
#include "cartridge/save_n64.h"
#include "families/n64.h"
#include "formats/file_name.h"
#include "link/transport.h"
#include "runner/args.h"
#include "runner/runner.h"

namespace runner_save {

namespace {

// Larger than any save of the slots (WSC SRAM: 512 KiB), so that a wrong file is told by size.
constexpr uint64_t kInfileMax = 0x100000;

const std::vector<JobOption> kOptions = {{"save-type", true}, {"force", false}};

struct Words {
  std::string slot;
  std::string file;  // OUTFILE ("" for the default) or INFILE
  bool force = false;
  std::string save_type;  // n64: "" finds it
};

const std::vector<SaveShape>* slot_shapes(const std::string& slot) {
  if (slot == "n64") return &n64_save_shapes();
  return nullptr;
}

// Everything the words say, checked; false with a message on standard error.
bool parse(const std::vector<std::string>& args, bool restore, Words& w) {
  JobWords words;
  if (!split_job_words(args, kOptions, words)) return false;
  const char* usage = restore ? "usage: restore-save SLOT INFILE [--save-type TYPE]"
                              : "usage: backup-save SLOT [OUTFILE] [--save-type TYPE] [--force]";
  if (words.positional.empty() || words.positional.size() > 2 ||
      (restore && words.positional.size() != 2)) {
    runner_error("%s (SLOT: n64)", usage);
    return false;
  }
  w.slot = words.positional[0];
  if (!slot_shapes(w.slot)) {
    runner_error("%s has no slot '%s' (n64)", restore ? "restore-save" : "backup-save",
                 w.slot.c_str());
    return false;
  }
  if (words.positional.size() == 2) w.file = words.positional[1];
  w.force = words.has("force");
  if (restore && w.force) {
    runner_error("--force is an option of backup-save: a restore never replaces a file");
    return false;
  }
  if (const std::string* type = words.value("save-type")) {
    if (w.slot != "n64" || n64_save_type_named(*type) == N64SaveType::none) {
      runner_error("--save-type takes eeprom4k, eeprom16k, sram, sram96k or flash, for n64 "
                   "only; not '%s'", type->c_str());
      return false;
    }
    w.save_type = *type;
  }
  if (!restore && !w.file.empty() && !w.force && file_size(w.file.c_str()) != 0) {
    runner_error("%s exists; nothing was read (--force replaces it)", w.file.c_str());
    return false;
  }
  return true;
}

// The input file of a restore, whose size (and padding, when the save type is named) must fit
// before anything is sent.
bool load_infile(const Words& w, std::vector<uint8_t>& data) {
  if (!runner_load_file(w.file, data, kInfileMax)) return false;
  std::string why;
  if (!w.save_type.empty()) {
    const SaveShape& shape = n64_save_shapes()[static_cast<size_t>(
        n64_save_type_named(w.save_type)) - 1];
    const SaveFileMatch match = save_match_file(shape, data);
    if (!match.accepted) {
      runner_error("%s does not fit: %s; nothing was sent", w.file.c_str(), match.note.c_str());
      return false;
    }
    return true;
  }
  if (!save_size_possible(*slot_shapes(w.slot), data.size(), why)) {
    runner_error("%s does not fit: %s; nothing was sent", w.file.c_str(), why.c_str());
    return false;
  }
  return true;
}

// The slot's save, found on the cartridge (or of the named type); false with a message.
bool find_area(const Words& w, SaveArea& area, std::string& default_name) {
  std::string error;
  n64_identify();
  N64SaveType type = n64_save_type_named(w.save_type);
  const bool named = type != N64SaveType::none;
  if (!named) {
    const N64SaveFind find = n64_find_save();
    if (!find.found) {
      runner_error("%s; nothing was written", find.message.c_str());
      return false;
    }
    type = find.type;
    std::printf("Found %s\n", find.how.c_str());
  }
  if (!n64_save_area(type, !named, area, error)) {
    runner_error("%s; nothing was written", error.c_str());
    return false;
  }
  if (w.file.empty()) {
    default_name = safe_file_name(n64_save_title(), "n64-save") + n64_save_extension(type);
  }
  std::printf("Save: %s %s%s\n", area.shape.text, area.place.c_str(),
              named ? " (as --save-type names it)" : "");
  return true;
}

std::string timestamp() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "00000000-000000";
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", local);
  }
  return text;
}

bool name_taken(const std::string& name) { return file_size(name.c_str()) != 0; }

int exit_code(const SaveResult& result) {
  if (!result.message.empty()) runner_error("%s", result.message.c_str());
  switch (result.status) {
    case SaveStatus::done: return kExitDone;
    case SaveStatus::refused: return kExitUsage;
    case SaveStatus::failed: return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace

bool check_backup(const std::vector<std::string>& args) {
  Words w;
  return parse(args, false, w);
}

bool check_restore(const std::vector<std::string>& args) {
  Words w;
  std::vector<uint8_t> data;
  return parse(args, true, w) && load_infile(w, data);
}

int backup(const std::vector<std::string>& args) {
  Words w;
  if (!parse(args, false, w)) return kExitUsage;
  SaveArea area;
  std::string outfile;
  if (!find_area(w, area, outfile)) return kExitFailed;
  if (outfile.empty()) {
    outfile = w.file;
  } else if (!w.force && name_taken(outfile)) {
    runner_error("%s exists; the save was not read (name another OUTFILE, or --force)",
                 outfile.c_str());
    return kExitUsage;
  }
  auto bar = std::make_unique<RunnerProgress>("read", 2ull * area.shape.size);
  const SaveResult result =
      save_backup(area, outfile, [&](uint64_t done, uint64_t) { bar->update(done); });
  bar.reset();
  if (area.finish) area.finish();
  if (result.status == SaveStatus::done) {
    std::printf("Saved the %s (%s, read twice alike) to %s\n", area.shape.text,
                save_size_text(area.shape.size).c_str(), outfile.c_str());
  }
  return exit_code(result);
}

int restore(const std::vector<std::string>& args) {
  Words w;
  std::vector<uint8_t> data;
  if (!parse(args, true, w) || !load_infile(w, data)) return kExitUsage;
  SaveArea area;
  std::string unused;
  if (!find_area(w, area, unused)) return kExitFailed;
  auto bar = std::make_unique<RunnerProgress>("restore", 4ull * area.shape.size);
  const SaveResult result =
      save_restore(area, data, w.file, timestamp(), name_taken,
                   [&](uint64_t done, uint64_t) { bar->update(done); });
  bar.reset();
  if (area.finish) area.finish();
  if (!result.note.empty()) std::printf("%s\n", result.note.c_str());
  if (!result.backup.empty()) {
    std::printf("The cartridge's previous save is in %s\n", result.backup.c_str());
  }
  if (result.status == SaveStatus::done) {
    std::printf("Restored %s: the %s reads back the same\n", w.file.c_str(), area.shape.text);
  }
  return exit_code(result);
}

}  // namespace runner_save
