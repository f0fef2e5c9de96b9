// The SFC dump: the header found among the three places retail maps put it, the ROM read in its
// map's order into a flat .sfc image, and the internal checksum, which covers the whole ROM.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "cartridge/dump.h"
#include "cartridge/identify.h"
#include "families/sfc.h"
#include "platform/print.h"

namespace {

uint64_t largest_power_of_two(uint64_t size) {
  uint64_t p = 1;
  while (p * 2 <= size) p *= 2;
  return size == 0 ? 0 : p;
}

// Byte sums of each unit of the image: the internal checksum of any size follows from them,
// whatever part of the image turns out to be the ROM.
struct UnitSums {
  std::vector<uint32_t> sums;
  uint64_t size = 0;
};

uint64_t ceil_power_of_two(uint64_t size) {
  uint64_t p = 1;
  while (p < size) p *= 2;
  return p;
}

// The sum of units [first, first + count) as the internal checksum counts a ROM of that many
// units: the largest power of two of them, then the rest (itself counted the same way)
// repeated until that power is filled again (3 MiB: the first 2 MiB, then the last 1 MiB
// twice).
uint64_t mirrored_units(const UnitSums& s, uint64_t first, uint64_t count) {
  if (count == 0) return 0;
  const uint64_t head = largest_power_of_two(count);
  uint64_t sum = 0;
  for (uint64_t u = first; u < first + head && u < s.sums.size(); ++u) sum += s.sums[u];
  if (head == count) return sum;
  const uint64_t rest = count - head;
  return sum + head / ceil_power_of_two(rest) * mirrored_units(s, first + head, rest);
}

// The internal checksum over the image's whole units (SFC ROMs come in whole 32 KiB units).
uint16_t checksum_of(const UnitSums& s) {
  return static_cast<uint16_t>(mirrored_units(s, 0, s.size / kDumpUnit) & 0xFFFF);
}

// The smallest power-of-two period, from `first`, with which units [half, end) repeat by
// `same`; 0 when none below `half`.
template <class Same>
uint64_t repeat_period(uint64_t first, uint64_t half, uint64_t end, Same same) {
  for (uint64_t period = first; period < half; period *= 2) {
    bool repeats = true;
    for (uint64_t u = half + period; u < end && repeats; ++u) repeats = same(u, u - period);
    if (repeats) return period;
  }
  return 0;
}

// A ROM whose size is no power of two sits on a board of the next power, the part past the
// largest power mirrored up to it: the bus image's top half repeats with the remainder's
// period. Padding (a top half of one blank byte) is not taken for a mirror. The units' sums
// rule most images out at no cost; their CRCs decide. `reach`: where the map's bus stops
// showing ROM (ExHiROM loses its last 128 KiB to the console's RAM banks).
uint64_t mirrored_size(ImageVerifier& v, const UnitSums& sums, uint64_t reach) {
  const uint64_t size = v.size();
  if (size != largest_power_of_two(size) || size < 2 * kDumpUnit) return 0;
  const uint64_t half = size / 2 / kDumpUnit;
  const uint64_t end = std::min(size, reach) / kDumpUnit;
  if (end <= half || sums.sums.size() < end) return 0;
  const uint64_t by_sum = repeat_period(1, half, end, [&](uint64_t a, uint64_t b) {
    return sums.sums[a] == sums.sums[b];
  });
  if (by_sum == 0) return 0;
  const std::vector<uint32_t>& crcs = v.unit_crcs();
  if (crcs.size() < end) return 0;
  std::vector<uint8_t> blank(kDumpUnit, 0x00);
  const uint32_t zeros = plat_crc32(0, blank.data(), blank.size());
  std::fill(blank.begin(), blank.end(), 0xFF);
  const uint32_t ones = plat_crc32(0, blank.data(), blank.size());
  bool padding = true;
  for (uint64_t u = half; u < end; ++u) padding = padding && (crcs[u] == zeros || crcs[u] == ones);
  if (padding) return 0;
  const uint64_t period = repeat_period(by_sum, half, end, [&](uint64_t a, uint64_t b) {
    return crcs[a] == crcs[b];
  });
  return period == 0 ? 0 : (half + period) * kDumpUnit;
}

const char* map_title(SfcMap map) {
  switch (map) {
    case SfcMap::lorom: return "LoROM";
    case SfcMap::hirom: return "HiROM";
    case SfcMap::exhirom: return "ExHiROM";
  }
  return "?";
}

}  // namespace

