// CRC-32 and SHA-1 on Windows, from the system itself: ntdll's RtlComputeCrc32 (the zip CRC,
// continued from a previous value as zlib's is) and BCrypt's SHA-1. RtlComputeCrc32 is looked
// up in the already loaded ntdll rather than linked: ntdll's import library also exports C
// runtime names that must not take the place of the runtime's own.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <climits>
#include <cstring>

#include "platform/hash.h"

namespace {

using Crc32Fn = DWORD(WINAPI*)(DWORD crc, const BYTE* data, INT length);

Crc32Fn crc32_function() {
  static Crc32Fn function = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC found = ntdll ? GetProcAddress(ntdll, "RtlComputeCrc32") : nullptr;
    return reinterpret_cast<Crc32Fn>(reinterpret_cast<void*>(found));
  }();
  return function;
}

// The algorithm handle sits at the start of sha1_state; BCrypt keeps the hash object itself.
BCRYPT_ALG_HANDLE algorithm_of(const ImageHash& hash) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  std::memcpy(&algorithm, hash.sha1_state, sizeof algorithm);
  return algorithm;
}

void end_sha1(ImageHash& hash) {
  if (hash.provider) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash.provider));
  if (BCRYPT_ALG_HANDLE algorithm = algorithm_of(hash)) BCryptCloseAlgorithmProvider(algorithm, 0);
  hash.provider = nullptr;
  std::memset(hash.sha1_state, 0, sizeof hash.sha1_state);
  hash.started = false;
}

}  // namespace

uint32_t plat_crc32(uint32_t crc, const uint8_t* data, size_t size) {
  Crc32Fn compute = crc32_function();
  if (!compute) return crc;  // ntdll has had it since Windows 2000; plat_hash_begin refuses
  while (size > 0) {
    INT piece = size > INT_MAX ? INT_MAX : static_cast<INT>(size);
    crc = compute(crc, data, piece);
    data += piece;
    size -= static_cast<size_t>(piece);
  }
  return crc;
}

bool plat_hash_begin(ImageHash& hash) {
  hash.crc32 = 0;
  hash.provider = nullptr;
  hash.started = false;
  std::memset(hash.sha1_state, 0, sizeof hash.sha1_state);
  if (!crc32_function()) return false;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0))) {
    return false;
  }
  std::memcpy(hash.sha1_state, &algorithm, sizeof algorithm);
  BCRYPT_HASH_HANDLE handle = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &handle, nullptr, 0, nullptr, 0, 0))) {
    end_sha1(hash);
    return false;
  }
  hash.provider = handle;
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
  if (!hash.started || size == 0) return;
  auto handle = static_cast<BCRYPT_HASH_HANDLE>(hash.provider);
  while (size > 0) {
    ULONG piece = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    // BCryptHashData takes a non-const pointer but only reads from it.
    BCryptHashData(handle, const_cast<PUCHAR>(data), piece, 0);
    data += piece;
    size -= piece;
  }
}

void plat_hash_end(ImageHash& hash, uint32_t& crc32, uint8_t sha1[kSha1Size]) {
  crc32 = hash.crc32;
  std::memset(sha1, 0, kSha1Size);
  if (hash.started) {
    BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(hash.provider), sha1, kSha1Size, 0);
  }
  end_sha1(hash);
}
