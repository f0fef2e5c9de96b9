// A flash chip's sector map and the plan of one flash run: which sectors are erased, which
// batches are programmed (one command file each) and what is read back. Pure functions, so that
// what a run will touch can be shown before it runs (--dry-run) and tested as a table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A run of equal sectors.
struct FlashRegion {
  uint32_t sector_size;
  uint32_t count;
};

// The chip from its first byte up: regions in address order, their sectors adding up to size.
struct FlashGeometry {
  uint32_t size = 0;
  std::vector<FlashRegion> regions;
};

struct FlashSpan {
  uint32_t offset;  // from the chip's first byte
  uint32_t length;
};

// The sectors of chips that do not tell theirs: 64 KiB, 128 KiB on chips above 8 MiB (the
// uniform sectors of the 29LV and 29GL families).
uint32_t flash_default_sector(uint32_t chip_size);
FlashGeometry flash_uniform_geometry(uint32_t chip_size, uint32_t sector_size);
// Sectors of non-zero size whose sum is the chip's size.
bool flash_geometry_valid(const FlashGeometry& geometry);
// The part of the chip a slot reaches: the sectors that lie wholly below `reach`.
FlashGeometry flash_clip_geometry(const FlashGeometry& geometry, uint32_t reach);

// Every sector holding a byte of an image of `image_size` bytes that starts at chip offset
// `image_at`, in address order; empty when the image is empty or does not fit the chip there.
std::vector<FlashSpan> flash_covered_sectors(const FlashGeometry& geometry, uint64_t image_size,
                                             uint64_t image_at = 0);

struct FlashPlan {
  bool chip_erase = false;
  uint32_t image_at = 0;           // chip offset of the image's first byte
  std::vector<FlashSpan> sectors;  // covered: erased (unless chip_erase), each read back once
  std::vector<FlashSpan> batches;  // batches[i]: the image's bytes in sectors[i], at chip offsets
};
// The image from the chip's first byte, or (`at_top`) ending at its last byte, where a console
// that starts from the top of its address space looks for it. Empty (no sectors) when the
// image does not fit the chip.
FlashPlan flash_make_plan(const FlashGeometry& geometry, uint64_t image_size, bool chip_erase,
                          bool at_top = false);

// The plan in the user's terms, one line per run of equal sectors or batches, at bus addresses
// (`bus_base` is the chip's first byte on the bus); `packet_bytes` is the data one packet of
// the program form carries.
std::vector<std::string> flash_describe_plan(const FlashPlan& plan, uint64_t bus_base,
                                             uint32_t packet_bytes);
// "64 KiB", "2 MiB", or a count of bytes when not whole kibibytes.
std::string flash_size_text(uint64_t bytes);

// The CFI query's answers, a word per query offset of which the low byte counts (byte-mode chips
// answer at every other byte). Fills `geometry` from the chip size and the erase-block regions,
// turning them round for a top-boot chip whose primary table says so; false with the reason in
// `problem` when the chip did not answer "QRY" or its answer is not a usable sector map.
inline constexpr size_t kFlashCfiWords = 0x80;
bool flash_decode_cfi(const uint16_t* words, size_t count, FlashGeometry& geometry,
                      std::string& problem);
