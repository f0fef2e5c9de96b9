#include "cartridge/flash_plan.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t kSmallSector = 0x10000;
constexpr uint32_t kLargeSector = 0x20000;
constexpr uint32_t kLargeChip = 0x800000;

// CFI query offsets (in words).
constexpr size_t kCfiQ = 0x10;
constexpr size_t kCfiPrimary = 0x15;
constexpr size_t kCfiSizeCode = 0x27;
constexpr size_t kCfiRegionCount = 0x2C;
constexpr size_t kCfiRegions = 0x2D;
// Within the primary (AMD) table: the boot-block flag; 3 is a top-boot chip.
constexpr size_t kPrimaryBootFlag = 0xF;
constexpr uint8_t kTopBoot = 3;
// Size codes of chips from 4 KiB to 2 GiB; regions a chip lists at most.
constexpr uint32_t kSizeCodeMin = 12;
constexpr uint32_t kSizeCodeMax = 31;
constexpr uint32_t kRegionsMax = 8;

uint8_t low(const uint16_t* words, size_t at) { return static_cast<uint8_t>(words[at]); }

uint16_t pair(const uint16_t* words, size_t at) {
  return static_cast<uint16_t>(low(words, at) | low(words, at + 1) << 8);
}

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Consecutive spans of one length, as "FIRST-LAST  N x SIZE".
template <typename Extra>
void describe_runs(const std::vector<FlashSpan>& spans, uint64_t base, Extra extra,
                   std::vector<std::string>& lines) {
  for (size_t i = 0; i < spans.size();) {
    size_t j = i + 1;
    while (j < spans.size() && spans[j].length == spans[i].length) ++j;
    const uint64_t first = base + spans[i].offset;
    const uint64_t last = base + spans[j - 1].offset + spans[j - 1].length - 1;
    lines.push_back("  " + hex(first) + "-" + hex(last) + "  " + std::to_string(j - i) + " x " +
                    flash_size_text(spans[i].length) + extra(spans[i]));
    i = j;
  }
}

}  // namespace

uint32_t flash_default_sector(uint32_t chip_size) {
  return chip_size > kLargeChip ? kLargeSector : kSmallSector;
}

FlashGeometry flash_uniform_geometry(uint32_t chip_size, uint32_t sector_size) {
  FlashGeometry g;
  g.size = chip_size;
  if (sector_size == 0) return g;
  // A chip smaller than a sector is one sector.
  const uint32_t sector = std::min(sector_size, chip_size);
  if (sector != 0) g.regions.push_back({sector, chip_size / sector});
  return g;
}

bool flash_geometry_valid(const FlashGeometry& geometry) {
  uint64_t sum = 0;
  for (const auto& r : geometry.regions) {
    if (r.sector_size == 0 || r.count == 0) return false;
    sum += uint64_t{r.sector_size} * r.count;
  }
  return geometry.size != 0 && sum == geometry.size;
}

FlashGeometry flash_clip_geometry(const FlashGeometry& geometry, uint32_t reach) {
  if (geometry.size <= reach) return geometry;
  FlashGeometry out;
  uint64_t at = 0;
  for (const auto& r : geometry.regions) {
    if (r.sector_size == 0) break;
    const uint64_t fit = std::min<uint64_t>(r.count, (reach - std::min<uint64_t>(at, reach)) /
                                                         r.sector_size);
    if (fit == 0) break;
    out.regions.push_back({r.sector_size, static_cast<uint32_t>(fit)});
    at += fit * r.sector_size;
    if (fit < r.count) break;
  }
  out.size = static_cast<uint32_t>(at);
  return out;
}

std::vector<FlashSpan> flash_covered_sectors(const FlashGeometry& geometry, uint64_t image_size,
                                             uint64_t image_at) {
  std::vector<FlashSpan> out;
  if (image_size == 0 || image_at > geometry.size || image_size > geometry.size - image_at ||
      !flash_geometry_valid(geometry)) {
    return out;
  }
  const uint64_t end = image_at + image_size;
  uint64_t at = 0;
  for (const auto& r : geometry.regions) {
    for (uint32_t k = 0; k < r.count && at < end; ++k) {
      if (at + r.sector_size > image_at) out.push_back({static_cast<uint32_t>(at), r.sector_size});
      at += r.sector_size;
    }
  }
  return out;
}

