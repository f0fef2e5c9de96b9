// CRC-32 and SHA-1 on POSIX systems: zlib's crc32 and nettle's SHA-1, both maintained by the
// distribution. nettle's state is a plain struct, so it lives inside ImageHash.
#include "platform/hash.h"

#include <nettle/sha1.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <new>

namespace {

static_assert(sizeof(sha1_ctx) <= sizeof(ImageHash::sha1_state),
              "nettle's SHA-1 state does not fit in ImageHash");
static_assert(alignof(sha1_ctx) <= 8, "nettle's SHA-1 state needs more alignment");
static_assert(SHA1_DIGEST_SIZE == kSha1Size);

sha1_ctx* sha1_of(ImageHash& hash) {
  return std::launder(reinterpret_cast<sha1_ctx*>(hash.sha1_state));
}

}  // namespace

uint32_t plat_crc32(uint32_t crc, const uint8_t* data, size_t size) {
  uLong value = crc;
  // zlib takes lengths as uInt: feed larger spans in pieces.
  while (size > 0) {
    uInt piece = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    value = crc32(value, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<uint32_t>(value);
}

bool plat_hash_begin(ImageHash& hash) {
  hash.crc32 = 0;
  sha1_init(new (hash.sha1_state) sha1_ctx);
  hash.provider = nullptr;
  hash.started = true;
  return true;
}

void plat_hash_update(ImageHash& hash, const uint8_t* data, size_t size) {
  plat_hash_update_crc32(hash, data, size);
  plat_hash_update_sha1(hash, data, size);
}

void plat_hash_update_crc32(ImageHash& hash, const uint8_t* data, size_t size) {
  if (hash.started && size != 0) hash.crc32 = plat_crc32(hash.crc32, data, size);
}

void plat_hash_update_sha1(ImageHash& hash, const uint8_t* data, size_t size) {
  if (hash.started && size != 0) sha1_update(sha1_of(hash), size, data);
}

void plat_hash_end(ImageHash& hash, uint32_t& crc32, uint8_t sha1[kSha1Size]) {
  crc32 = hash.crc32;
  if (hash.started) {
    sha1_digest(sha1_of(hash), kSha1Size, sha1);
  } else {
    std::memset(sha1, 0, kSha1Size);
  }
  hash.started = false;
}
