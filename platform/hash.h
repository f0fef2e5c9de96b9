// CRC-32 and SHA-1 of images, computed as the bytes stream by. The implementations are a
// maintained library's (Linux) or the Windows API's, behind this header.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr size_t kSha1Size = 20;

// One running computation of both hashes. Its state lives inline (no allocation) except what
// the Windows API keeps behind `provider`.
struct ImageHash {
  uint32_t crc32 = 0;
  alignas(8) unsigned char sha1_state[128] = {};
  void* provider = nullptr;
  bool started = false;
};

// Starts both hashes; false when the SHA-1 implementation cannot be set up (nothing to end).
bool plat_hash_begin(ImageHash& hash);
void plat_hash_update(ImageHash& hash, const uint8_t* data, size_t size);
// The two halves of plat_hash_update, which touch disjoint parts of the state: two threads may
// run one each on the same hash, so that a fast device is not held up by the hashing.
void plat_hash_update_crc32(ImageHash& hash, const uint8_t* data, size_t size);
void plat_hash_update_sha1(ImageHash& hash, const uint8_t* data, size_t size);
// Ends both and gives the results; the state may be begun again.
void plat_hash_end(ImageHash& hash, uint32_t& crc32, uint8_t sha1[kSha1Size]);

// CRC-32 (IEEE 802.3, as zip and the known-good lists use it) continued over more bytes;
// start with 0.
uint32_t plat_crc32(uint32_t crc, const uint8_t* data, size_t size);
