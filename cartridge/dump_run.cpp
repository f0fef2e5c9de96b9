// The steps every dump shares once its slot has found the image's size and layout.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cartridge/dump.h"
#include "formats/file_name.h"
#include "link/link_state.h"
#include "platform/files.h"
#include "platform/print.h"

namespace {

constexpr const char* kLost = "the device did not take every command or did not answer every "
                             "read; nothing was written";

// Offsets listed by name when bytes never read the same twice; the rest are counted.
constexpr size_t kNamedRanges = 8;

// The DAT's game for the image (or, with a file header, for the whole file).
// `size`: the image bytes the digests describe now.
const DatRom* dat_lookup(const Dat* dat, const ImageVerifier& v, uint64_t size) {
  if (!dat) return nullptr;
  const ImageDigest& image = v.image_digest();
  if (const DatRom* rom = dat_find(*dat, size, image.crc32, image.sha1)) return rom;
  const uint64_t prefix = v.file_size() - v.size();
  if (prefix == 0) return nullptr;
  const ImageDigest& file = v.file_digest();
  return dat_find(*dat, prefix + size, file.crc32, file.sha1);
}

// Offsets grouped into runs, the first few named where they sit on the cartridge.
std::string name_offsets(const std::vector<uint64_t>& offsets, const DumpPlan& plan) {
  std::string text;
  size_t ranges = 0;
  for (size_t i = 0; i < offsets.size();) {
    size_t j = i;
    while (j + 1 < offsets.size() && offsets[j + 1] == offsets[j] + 1) ++j;
    if (ranges == kNamedRanges) {
      char more[64];
      std::snprintf(more, sizeof more, " and more (%zu bytes in all)", offsets.size());
      text += more;
      break;
    }
    if (ranges != 0) text += ", ";
    text += plan.describe(offsets[i]);
    if (j != i) text += " to " + plan.describe(offsets[j]);
    ++ranges;
    i = j + 1;
  }
  return text;
}

// A shorter image that the cartridge mirrors up to the size it was read at: taken unless a
// known-good list knows the longer one. False when the output could not be read or cut.
bool take_shorter(const DumpRequest& request, const DumpPlan& plan, ImageVerifier& v) {
  if (!plan.shorter) return true;
  const uint64_t shorter = plan.shorter(v);
  if (shorter == 0 || shorter >= v.size()) return true;
  const uint64_t full = v.size();
  const bool full_listed = dat_lookup(request.dat, v, full) != nullptr;
  if (!v.rehash(shorter)) return false;
  const bool short_listed = dat_lookup(request.dat, v, shorter) != nullptr;
  if (full_listed && !short_listed) return v.rehash(full);
  if (!v.shrink(shorter)) return false;
  print_message("ROM size found: %s (%s)\n", dump_size_text(shorter).c_str(),
                plan.shorter_note.c_str());
  return true;
}

bool refuses_existing(const DumpRequest& request, const std::string& name, DumpResult& result) {
  if (request.force || !plat_file_exists(name.c_str())) return false;
  result = dump_stop(DumpStatus::refused,
                     name + " exists; nothing was written (--force replaces it)");
  return true;
}

}  // namespace

std::string dump_size_text(uint64_t size) {
  char text[40];
  if (size != 0 && size % 0x100000 == 0) {
    std::snprintf(text, sizeof text, "%" PRIu64 " MiB", size / 0x100000);
  } else if (size != 0 && size % 0x400 == 0) {
    std::snprintf(text, sizeof text, "%" PRIu64 " KiB", size / 0x400);
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64 " bytes", size);
  }
  return text;
}

