// The N64 dump: the header at the start of the ROM window, the size found where the image
// stops (past its end a cartridge mirrors the image or answers with the open-bus pattern), the
// ROM read in the bus's big-endian order as a .z64 image, and the header's CRC pair checked
// with the seeds of the common boot chips. The CRC pair covers one MiB only, so it never
// verifies a dump by itself.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cartridge/dump.h"
#include "cartridge/identify.h"
#include "cartridge/read_vote.h"
#include "families/n64.h"
#include "platform/print.h"

namespace {

constexpr uint32_t kMiB = 0x100000;
constexpr uint32_t kN64RomMax = kN64RomEnd - kN64RomBase;  // 64 MiB
// What is compared at each whole MiB to tell where the image stops.
constexpr uint32_t kProbe = 1024;

bool read_n64(uint64_t address, uint8_t* out, uint32_t length) {
  return cart_n64_read(static_cast<uint32_t>(address), out, length);
}

// An unmapped cartridge address answers with its own low 16 bits in each half-word (some
// buses repeat the word's address in both halves).
bool open_bus(uint32_t address, const uint8_t* sample, uint32_t length) {
  for (uint32_t i = 0; i + 1 < length; i += 2) {
    const auto word = static_cast<uint16_t>(sample[i] << 8 | sample[i + 1]);
    const auto own = static_cast<uint16_t>(address + i);
    const auto aligned = static_cast<uint16_t>(address + (i & ~3u));
    if (word != own && word != aligned) return false;
  }
  return true;
}

bool uniform(const uint8_t* sample, uint32_t length) {
  return std::all_of(sample, sample + length, [&](uint8_t b) { return b == sample[0]; });
}

bool stopped(uint32_t offset, const uint8_t* start, const uint8_t* sample) {
  return open_bus(kN64RomBase + offset, sample, kProbe) ||
         (!uniform(start, kProbe) && std::memcmp(start, sample, kProbe) == 0);
}

// Whether the image has stopped at `offset`, from reads that settled.
bool settled_stop(uint32_t offset, const uint8_t* start, bool& stop) {
  uint8_t sample[kProbe];
  if (!read_settled(read_n64, kN64RomBase + offset, sample, kProbe)) return false;
  stop = stopped(offset, start, sample);
  return true;
}

// The first whole MiB at which the image has stopped: the open-bus pattern, or the image's
// start again (a mirror). 64 MiB when it never stops. Each MiB is looked at once; where the
// image seems to stop, that MiB and the ones before it are read until they settle, since one
// wrong byte can hide a stop but never make one. False when a read failed or did not settle.
bool find_size(uint32_t& size) {
  uint8_t start[kProbe], sample[kProbe];
  if (!read_settled(read_n64, kN64RomBase, start, kProbe)) return false;
  for (size = kMiB; size < kN64RomMax; size += kMiB) {
    if (!read_n64(kN64RomBase + size, sample, kProbe)) return false;
    if (!stopped(size, start, sample)) continue;
    bool stop = false;
    if (!settled_stop(size, start, stop)) return false;
    if (!stop) continue;
    while (size > kMiB) {
      if (!settled_stop(size - kMiB, start, stop)) return false;
      if (!stop) break;
      size -= kMiB;
    }
    return true;
  }
  return true;
}

}  // namespace

DumpResult dump_n64(const DumpRequest& request) {
  n64_identify();
  N64Header header{};
  if (!cart_n64_header(header)) {
    return dump_stop(DumpStatus::failed, "the header at 0x10000000 did not read the same twice "
                                         "(or the device did not answer): clean the contacts "
                                         "and try again");
  }
  if (!n64_header_plausible(header) && request.size == 0) {
    char text[220];
    std::snprintf(text, sizeof text,
                  "no N64 header at 0x10000000 (it begins %08X): is a cartridge in the slot? "
                  "Clean the contacts and try again, or give --size to dump it anyway",
                  header.pi_config);
    return dump_stop(DumpStatus::failed, text);
  }
  uint32_t size = static_cast<uint32_t>(request.size);
  if (size == 0 && !find_size(size)) {
    return dump_stop(DumpStatus::failed, "where the image ends did not read the same twice: "
                                         "clean the contacts and try again");
  }
  print_message("Title: %s\n", header.title[0] ? header.title : "(none)");
  print_message("Game code: %s, version %u\n", header.game_code[0] ? header.game_code : "(none)",
                static_cast<unsigned>(header.version));
  print_message("ROM size: %s%s\n", dump_size_text(size).c_str(),
                request.size ? " (--size)" : "");

  // The CRC pair's span, kept as it streams by: a bounded copy of the image's start.
  auto start = std::make_shared<std::vector<uint8_t>>();
  DumpPlan plan;
  plan.extension = ".z64";
  plan.title = header.title;
  plan.size = size;
  plan.read = [](uint64_t offset, uint8_t* out, uint32_t length) {
    return cart_n64_read(static_cast<uint32_t>(kN64RomBase + offset), out, length);
  };
  plan.checker.reset = [start] { start->clear(); };
  plan.checker.add = [start](uint64_t offset, const uint8_t* data, uint32_t length) {
    if (offset >= kN64CrcEnd || offset != start->size()) return;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(length, kN64CrcEnd - offset));
    start->insert(start->end(), data, data + n);
  };
  plan.verdict = [start, header] {
    CheckVerdict verdict;
    if (start->size() < kN64CrcEnd) {
      verdict.line = "CRC pair: not checked (the image is shorter than the span it covers)";
      return verdict;
    }
    const N64CrcCheck check = n64_check_crc(start->data(), kN64CrcEnd, header);
    char text[120];
    if (check.matched) {
      std::snprintf(text, sizeof text, "CRC pair: %08X %08X, as the header says (boot chip %s)",
                    header.crc1, header.crc2, n64_boot_chip_name(check.chip));
    } else {
      std::snprintf(text, sizeof text,
                    "CRC pair: warning: no boot chip variant matched the header's %08X %08X",
                    header.crc1, header.crc2);
    }
    verdict.line = text;
    return verdict;
  };
  plan.describe = [](uint64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(kN64RomBase + offset));
    return std::string(text);
  };
  return run_dump(request, plan);
}
