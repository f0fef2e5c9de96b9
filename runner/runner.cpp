#include "runner/runner.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cartridge/aligned_buffer.h"
#include "cartridge/image_output.h"
#include "cartridge/save.h"
#include "link/discovery.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/console.h"
#include "runner/args.h"

namespace {

constexpr const char* kProgram = "cartlink-run";
// Largest read or write of one slot command: more than any slot's cartridge holds.
constexpr uint64_t kTransferMax = 0x10000000;
// Largest piece a read streams through memory at once (a slot may take less per call).
constexpr uint64_t kReadPieceMax = 0x400000;

uint64_t now_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void usage(std::FILE* out) {
  std::fprintf(out,
      "Usage: %s dump SLOT [OUTFILE] [--dat FILE] [--passes 1|2] [--force] [--name-from-dat]\n"
      "         sfc [--map lorom|hirom|exhirom] [--size SIZE]\n"
      "         n64 [--size SIZE] | wsc [--size SIZE]\n"
      "         nes --mapper 0|1|2|3|4 [--prg SIZE] [--chr SIZE] [--mirroring h|v]\n"
      "       %s JOB [ARGS]\n"
      "       %s read SLOT ADDRESS LENGTH OUTFILE\n"
      "       %s write SLOT ADDRESS INFILE\n"
      "       %s erase SLOT [SECTOR]\n"
      "       %s list | --help\n"
      "\n"
      "Finds the device (as cartlink does), prints \"Device: <name>\", identifies the firmware\n"
      "and runs one job of the library, or reads, writes or erases the memory of one slot.\n"
      "dump reads a whole cartridge into the file emulators use (.sfc, .z64, .ws/.wsc, .nes),\n"
      "its size and layout from the cartridge itself, and verifies it: by a known-good list\n"
      "(--dat, an XML DAT file), by an internal checksum that covers the whole ROM, or by a\n"
      "second read. OUTFILE defaults to the header's title (--name-from-dat: the DAT's name).\n"
      "ADDRESS and SECTOR take decimal or 0x hex; LENGTH also K and M (KiB, MiB). A FILE is a\n"
      "raw image unless the job says otherwise. Outputs are written whole or not at all.\n"
      "Exit codes: 0 done (and verified where the job verifies), 1 the job reported a failure,\n"
      "2 usage or an unusable file or value, 3 no device found.\n\n",
      kProgram, kProgram, kProgram, kProgram, kProgram, kProgram);
}

void list(std::FILE* out) {
  std::fprintf(out, "Jobs:\n");
  for (const auto& job : runner_jobs()) {
    std::string left = std::string(job.name) + (*job.arguments ? " " : "") + job.arguments;
    std::fprintf(out, "  %-34s %s\n", left.c_str(), job.description);
  }
  std::fprintf(out, "\nSlots (read, write, erase):\n");
  for (const auto& slot : runner_slots()) {
    std::string ops = "read";
    if (slot.write) ops += ", write";
    if (slot.erase) ops += ", erase";
    std::fprintf(out, "  %-10s 0x%llX-0x%llX  %-19s %s\n", slot.name,
                 static_cast<unsigned long long>(slot.first),
                 static_cast<unsigned long long>(slot.end - 1), ops.c_str(), slot.description);
  }
}

const RunnerSlot* find_slot(const std::string& name) {
  for (const auto& slot : runner_slots()) {
    if (name == slot.name) return &slot;
  }
  runner_error("unknown slot '%s' (see '%s list')", name.c_str(), kProgram);
  return nullptr;
}

const RunnerJob* find_job(const std::string& name) {
  for (const auto& job : runner_jobs()) {
    if (name == job.name) return &job;
  }
  return nullptr;
}

// Opens the device as the entry does; false (exit code 3) when there is none.
bool start_device() {
  // Found over HID without a drive carrying the device, the commands would have nowhere to go.
  if (!open_device() || g_link.drive_refused) {
    std::fflush(stdout);
    std::fprintf(stderr, "Open device error.\n");
    if (g_link.drive_refused) std::fprintf(stderr, "%s\n", kHidWithoutDrive);
    return false;
  }
  std::printf("Device: %s\n", g_link.device_name);
  identify_device();
  return true;
}

bool parse_address(const RunnerSlot& slot, const std::string& text, uint64_t& address) {
  if (!parse_number(text, address)) {
    runner_error("'%s' is not an address (decimal or 0x hex)", text.c_str());
    return false;
  }
  if (address < slot.first || address >= slot.end) {
    runner_error("address 0x%llX is outside slot %s (0x%llX-0x%llX)",
                 static_cast<unsigned long long>(address), slot.name,
                 static_cast<unsigned long long>(slot.first),
                 static_cast<unsigned long long>(slot.end - 1));
    return false;
  }
  return true;
}

bool fits(const RunnerSlot& slot, uint64_t address, uint64_t length) {
  if (length <= slot.end - address) return true;
  runner_error("%llu bytes from 0x%llX run past the end of slot %s (0x%llX)",
               static_cast<unsigned long long>(length), static_cast<unsigned long long>(address),
               slot.name, static_cast<unsigned long long>(slot.end));
  return false;
}

bool start_slot(const RunnerSlot& slot) {
  if (slot.start && !slot.start()) {
    runner_error("the %s slot did not start; nothing was read or written", slot.name);
    return false;
  }
  return true;
}

int slot_read(const std::vector<std::string>& w) {
  if (w.size() != 5) {
    runner_error("usage: read SLOT ADDRESS LENGTH OUTFILE");
    return kExitUsage;
  }
  const RunnerSlot* slot = find_slot(w[1]);
  uint64_t address = 0, length = 0;
  if (!slot || !parse_address(*slot, w[2], address)) return kExitUsage;
  if (!parse_size(w[3], length) || length == 0 || length > kTransferMax) {
    runner_error("'%s' is not a length from 1 to 256M", w[3].c_str());
    return kExitUsage;
  }
  if (!fits(*slot, address, length)) return kExitUsage;
  if (!start_device()) return kExitNoDevice;
  if (!start_slot(*slot)) return kExitFailed;

  // The bytes stream through one bounded buffer into the output's temporary file: memory stays
  // the same whatever the length.
  AlignedBuffer buffer;
  const auto piece_max = static_cast<uint32_t>(std::min<uint64_t>(slot->step, kReadPieceMax));
  if (!buffer.allocate(std::min<uint64_t>(piece_max, length))) {
    runner_error("out of memory; %s was not written", w[4].c_str());
    return kExitFailed;
  }
  ImageOutput output;
  if (!output.open(w[4])) {
    runner_error("cannot write %s (is the folder writable?); nothing was read",
                 output.temporary().c_str());
    return kExitFailed;
  }
  RunnerProgress progress("read", length);
  for (uint64_t done = 0; done < length;) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(piece_max, length - done));
    g_link.io_failed = false;  // a slot's read may not notice a lost reply itself
    if (!slot->read(address + done, buffer.data(), piece) || g_link.io_failed) {
      runner_error("reading %s at 0x%llX failed; %s was not written", slot->name,
                   static_cast<unsigned long long>(address + done), w[4].c_str());
      return kExitFailed;
    }
    if (!output.write(done, buffer.data(), piece)) {
      runner_error("could not write %s (is the folder full?); an older file of that name is "
                   "unchanged", w[4].c_str());
      return kExitFailed;
    }
    done += piece;
    progress.update(done);
  }
  if (!output.commit(w[4])) {
    runner_error("could not save %s (is the folder writable and not full?); an older file of "
                 "that name is unchanged", w[4].c_str());
    return kExitFailed;
  }
  return kExitDone;
}