DumpResult dump_stop(DumpStatus status, std::string message) {
  DumpResult result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

DumpResult run_dump(const DumpRequest& request, DumpPlan& plan) {
  DumpResult result;
  // The slot's identity set how it is read: an identity that went missing leaves nothing to
  // trust.
  if (g_link.io_failed) return dump_stop(DumpStatus::failed, kLost);
  // The name is settled now unless the DAT is to give it; the file is written under a
  // temporary name beside it until the end either way.
  std::string name = request.outfile;
  if (name.empty()) name = safe_file_name(plan.title, "cartridge") + plan.extension;
  const bool late_name = request.outfile.empty() && request.name_from_dat && request.dat;
  if (!late_name && refuses_existing(request, name, result)) return result;

  ImageOutput output;
  if (!output.open(name)) {
    return dump_stop(DumpStatus::failed, "cannot write " + output.temporary() +
                                             " (is the folder writable?); nothing was read");
  }
  ImageVerifier v(plan.read, plan.size, output, plan.prefix);
  v.set_checker(plan.checker);
  v.set_progress(request.progress);
  if (!v.first_pass()) {
    if (v.write_failed()) {
      return dump_stop(DumpStatus::failed, "could not write " + name +
                                               " (is the folder full?); nothing was kept");
    }
    return dump_stop(DumpStatus::failed, "reading " + plan.describe(v.failed_at()) +
                                             " failed: the device did not answer; nothing "
                                             "was written");
  }

  if (!take_shorter(request, plan, v)) {
    return dump_stop(DumpStatus::failed, "could not read back or cut " + name);
  }
  const DatRom* listed = dat_lookup(request.dat, v, v.size());
  CheckVerdict verdict = plan.verdict ? plan.verdict() : CheckVerdict{};
  if (verdict.nonsense && !listed) return dump_stop(DumpStatus::failed, verdict.line);
  const bool confirmed = listed || verdict.confirms;
  bool second_read = false;
  if (request.passes == 2 || (request.passes == 0 && !confirmed)) {
    const SecondPass pass = v.second_pass();
    if (!pass.unsettled.empty()) {
      return dump_stop(DumpStatus::failed,
                       "the bytes at " + name_offsets(pass.unsettled, plan) +
                           " never read the same twice; nothing was written: clean the "
                           "contacts and try again");
    }
    if (pass.read_failed) {
      return dump_stop(DumpStatus::failed, "reading " + plan.describe(pass.failed_at) +
                                               " again failed: the device did not answer; "
                                               "nothing was written");
    }
    if (pass.write_failed) {
      return dump_stop(DumpStatus::failed, "could not read back or patch " + name +
                                               "; nothing was kept");
    }
    second_read = true;
    if (pass.bytes_corrected != 0) {
      print_message("Second read: %" PRIu64 " bytes in %u places read differently; each was "
                    "read again until the reads agreed\n",
                    pass.bytes_corrected, pass.units_reread);
      // The corrected bytes may show the mirror that the first read's wrong ones hid.
      if (!v.rehash(v.size()) || !take_shorter(request, plan, v)) {
        return dump_stop(DumpStatus::failed, "could not read back " + name);
      }
      listed = dat_lookup(request.dat, v, v.size());
      verdict = plan.verdict ? plan.verdict() : CheckVerdict{};
    } else if (pass.units_reread != 0) {
      print_message("Second read: %u places read differently once; re-reading confirmed the "
                    "first read\n",
                    pass.units_reread);
    } else {
      print_message("Second read: the same bytes\n");
    }
  }

  if (!verdict.line.empty()) print_message("%s\n", verdict.line.c_str());
  const ImageDigest& digest = v.image_digest();
  print_message("CRC-32: %08X\nSHA-1: %s\n", digest.crc32,
                dat_hex(digest.sha1, kSha1Size).c_str());
  if (v.file_size() != v.size()) {
    const ImageDigest& file = v.file_digest();
    print_message("File CRC-32: %08X\nFile SHA-1: %s\n", file.crc32,
                  dat_hex(file.sha1, kSha1Size).c_str());
  }
  if (request.dat) {
    if (listed) {
      print_message("DAT: %s\n", listed->game.c_str());
    } else {
      print_message("DAT: not listed\n");
    }
  }

  if (late_name && listed) name = safe_file_name(listed->game, "cartridge") + plan.extension;
  if (late_name && refuses_existing(request, name, result)) return result;

  if (listed) {
    print_message("Verified: listed in the DAT\n");
    result.status = DumpStatus::verified;
  } else if (verdict.confirms) {
    print_message("Verified: by the internal checksum, which covers the whole image\n");
    result.status = DumpStatus::verified;
  } else if (second_read) {
    print_message("Verified: two reads of the whole image agree\n");
    result.status = DumpStatus::verified;
  } else {
    print_message("Verified: no (one read, and no check covers the whole image)\n");
    result.status = DumpStatus::unverified;
    result.message = "the dump was not verified: nothing covering the whole image confirms it "
                     "and --passes 1 ruled out a second read";
  }
  // Whatever the reads settled, a command or an answer lost on the way spoils all of it.
  if (g_link.io_failed) return dump_stop(DumpStatus::failed, kLost);
  if (!output.commit(name)) {
    return dump_stop(DumpStatus::failed, "could not save " + name +
                                             " (is the folder writable and not full?); an "
                                             "older file of that name is unchanged");
  }
  print_message("Saved: %s\n", name.c_str());
  result.saved = name;
  return result;
}
