#include "tests/dump_support.h"

#include <algorithm>
#include <filesystem>

std::vector<std::string> DumpTest::names() const {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder.root())) {
    found.push_back(entry.path().filename().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

Digest digest_of(const std::vector<uint8_t>& bytes) {
  ImageHash hash;
  Digest d;
  if (!plat_hash_begin(hash)) return d;
  plat_hash_update(hash, bytes.data(), bytes.size());
  uint8_t sha1[kSha1Size];
  plat_hash_end(hash, d.crc32, sha1);
  char two[3];
  for (uint8_t b : sha1) {
    std::snprintf(two, sizeof two, "%02x", b);
    d.sha1 += two;
  }
  return d;
}

std::string dat_text(const std::string& game, const std::vector<uint8_t>& bytes) {
  const Digest d = digest_of(bytes);
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", d.crc32);
  return "<?xml version=\"1.0\"?>\n<datafile>\n  <header><name>test</name></header>\n"
         "  <game name=\"Another Game (Japan)\">\n"
         "    <rom name=\"other.bin\" size=\"16\" crc=\"01234567\" "
         "sha1=\"0123456789abcdef0123456789abcdef01234567\"/>\n  </game>\n"
         "  <game name=\"" + game + "\">\n    <rom name=\"" + game + ".bin\" size=\"" +
         std::to_string(bytes.size()) + "\" crc=\"" + crc + "\" sha1=\"" + d.sha1 +
         "\"/>\n  </game>\n</datafile>\n";
}