DumpResult dump_sfc(const DumpRequest& request) {
  sfc_identify();
  SfcDetection found;
  uint8_t blocks[kSfcMapCount][kSfcHeaderBlock] = {};
  if (!cart_sfc_detect(found, blocks)) {
    return dump_stop(DumpStatus::failed, "the header places did not read the same twice (or "
                                         "the device did not answer): clean the contacts and "
                                         "try again");
  }
  SfcMap map = found.map;
  SfcHeader header = found.header;
  if (request.map_given) {
    map = request.map;
    header = sfc_parse_header(blocks[static_cast<uint32_t>(map)]);
  } else if (!found.found) {
    return dump_stop(DumpStatus::failed,
                     "no SFC header at $00:FFC0 (LoROM), $C0:FFC0 (HiROM) or $40:FFC0 "
                     "(ExHiROM): is a cartridge in the slot? Clean the contacts and try again, "
                     "or give --map and --size for a cartridge whose header is damaged");
  }
  uint64_t size = request.size;
  if (size == 0) {
    size = sfc_rom_size(header, map);
    if (size == 0) {
      char text[200];
      std::snprintf(text, sizeof text,
                    "the header's ROM size byte 0x%02X makes no sense for a %s board (more "
                    "than its %s): give --size to dump it anyway",
                    header.rom_size_code, map_title(map),
                    dump_size_text(sfc_map_rom_limit(map)).c_str());
      return dump_stop(DumpStatus::failed, text);
    }
  } else if (size > sfc_map_rom_limit(map)) {
    return dump_stop(DumpStatus::refused, "--size " + dump_size_text(size) + " is more than a " +
                                              map_title(map) + " board addresses (" +
                                              dump_size_text(sfc_map_rom_limit(map)) + ")");
  }
  print_message("Title: %s\n", header.title[0] ? header.title : "(none)");
  print_message("Map: %s%s\n", map_title(map), request.map_given ? " (--map)" : "");
  print_message("ROM size: %s%s\n", dump_size_text(size).c_str(),
                request.size ? " (--size)" : "");

  auto sums = std::make_shared<UnitSums>();
  DumpPlan plan;
  plan.extension = ".sfc";
  plan.title = header.title;
  plan.size = size;
  plan.read = [map](uint64_t offset, uint8_t* out, uint32_t length) {
    return cart_sfc_read_rom(map, offset, out, length);
  };
  plan.checker.reset = [sums] {
    sums->sums.clear();
    sums->size = 0;
  };
  plan.checker.add = [sums](uint64_t offset, const uint8_t* data, uint32_t length) {
    for (uint32_t at = 0; at < length;) {
      const uint64_t unit = (offset + at) / kDumpUnit;
      const uint32_t n = std::min<uint32_t>(length - at, static_cast<uint32_t>(
                                                             (unit + 1) * kDumpUnit - offset - at));
      uint32_t sum = 0;
      for (uint32_t i = 0; i < n; ++i) sum += data[at + i];
      if (sums->sums.size() <= unit) sums->sums.resize(unit + 1, 0);
      sums->sums[unit] += sum;
      at += n;
    }
    sums->size = std::max<uint64_t>(sums->size, offset + length);
  };
  const uint16_t expected = header.checksum;
  const bool pair = static_cast<uint16_t>(header.checksum ^ header.complement) == 0xFFFF;
  plan.verdict = [sums, expected, pair] {
    const uint16_t sum = checksum_of(*sums);
    char text[120];
    CheckVerdict verdict;
    verdict.confirms = pair && sum == expected;
    if (verdict.confirms) {
      std::snprintf(text, sizeof text, "Checksum: %04X, as the header says", sum);
    } else {
      std::snprintf(text, sizeof text, "Checksum: %04X; the header says %04X%s", sum, expected,
                    pair ? "" : " (its complement does not match either)");
    }
    verdict.line = text;
    return verdict;
  };
  plan.describe = [map](uint64_t offset) {
    const uint32_t bus = sfc_rom_bus_address(map, static_cast<uint32_t>(offset));
    char text[48];
    std::snprintf(text, sizeof text, "ROM offset 0x%06X ($%02X:%04X)",
                  static_cast<unsigned>(offset), bus >> 16, bus & 0xFFFF);
    return std::string(text);
  };
  if (request.size == 0) {
    // $7E-$7F hold the console's RAM, not ExHiROM's last 128 KiB.
    const uint64_t reach = map == SfcMap::exhirom ? 0x7E0000 : size;
    plan.shorter = [reach, sums](ImageVerifier& v) { return mirrored_size(v, *sums, reach); };
    plan.shorter_note = "its last part is mirrored up to the header's size";
  }
  return run_dump(request, plan);
}