int slot_write(const std::vector<std::string>& w) {
  if (w.size() != 4) {
    runner_error("usage: write SLOT ADDRESS INFILE");
    return kExitUsage;
  }
  const RunnerSlot* slot = find_slot(w[1]);
  uint64_t address = 0;
  if (!slot || !parse_address(*slot, w[2], address)) return kExitUsage;
  if (!slot->write) {
    runner_error("slot %s is read-only; nothing was written", slot->name);
    return kExitUsage;
  }
  std::vector<uint8_t> data;
  if (!runner_load_file(w[3], data, kTransferMax) || !fits(*slot, address, data.size())) {
    return kExitUsage;
  }
  const uint32_t align = slot->write_alignment;
  if (align > 1 && (address % align != 0 || data.size() % align != 0)) {
    runner_error("slot %s writes whole %u-byte words: the address and the file's length must be "
                 "multiples of %u; nothing was written", slot->name, align, align);
    return kExitUsage;
  }
  if (!start_device()) return kExitNoDevice;
  if (!start_slot(*slot)) return kExitFailed;

  RunnerProgress progress("write", data.size());
  for (uint64_t done = 0; done < data.size();) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(slot->step, data.size() - done));
    g_link.io_failed = false;  // nor a lost command
    if (!slot->write(address + done, data.data() + done, piece) || g_link.io_failed) {
      runner_error("writing %s at 0x%llX failed; the slot holds part of %s at most", slot->name,
                   static_cast<unsigned long long>(address + done), w[3].c_str());
      return kExitFailed;
    }
    done += piece;
    progress.update(done);
  }
  return kExitDone;
}

