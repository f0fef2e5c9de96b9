// The dump's reading and verification, the same for every slot: the image is read in blocks
// through the slot's reader, hashed while the next block is read, and written to the output as
// it comes. A second pass, when one is wanted, compares each unit of the image with the first
// pass by its CRC-32 (the first pass's bytes stay in the output file, not in memory, and their
// CRCs are taken from there), and a unit that differs is settled byte by byte by re-reading
// (read_vote.h) and patched.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cartridge/image_output.h"
#include "cartridge/read_vote.h"
#include "platform/hash.h"

// Bytes read per reader call: about a sixteenth of the image, so that the hashing of the last
// block (which no read overlaps) stays small beside the whole, within these bounds (fewer,
// larger reads cost less per byte). The unit is what the second pass compares by CRC-32.
inline constexpr uint32_t kDumpBlockMin = 0x10000;
inline constexpr uint32_t kDumpBlockMax = 0x100000;
inline constexpr uint32_t kDumpUnit = 0x8000;
uint32_t dump_block_size(uint64_t image_size);
// Re-reads cover whole kilobytes: windows on the bus are read in whole kilobytes.
inline constexpr uint32_t kDumpRereadAlign = 1024;

// What a slot computes over the final image as it streams by (its internal checksums). `add`
// is called for the image's bytes in order, possibly on a thread of its own, never twice at
// once.
struct ImageChecker {
  std::function<void()> reset;
  std::function<void(uint64_t offset, const uint8_t* data, uint32_t length)> add;
};

struct ImageDigest {
  uint32_t crc32 = 0;
  uint8_t sha1[kSha1Size] = {};
};

// Progress of a pass: bytes done of the image, and which pass.
using DumpProgress = std::function<void(uint32_t pass, uint64_t done, uint64_t total)>;

struct SecondPass {
  bool read_failed = false;
  bool write_failed = false;
  uint64_t failed_at = 0;             // image offset of a failed read
  uint32_t units_reread = 0;          // units that differed between the passes
  uint64_t bytes_corrected = 0;       // bytes of the output that re-reading changed
  std::vector<uint64_t> unsettled;    // image offsets that never read the same twice
  bool ok() const { return !read_failed && !write_failed && unsettled.empty(); }
};

class ImageVerifier {
 public:
  // The image is `size` bytes read by `read` at image offsets; it goes to `output` after
  // `prefix` (a file header: written first, hashed into the file digest with the image).
  ImageVerifier(SpanReader read, uint64_t size, ImageOutput& output,
                std::vector<uint8_t> prefix = {});

  void set_checker(ImageChecker checker) { checker_ = std::move(checker); }
  void set_progress(DumpProgress progress) { progress_ = std::move(progress); }

  // Reads the whole image once: written, hashed, checked. False when a read or a write failed
  // (`failed_at` says where) or the hash could not be set up.
  bool first_pass();
  // Reads it again and settles every unit that differs, patching the output.
  SecondPass second_pass();
  // Hashes and checks the first `size` bytes of the image again from the output file (after
  // patches, or to weigh a shorter image); the digests then describe those bytes.
  bool rehash(uint64_t size);
  // Cuts the image (and the output file) to `size` bytes, a whole number of units.
  bool shrink(uint64_t size);

  uint64_t size() const { return size_; }
  const ImageDigest& image_digest() const { return image_digest_; }
  // The prefix and the image together; the image's alone when there is no prefix.
  const ImageDigest& file_digest() const { return prefix_.empty() ? image_digest_ : file_digest_; }
  uint64_t file_size() const { return prefix_.size() + size_; }
  // The first pass's CRC-32 of each unit, read back from the output the first time they are
  // asked for; empty when that fails.
  const std::vector<uint32_t>& unit_crcs();
  uint64_t failed_at() const { return failed_at_; }
  bool write_failed() const { return write_failed_; }

 private:
  // What the first pass does with a block once it has been read, in two halves that touch
  // disjoint state (the hashes' SHA-1 parts; their CRC-32s and the checker).
  void take_sha1(const uint8_t* data, uint32_t length);
  void take_sums(uint64_t offset, const uint8_t* data, uint32_t length);
  bool begin_hashes();
  void end_hashes();
  bool settle_unit(uint64_t unit_offset, uint32_t length, const uint8_t* second,
                   SecondPass& result);

  SpanReader read_;
  uint64_t size_;
  ImageOutput& output_;
  std::vector<uint8_t> prefix_;
  ImageChecker checker_;
  DumpProgress progress_;
  ImageHash image_hash_{};
  ImageHash file_hash_{};
  ImageDigest image_digest_{};
  ImageDigest file_digest_{};
  std::vector<uint32_t> unit_crcs_;
  uint64_t failed_at_ = 0;
  bool write_failed_ = false;
  uint32_t block_;
};
