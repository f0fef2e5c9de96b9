// Known-good lists (XML DAT): <datafile> holding <game> (or <machine>) elements, each with its
// <rom> entries. Other elements (<header>, <description>, <release>, ...) are passed over.
#include "formats/dat.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/xml.h"

namespace {

// The largest list read: published lists reach tens of MiB.
constexpr uint32_t kDatMaxBytes = 256u << 20;

struct DatReading {
  const char* source = nullptr;
  Dat* dat = nullptr;
  std::string* error = nullptr;
  std::string game;
  bool in_game = false;  // the last element at depth 1 was a game
};

bool is_game(const char* name) {
  return std::strcmp(name, "game") == 0 || std::strcmp(name, "machine") == 0;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly `count` hex digits into `out`, high nibble first.
bool parse_hex(const char* text, size_t count, uint8_t* out) {
  if (std::strlen(text) != count) return false;
  for (size_t i = 0; i < count; i += 2) {
    int high = hex_value(text[i]);
    int low = hex_value(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out[i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool parse_size(const char* text, uint64_t& out) {
  if (*text == '\0') return false;
  uint64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    auto digit = static_cast<uint64_t>(*c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

bool refuse(DatReading& reading, uint32_t line, const std::string& what) {
  *reading.error = std::string(reading.source) + " line " + std::to_string(line) + ": " + what;
  return false;
}

bool take_rom(DatReading& reading, const XmlStartTag& tag) {
  // A rom that was never dumped has no hashes to match against.
  const char* status = xml_attribute(tag, "status");
  if (status && std::strcmp(status, "nodump") == 0) return true;

  DatRom rom;
  rom.game = reading.game;
  if (const char* name = xml_attribute(tag, "name")) rom.rom_name = name;
  const char* size = xml_attribute(tag, "size");
  if (!size) return refuse(reading, tag.line, "rom without a size");
  if (!parse_size(size, rom.size)) {
    return refuse(reading, tag.line, "rom size \"" + std::string(size) + "\" is not a number");
  }
  const char* crc = xml_attribute(tag, "crc");
  if (!crc) return refuse(reading, tag.line, "rom without a crc");
  uint8_t crc_bytes[4] = {};
  if (!parse_hex(crc, 8, crc_bytes)) {
    return refuse(reading, tag.line,
                  "rom crc \"" + std::string(crc) + "\" is not 8 hexadecimal digits");
  }
  rom.crc32 = static_cast<uint32_t>(crc_bytes[0]) << 24 |
              static_cast<uint32_t>(crc_bytes[1]) << 16 | static_cast<uint32_t>(crc_bytes[2]) << 8 |
              crc_bytes[3];
  if (const char* sha1 = xml_attribute(tag, "sha1")) {
    if (!parse_hex(sha1, 2 * kSha1Size, rom.sha1)) {
      return refuse(reading, tag.line,
                    "rom sha1 \"" + std::string(sha1) + "\" is not 40 hexadecimal digits");
    }
    rom.has_sha1 = true;
  }
  reading.dat->roms.push_back(std::move(rom));
  return true;
}

bool on_start(void* context, const XmlStartTag& tag) {
  auto& reading = *static_cast<DatReading*>(context);
  if (tag.depth == 0) {
    if (std::strcmp(tag.name, "datafile") == 0) return true;
    return refuse(reading, tag.line,
                  std::string("the document is <").append(tag.name).append(">, not a <datafile>"));
  }
  if (tag.depth == 1) {
    reading.in_game = is_game(tag.name);
    if (reading.in_game) {
      const char* name = xml_attribute(tag, "name");
      if (!name) {
        // Appended rather than added: GCC 12 warns wrongly about "<" + std::string(...).
        return refuse(reading, tag.line,
                      std::string("<").append(tag.name).append("> without a name"));
      }
      reading.game = name;
    }
  }
  if (std::strcmp(tag.name, "rom") != 0) return true;
  if (tag.depth != 2 || !reading.in_game) {
    return refuse(reading, tag.line, "a rom outside a game");
  }
  return take_rom(reading, tag);
}

}  // namespace

std::string dat_hex(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool dat_parse(const char* text, size_t size, const char* source, Dat& out, std::string& error) {
  out.roms.clear();
  error.clear();
  DatReading reading;
  reading.source = source;
  reading.dat = &out;
  reading.error = &error;
  XmlProblem problem;
  XmlResult result = plat_xml_read(text, size, on_start, &reading, problem);
  if (result == XmlResult::malformed) {
    error = std::string(source) + " line " + std::to_string(problem.line) +
            ": not well-formed XML: " + problem.what;
  }
  if (result != XmlResult::done) {
    out.roms.clear();
    return false;
  }
  return true;
}

bool dat_load(const char* path, Dat& out, std::string& error) {
  out.roms.clear();
  uint32_t size = plat_file_size(path);
  if (size == 0) {
    error = std::string(path) + ": cannot be read, or is empty";
    return false;
  }
  if (size > kDatMaxBytes) {
    error = std::string(path) + ": " + std::to_string(size) +
            " bytes, larger than a known-good list may be (256 MiB)";
    return false;
  }
  // One byte more than the size said: a file past 4 GiB shows only the low 32 bits of its
  // size, and one that grows while it is read is no list to trust either.
  auto text = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size) + 1);
  uint32_t got = plat_read_at(path, text.get(), size + 1, 0, false);
  if (got > size) {
    error = std::string(path) + ": larger than a known-good list may be (256 MiB)";
    return false;
  }
  if (got < size) {
    error = std::string(path) + ": cannot be read completely";
    return false;
  }
  return dat_parse(reinterpret_cast<const char*>(text.get()), size, path, out, error);
}

const DatRom* dat_find(const Dat& dat, uint64_t size, uint32_t crc32,
                       const uint8_t sha1[kSha1Size]) {
  for (const DatRom& rom : dat.roms) {
    if (rom.size != size || rom.crc32 != crc32) continue;
    if (rom.has_sha1 && (!sha1 || std::memcmp(rom.sha1, sha1, kSha1Size) != 0)) continue;
    return &rom;
  }
  return nullptr;
}
