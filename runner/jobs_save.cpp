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
#include "cartridge/save_retail.h"
#include "cartridge/save_slots.h"
#include "platform/files.h"
#include "runner/args.h"
#include "runner/runner.h"

namespace runner_save {

namespace {

// Larger than any save of the slots (WSC SRAM: 512 KiB), so that a wrong file is told by size.
constexpr uint64_t kInfileMax = 0x100000;

const std::vector<JobOption> kOptions = {{"save-type", true}, {"mapper", true}, {"force", false}};

struct Words {
  SaveRequest request;
  std::string file;  // OUTFILE ("" for the default) or INFILE
  bool force = false;
};

// Everything the words say, checked; false with a message on standard error.
bool parse(const std::vector<std::string>& args, bool restore, Words& w) {
  JobWords words;
  if (!split_job_words(args, kOptions, words)) return false;
  const char* job = restore ? "restore-save" : "backup-save";
  if (words.positional.empty() || words.positional.size() > 2 ||
      (restore && words.positional.size() != 2)) {
    runner_error("usage: %s (SLOT: %s; n64 also --save-type TYPE, nes --mapper 1|4)",
                 restore ? "restore-save SLOT INFILE" : "backup-save SLOT [OUTFILE] [--force]",
                 save_slot_names());
    return false;
  }
  w.request.slot = words.positional[0];
  if (!save_slot_known(w.request.slot)) {
    runner_error("%s has no slot '%s' (%s)", job, w.request.slot.c_str(), save_slot_names());
    return false;
  }
  if (words.positional.size() == 2) w.file = words.positional[1];
  w.force = words.has("force");
  if (restore && w.force) {
    runner_error("--force is an option of backup-save: a restore never replaces a file");
    return false;
  }
  if (const std::string* type = words.value("save-type")) {
    if (w.request.slot != "n64" || n64_save_type_named(*type) == N64SaveType::none) {
      runner_error("--save-type takes eeprom4k, eeprom16k, sram, sram96k or flash, for n64 "
                   "only; not '%s'", type->c_str());
      return false;
    }
    w.request.save_type = *type;
  }
  const std::string* mapper = words.value("mapper");
  if ((w.request.slot == "nes") != (mapper != nullptr)) {
    runner_error("--mapper names the board of an nes cartridge (1: MMC1, 4: MMC3), which does "
                 "not say where its work RAM is enabled; it is needed there and only there");
    return false;
  }
  uint64_t number = 0;
  if (mapper && (!parse_number(*mapper, number) || number > UINT32_MAX ||
                 !nes_save_mapper_known(static_cast<uint32_t>(number)))) {
    runner_error("--mapper takes 1 (MMC1) or 4 (MMC3), the boards whose work RAM enable is "
                 "known; not '%s'", mapper->c_str());
    return false;
  }
  w.request.mapper = static_cast<uint32_t>(number);
  if (!restore && !w.file.empty() && !w.force && plat_file_exists(w.file.c_str())) {
    runner_error("%s exists; nothing was read (--force replaces it)", w.file.c_str());
    return false;
  }
  return true;
}

// The input file of a restore, whose size (and padding, when the save is named) must fit
// before anything is sent.
bool load_infile(const Words& w, std::vector<uint8_t>& data) {
  if (!runner_load_file(w.file, data, kInfileMax)) return false;
  const std::vector<SaveShape> shapes = save_request_shapes(w.request);
  std::string why;
  if (shapes.size() == 1) {
    const SaveFileMatch match = save_match_file(shapes[0], data);
    if (match.accepted) return true;
    why = match.note;
  } else if (save_size_possible(shapes, data.size(), why)) {
    return true;
  }
  runner_error("%s does not fit: %s; nothing was sent", w.file.c_str(), why.c_str());
  return false;
}

// The save on the cartridge; false with a message.
bool find(const Words& w, SaveFound& found) {
  found = save_find(w.request);
  if (!found.ok) {
    runner_error("%s%s", found.message.c_str(), found.changed ? "" : "; nothing was written");
    return false;
  }
  if (!found.how.empty()) std::printf("Found %s\n", found.how.c_str());
  std::printf("Save: %s %s%s\n", found.area.shape.text, found.area.place.c_str(),
              found.how.empty() ? " (as named)" : "");
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

bool name_taken(const std::string& name) { return plat_file_exists(name.c_str()); }

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
  SaveFound found;
  if (!find(w, found)) return kExitFailed;
  const SaveArea& area = found.area;
  std::string outfile = w.file;
  if (outfile.empty()) {
    outfile = found.default_name();
    if (!w.force && name_taken(outfile)) {
      runner_error("%s exists; the save was not read (name another OUTFILE, or --force)",
                   outfile.c_str());
      if (area.finish) area.finish();
      return kExitUsage;
    }
  }
  auto bar = std::make_unique<RunnerProgress>("read", 2ull * area.shape.size);
  const SaveResult result =
      save_backup(area, outfile, [&](uint64_t done, uint64_t) { bar->update(done); });
  bar.reset();
  if (area.finish) area.finish();
  if (result.status == SaveStatus::done) {
    std::printf("Saved the %s (%s, read twice alike) to %s\n", area.shape.text,
                save_size_text(area.shape.size).c_str(), outfile.c_str());
    if (!result.warning.empty()) runner_error("warning: %s", result.warning.c_str());
  }
  return exit_code(result);
}

int restore(const std::vector<std::string>& args) {
  Words w;
  std::vector<uint8_t> data;
  if (!parse(args, true, w) || !load_infile(w, data)) return kExitUsage;
  SaveFound found;
  if (!find(w, found)) return kExitFailed;
  const SaveArea& area = found.area;
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
