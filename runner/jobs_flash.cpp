// cartlink-run flash SLOT INFILE [--dry-run] [--chip-erase] [--chip-size SIZE]: an image onto
// the flash cartridge of the sfc, n64 or wsc slot. Refusals that need only the words and the
// file come before the device is opened; the chip's own size is known only after it is
// identified, so that refusal comes then, still before anything is erased.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cartridge/flash_job.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/print.h"
#include "runner/args.h"
#include "runner/runner.h"

namespace runner_flash {

namespace {

const std::vector<JobOption> kOptions = {
    {"dry-run", false}, {"chip-erase", false}, {"chip-size", true}};
constexpr uint32_t kChipSizeMin = 0x1000;

struct FlashWords {
  const FlashSlot* slot = nullptr;
  std::string file;
  bool dry_run = false;
  bool chip_erase = false;
  uint32_t chip_size = 0;  // 0: from the chip
};

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

bool parse(const std::vector<std::string>& args, FlashWords& out) {
  JobWords words;
  if (!split_job_words(args, kOptions, words)) return false;
  if (words.positional.size() != 2) {
    runner_error("usage: flash SLOT INFILE [--dry-run] [--chip-erase] [--chip-size SIZE]");
    return false;
  }
  out.slot = flash_slot(words.positional[0]);
  if (!out.slot) {
    runner_error("'%s' has no flash cartridge to program: give sfc, n64 or wsc",
                 words.positional[0].c_str());
    return false;
  }
  out.file = words.positional[1];
  out.dry_run = words.has("dry-run");
  out.chip_erase = words.has("chip-erase");
  if (const std::string* text = words.value("chip-size")) {
    uint64_t size = 0;
    if (!parse_size(*text, size) || size < kChipSizeMin || size > out.slot->reach ||
        (size & (size - 1)) != 0) {
      runner_error("--chip-size '%s': give a power of two from 4K to the %s slot's %s",
                   text->c_str(), out.slot->name, flash_size_text(out.slot->reach).c_str());
      return false;
    }
    out.chip_size = static_cast<uint32_t>(size);
  }
  return true;
}

// The image as the bus takes it, with a note on what was done to it; false with a message.
bool load_image(const FlashWords& w, std::vector<uint8_t>& image, std::string& note) {
  if (file_size(w.file.c_str()) > w.slot->reach) {
    runner_error("%s is larger than any chip the %s slot reaches (%s); nothing was sent",
                 w.file.c_str(), w.slot->name, flash_size_text(w.slot->reach).c_str());
    return false;
  }
  if (!runner_load_file(w.file, image, w.slot->reach)) return false;
  std::string problem;
  if (!flash_prepare_image(*w.slot, image, note, problem)) {
    runner_error("%s: %s; nothing was sent", w.file.c_str(), problem.c_str());
    return false;
  }
  return true;
}

// `sent`: whether the device has been opened (the chip identified) by now.
bool fits(const FlashWords& w, uint64_t image_size, uint32_t chip_size, const char* whose,
          bool sent) {
  if (image_size <= chip_size) return true;
  runner_error("%s is %llu bytes, larger than the %s chip (%s, %s); nothing was %s",
               w.file.c_str(), static_cast<unsigned long long>(image_size), w.slot->name,
               flash_size_text(chip_size).c_str(), whose, sent ? "erased" : "sent");
  return false;
}

void print_lines(const std::vector<std::string>& lines) {
  for (const auto& line : lines) print_message("%s\n", line.c_str());
}

// Where the image goes on the bus.
void print_place(const FlashWords& w, const FlashPlan& plan, uint64_t image_size) {
  const uint64_t first = w.slot->bus_base + plan.image_at;
  print_message("Image: %s, %llu bytes, at %s-%s%s\n", w.file.c_str(),
                static_cast<unsigned long long>(image_size), hex(first).c_str(),
                hex(first + image_size - 1).c_str(),
                w.slot->image_at_top ? " (ending at the chip's top, where the console starts)"
                                     : "");
}

// No device is opened: the chip is assumed, and the plan says from what.
int dry_run(const FlashWords& w, const std::vector<uint8_t>& image) {
  const uint32_t size = w.chip_size ? w.chip_size : w.slot->reach;
  const uint32_t sector = flash_default_sector(size);
  print_message("Dry run: nothing is sent to the device, not even its identification.\n");
  print_message("Chip: assumed %s (%s) with uniform %s sectors; the real run identifies the "
                "chip and erases the sectors it reports, which may differ.\n",
                flash_size_text(size).c_str(),
                w.chip_size ? "--chip-size" : "the most the slot reaches",
                flash_size_text(sector).c_str());
  const FlashPlan plan = flash_make_plan(flash_uniform_geometry(size, sector), image.size(),
                                         w.chip_erase, w.slot->image_at_top);
  print_place(w, plan, image.size());
  print_lines(flash_describe_plan(plan, w.slot->bus_base, w.slot->packet_bytes));
  print_message("Program form: %s\n", w.slot->program_form);
  return kExitDone;
}

// The chip's sectors: from its CFI answer, else uniform ones of --chip-size; false (exit 2)
// when neither is there.
bool choose_geometry(const FlashWords& w, const FlashChipInfo& chip, FlashGeometry& geometry) {
  print_message("Chip: manufacturer %.2X, device %.4X%s\n", chip.manufacturer, chip.device,
                chip.first_sector_protected ? ", first sector protected" : "");
  if (chip.has_geometry) {
    std::string regions;
    for (const auto& r : chip.geometry.regions) {
      regions += (regions.empty() ? "" : ", ") + std::to_string(r.count) + " x " +
                 flash_size_text(r.sector_size);
    }
    print_message("CFI: %s; sectors %s\n", flash_size_text(chip.chip_size).c_str(),
                  regions.c_str());
    if (chip.geometry.size < chip.chip_size) {
      print_message("The %s slot reaches the first %s of it.\n", w.slot->name,
                    flash_size_text(chip.geometry.size).c_str());
    }
    if (w.chip_size && w.chip_size != chip.chip_size) {
      print_message("--chip-size %s differs from what the chip reports: its own map is used.\n",
                    flash_size_text(w.chip_size).c_str());
    }
    geometry = chip.geometry;
    return true;
  }
  if (!w.chip_size) {
    runner_error("%s, so its size and sectors are unknown: give --chip-size; nothing was erased",
                 chip.problem.c_str());
    return false;
  }
  const uint32_t sector = flash_default_sector(w.chip_size);
  print_message("%s: --chip-size %s with uniform %s sectors assumed.\n", chip.problem.c_str(),
                flash_size_text(w.chip_size).c_str(), flash_size_text(sector).c_str());
  geometry = flash_uniform_geometry(w.chip_size, sector);
  return true;
}

int report(const FlashWords& w, const FlashResult& r, const FlashChipInfo& chip,
           const FlashPlan& plan, uint64_t image_size) {
  const uint64_t at = w.slot->bus_base + r.offset;
  const uint64_t first = w.slot->bus_base + plan.image_at;
  switch (r.status) {
    case FlashStatus::done:
      print_message("Flashed and verified %llu bytes at %s-%s.\n",
                    static_cast<unsigned long long>(image_size), hex(first).c_str(),
                    hex(first + image_size - 1).c_str());
      return kExitDone;
    case FlashStatus::erase_failed:
      runner_error("the %s flash at %s did not read back erased%s; nothing was programmed",
                   w.slot->name, hex(at).c_str(),
                   chip.first_sector_protected ? " (the chip reports protected sectors)" : "");
      return kExitFailed;
    case FlashStatus::not_taken:
      runner_error("the device did not take the command or answer the read for %s; the "
                   "flash holds part of %s at most", hex(at).c_str(), w.file.c_str());
      return kExitFailed;
    case FlashStatus::verify_failed:
      runner_error("the %s flash at %s (image offset %s) reads back 0x%.2X, not 0x%.2X; "
                   "programming stopped there",
                   w.slot->name, hex(at).c_str(), hex(r.offset - plan.image_at).c_str(), r.got,
                   r.want);
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace

bool check(const std::vector<std::string>& args) {
  FlashWords w;
  std::vector<uint8_t> image;
  std::string note;
  if (!parse(args, w) || !load_image(w, image, note)) return false;
  return !w.chip_size || fits(w, image.size(), w.chip_size, "--chip-size", false);
}

bool sends_nothing(const std::vector<std::string>& args) {
  FlashWords w;
  return parse(args, w) && w.dry_run;
}

int run(const std::vector<std::string>& args) {
  FlashWords w;
  std::vector<uint8_t> image;
  std::string note;
  if (!parse(args, w) || !load_image(w, image, note)) return kExitUsage;
  if (!note.empty()) print_message("%s\n", note.c_str());
  if (w.dry_run) return dry_run(w, image);

  const FlashChipInfo chip = flash_identify(*w.slot);
  if (g_link.io_failed) {
    runner_error("the device did not answer the chip's identification; nothing was erased");
    return kExitFailed;
  }
  FlashGeometry geometry;
  if (!choose_geometry(w, chip, geometry)) return kExitUsage;
  if (!fits(w, image.size(), geometry.size,
            chip.has_geometry ? "as the chip reports" : "--chip-size", true)) {
    return kExitUsage;
  }
  const FlashPlan plan =
      flash_make_plan(geometry, image.size(), w.chip_erase, w.slot->image_at_top);
  print_place(w, plan, image.size());
  print_lines(flash_describe_plan(plan, w.slot->bus_base, w.slot->packet_bytes));

  std::unique_ptr<RunnerProgress> progress;
  const char* phase = nullptr;
  const FlashResult result =
      flash_run(*w.slot, plan, image.data(), [&](const char* now, uint64_t done, uint64_t total) {
        if (!phase || std::strcmp(now, phase) != 0) {
          progress.reset();  // ends the line of the phase before
          progress = std::make_unique<RunnerProgress>(now, total);
          phase = now;
        }
        progress->update(done);
      });
  progress.reset();
  return report(w, result, chip, plan, image.size());
}

}  // namespace runner_flash