int slot_erase(const std::vector<std::string>& w) {
  if (w.size() != 2 && w.size() != 3) {
    runner_error("usage: erase SLOT [SECTOR]");
    return kExitUsage;
  }
  const RunnerSlot* slot = find_slot(w[1]);
  if (!slot) return kExitUsage;
  if (!slot->erase) {
    runner_error("slot %s has no erase; nothing was erased", slot->name);
    return kExitUsage;
  }
  uint64_t sector = 0;
  if (w.size() == 3 && !parse_address(*slot, w[2], sector)) return kExitUsage;
  if (!start_device()) return kExitNoDevice;
  if (!start_slot(*slot)) return kExitFailed;
  g_link.io_failed = false;
  int result = slot->erase(w.size() == 2, sector);
  if (g_link.io_failed) result = kExitFailed;
  if (result != kExitDone) runner_error("the %s flash did not read back erased", slot->name);
  return result;
}

}  // namespace

void runner_error(const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::fprintf(stderr, "%s: ", kProgram);
  std::vfprintf(stderr, format, args);
  std::fprintf(stderr, "\n");
  va_end(args);
}

bool runner_load_file(const std::string& path, std::vector<uint8_t>& data, uint64_t max) {
  const uint32_t size = file_size(path.c_str());
  if (size == 0) {
    runner_error("cannot read %s (missing, empty or unreadable)", path.c_str());
    return false;
  }
  if (size > max) {
    runner_error("%s is %u bytes long; at most %llu bytes fit", path.c_str(), size,
                 static_cast<unsigned long long>(max));
    return false;
  }
  data.assign(size, 0);
  uint8_t beyond = 0;
  if (read_file_at(path.c_str(), data.data(), size, 0) != size) {
    runner_error("cannot read %s in full", path.c_str());
    return false;
  }
  // The size is 32 bits wide: a byte past it means a file of 4 GiB or more.
  if (read_file_at(path.c_str(), &beyond, 1, static_cast<int32_t>(size)) != 0 ||
      size > INT32_MAX) {
    runner_error("%s is too large", path.c_str());
    return false;
  }
  return true;
}

bool runner_save_file(const std::string& path, const std::vector<uint8_t>& data) {
  if (save_write_file(path, data)) return true;
  runner_error("could not save %s (is the folder writable and not full?); an older file of "
               "that name is unchanged", path.c_str());
  return false;
}

RunnerProgress::RunnerProgress(const char* what, uint64_t total)
    : what_(what), total_(total), started_ms_(now_ms()), terminal_(plat_stderr_is_terminal()) {}

RunnerProgress::~RunnerProgress() {
  if (shown_) std::fprintf(stderr, "\n");
}

void RunnerProgress::update(uint64_t done) {
  const uint64_t now = now_ms();
  // A moment's work shows nothing; after that at most ten updates a second, and the last one.
  if (!terminal_ || now - started_ms_ < 500 || (now - shown_ms_ < 100 && done < total_)) return;
  shown_ms_ = now;
  shown_ = true;
  const double seconds = static_cast<double>(now - started_ms_) / 1000.0;
  const double rate = static_cast<double>(done) / (seconds > 0 ? seconds : 1);
  const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
  constexpr int kWidth = 30;
  const int filled = total_ ? static_cast<int>(kWidth * done / total_) : kWidth;
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %llu of %llu bytes, %.0f KiB/s, %.0f s left ", what_, bar,
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
               rate / 1024, left);
  std::fflush(stderr);
}

int run_runner(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    usage(stderr);
    return kExitUsage;
  }
  const std::string& command = words[0];
  if (command == "--help" || command == "-h" || command == "help") {
    usage(stdout);
    list(stdout);
    return kExitDone;
  }
  if (command == "list") {
    list(stdout);
    return kExitDone;
  }
  int result;
  if (command == "read") {
    result = slot_read(words);
  } else if (command == "write") {
    result = slot_write(words);
  } else if (command == "erase") {
    result = slot_erase(words);
  } else if (const RunnerJob* job = find_job(command)) {
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (args.size() < job->min_args || args.size() > job->max_args) {
      runner_error("usage: %s %s", job->name, job->arguments);
      return kExitUsage;
    }
    if (job->check && !job->check(args)) return kExitUsage;
    const bool offline = job->sends_nothing && job->sends_nothing(args);
    if (!offline && !start_device()) return kExitNoDevice;
    g_link.io_failed = false;
    result = job->run(args);
    // What a job printed rests on answers that never came: not a success.
    if (result == kExitDone && g_link.io_failed) {
      runner_error("the device did not take every command or did not answer every read; "
                   "what the job reported cannot be trusted");
      result = kExitFailed;
    }
  } else {
    runner_error("unknown job '%s' (see '%s list')", command.c_str(), kProgram);
    return kExitUsage;
  }
  std::fflush(stdout);
  close_device();
  return result;
}