FlashPlan flash_make_plan(const FlashGeometry& geometry, uint64_t image_size, bool chip_erase,
                          bool at_top) {
  FlashPlan plan;
  plan.chip_erase = chip_erase;
  if (image_size > geometry.size) return plan;
  plan.image_at = at_top ? static_cast<uint32_t>(geometry.size - image_size) : 0;
  plan.sectors = flash_covered_sectors(geometry, image_size, plan.image_at);
  const uint64_t image_end = plan.image_at + image_size;
  for (const auto& s : plan.sectors) {
    const uint64_t first = std::max<uint64_t>(s.offset, plan.image_at);
    const uint64_t end = std::min<uint64_t>(uint64_t{s.offset} + s.length, image_end);
    plan.batches.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(end - first)});
  }
  return plan;
}

std::string flash_size_text(uint64_t bytes) {
  constexpr uint64_t kKiB = 1024;
  constexpr uint64_t kMiB = kKiB * kKiB;
  if (bytes != 0 && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes != 0 && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::vector<std::string> flash_describe_plan(const FlashPlan& plan, uint64_t bus_base,
                                             uint32_t packet_bytes) {
  std::vector<std::string> lines;
  if (plan.sectors.empty()) return lines;
  const auto none = [](const FlashSpan&) { return std::string(); };
  if (plan.chip_erase) {
    lines.push_back("Erase: the whole chip (--chip-erase)");
  } else {
    lines.push_back("Erase: " + std::to_string(plan.sectors.size()) +
                    " sectors, those the image covers:");
    describe_runs(plan.sectors, bus_base, none, lines);
  }
  lines.push_back("Program: " + std::to_string(plan.batches.size()) +
                  " batches, one command file each:");
  describe_runs(plan.batches, bus_base,
                [packet_bytes](const FlashSpan& s) {
                  const uint64_t packets =
                      packet_bytes ? (uint64_t{s.length} + packet_bytes - 1) / packet_bytes : 0;
                  return ", " + std::to_string(packets) + " packets of up to " +
                         std::to_string(packet_bytes) + " bytes each";
                },
                lines);
  uint64_t bytes = 0;
  for (const auto& s : plan.sectors) bytes += s.length;
  lines.push_back("Verify: each of the " + std::to_string(plan.sectors.size()) +
                  " sectors read back once after its batch (" + flash_size_text(bytes) + ")");
  return lines;
}

bool flash_decode_cfi(const uint16_t* words, size_t count, FlashGeometry& geometry,
                      std::string& problem) {
  geometry = {};
  if (count <= kCfiRegions || low(words, kCfiQ) != 'Q' || low(words, kCfiQ + 1) != 'R' ||
      low(words, kCfiQ + 2) != 'Y') {
    problem = "the chip did not answer its CFI query";
    return false;
  }
  const uint32_t code = low(words, kCfiSizeCode);
  const uint32_t regions = low(words, kCfiRegionCount);
  if (code < kSizeCodeMin || code > kSizeCodeMax) {
    problem = "the chip's CFI size code " + std::to_string(code) + " is not a chip size";
    return false;
  }
  if (regions == 0 || regions > kRegionsMax || kCfiRegions + 4 * regions > count) {
    problem = "the chip's CFI lists " + std::to_string(regions) + " erase-block regions";
    return false;
  }
  geometry.size = uint32_t{1} << code;
  for (uint32_t i = 0; i < regions; ++i) {
    const size_t at = kCfiRegions + 4 * i;
    const uint32_t sectors = uint32_t{pair(words, at)} + 1;
    const uint32_t units = pair(words, at + 2);
    // A size field of 0 stands for 128-byte sectors.
    geometry.regions.push_back({units == 0 ? 128 : units * 256, sectors});
  }
  const size_t primary = pair(words, kCfiPrimary);
  if (primary != 0 && primary + kPrimaryBootFlag < count && low(words, primary) == 'P' &&
      low(words, primary + 1) == 'R' && low(words, primary + 2) == 'I' &&
      low(words, primary + kPrimaryBootFlag) == kTopBoot) {
    std::reverse(geometry.regions.begin(), geometry.regions.end());
  }
  if (!flash_geometry_valid(geometry)) {
    uint64_t sum = 0;
    for (const auto& r : geometry.regions) sum += uint64_t{r.sector_size} * r.count;
    problem = "the chip's CFI erase-block regions add up to " + flash_size_text(sum) +
              ", not its size of " + flash_size_text(geometry.size);
    geometry = {};
    return false;
  }
  return true;
}
