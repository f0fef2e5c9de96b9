// What the retail (mask-ROM) cartridges of every slot share: a ROM byte behind a dirty contact,
// the way boards repeat a ROM whose size is not a power of two, and the options that load a
// ROM's save memory or name the flaky byte.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual_device/cartridges.h"

namespace vdev {

// One ROM byte that reads wrong. Each read counts, wherever the byte shows on the bus: read k
// (from 0) of the first `wrong_reads` flips bit k % 8, so no two wrong reads agree and none
// equals the true value; afterwards the byte reads true. `always`: read k gives
// value ^ ((k % 255) + 1), never the true value and never the same within 255 reads.
class FlakyByte {
 public:
  FlakyByte(uint32_t offset, uint32_t wrong_reads, bool always)
      : offset_(offset), wrong_reads_(wrong_reads), always_(always) {}

  // The byte read at ROM offset `offset` whose true value is `value`; counts a read of it.
  uint8_t read(uint32_t offset, uint8_t value) {
    if (offset != offset_) return value;
    const uint64_t k = reads_++;
    if (always_) return static_cast<uint8_t>(value ^ (k % 255 + 1));
    return k < wrong_reads_ ? static_cast<uint8_t>(value ^ (1u << (k % 8))) : value;
  }
  uint32_t offset() const { return offset_; }
  uint64_t reads() const { return reads_; }

 private:
  uint32_t offset_;
  uint32_t wrong_reads_;
  bool always_;
  uint64_t reads_ = 0;
};

// Reads through an optional flaky byte.
inline uint8_t flaky_read(std::optional<FlakyByte>& flaky, uint32_t offset, uint8_t value) {
  return flaky ? flaky->read(offset, value) : value;
}

// The ROM offset that offset `offset` of a board's ROM space reaches on a ROM of `size` bytes,
// as retail boards decode it: the space is the next power of two; below the largest power of
// two P that fits the ROM it is the ROM, above it the rest (size - P) repeats, decoded the same
// way (3 MiB: the last MiB twice; 1.5 MiB: the last half MiB twice), and past the space it
// repeats whole.
uint32_t rom_mirror(uint32_t offset, uint32_t size);

// "--flaky OFFSET[:READS|:always]" into `out` (left empty when absent); OFFSET below `rom_size`.
bool option_flaky(const CartridgeOptions& options, uint64_t rom_size,
                  std::optional<FlakyByte>& out, std::string& error);
// "--save FILE": the save memory `memory` (already at the board's size) loaded from a file of
// exactly that size; `what` names it ("battery RAM"). A board without a save refuses it.
bool option_save(const CartridgeOptions& options, const std::string& what,
                 std::vector<uint8_t>& memory, std::string& error);
// The options every retail kind offers besides its ROM: --save (unless `save_help` is null: a
// board without a save memory) and --flaky.
std::vector<CartridgeOption> retail_option_list(const char* save_help);

// Deterministic made-up bytes for built-in images: a xorshift stream from `seed`, so that no
// two banks of an image are alike and the same options give the same image.
void fill_random(uint8_t* out, size_t length, uint32_t seed);

}  // namespace vdev
