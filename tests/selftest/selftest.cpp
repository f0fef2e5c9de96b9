// cartlink-selftest: the hash and known-good list cases of the unit tests, run by a program of
// its own so that the Windows build (BCrypt, ntdll's CRC-32, XmlLite) is checked too: the
// end-to-end tests run it under wine and natively. Prints each failed case; exit code 0 when
// all pass, 1 otherwise.
#include <algorithm>
#include <cstdio>
#include <string>

#include "formats/dat.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "tests/hash_dat_cases.h"

namespace {

int g_checks = 0;
int g_failed = 0;

void check(bool ok, const std::string& what) {
  ++g_checks;
  if (ok) return;
  ++g_failed;
  std::printf("FAILED: %s\n", what.c_str());
}

void check_hashes() {
  for (const HashVector& vector : hash_vectors()) {
    const auto* input = reinterpret_cast<const uint8_t*>(vector.input.data());
    size_t size = vector.input.size();
    check(plat_crc32(0, input, size) == vector.crc32, std::string("crc32 of ") + vector.what);
    for (size_t piece : kHashPieces) {
      std::string what = std::string(vector.what) + " in pieces of " + std::to_string(piece);
      ImageHash hash;
      if (!plat_hash_begin(hash)) {
        check(false, "hash begins: " + what);
        continue;
      }
      for (size_t at = 0; at < size; at += piece) {
        plat_hash_update(hash, input + at, std::min(piece, size - at));
      }
      uint32_t crc = 0;
      uint8_t sha1[kSha1Size];
      plat_hash_end(hash, crc, sha1);
      check(crc == vector.crc32, "crc32 of " + what);
      const std::string sha1_text = dat_hex(sha1, kSha1Size);
      check(sha1_text == vector.sha1, "sha1 of " + what + ": " + sha1_text);
    }
  }
}

void check_dat_texts() {
  for (const DatTextCase& c : dat_text_cases()) {
    Dat dat;
    std::string error;
    bool ok = dat_parse(c.text.data(), c.text.size(), "test.dat", dat, error);
    std::string what = std::string("dat: ") + c.what + ": " + (ok ? "accepted" : error);
    if (c.error.empty()) {
      check(ok && dat.roms.size() == c.roms, what);
    } else {
      check(!ok && error.find(c.error) != std::string::npos, what + " (expected: " + c.error + ")");
    }
  }
  Dat dat;
  std::string error;
  dat_parse(kGoodDat, std::char_traits<char>::length(kGoodDat), "test.dat", dat, error);
  check(dat.roms.size() == 3 && dat.roms[0].game == "Alpha & Beta (World)" &&
            dat.roms[1].game == "Gamma \xCE\xB3 (Japan)",
        "dat: names read in UTF-8");
}

// Through the file routines, as `--dat FILE` reads it.
void check_dat_file() {
  const char* name = "cartlink-selftest.dat";
  const auto* text = reinterpret_cast<const uint8_t*>(kGoodDat);
  auto size = static_cast<uint32_t>(std::char_traits<char>::length(kGoodDat));
  check(plat_write_file(name, text, size) == size, "dat file written");
  Dat dat;
  std::string error;
  check(dat_load(name, dat, error) && dat.roms.size() == 3, "dat file loaded: " + error);
  plat_remove_file(name);
  check(
      !dat_load(name, dat, error) && error == "cartlink-selftest.dat: cannot be read, or is empty",
      "missing dat file refused: " + error);
}

}  // namespace

int main() {
  check_hashes();
  check_dat_texts();
  check_dat_file();
  std::printf("cartlink-selftest: %d of %d checks passed\n", g_checks - g_failed, g_checks);
  return g_failed == 0 ? 0 : 1;
}
