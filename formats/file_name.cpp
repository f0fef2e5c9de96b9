// File names from cartridge and list text, safe on Windows and Linux alike.
#include "formats/file_name.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Room for an extension and the ".tmp" of the temporary name within any file system's 255.
constexpr size_t kMaxBytes = 200;

bool unsafe_ascii(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

// Length of the well-formed UTF-8 sequence starting at `i`, 0 when it is not one (stray
// continuation bytes, overlong forms, surrogates, past U+10FFFF, cut short).
size_t utf8_length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  uint32_t code = lead & (0x7FU >> length);
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3FU);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 name devices on Windows, whatever the extension.
bool windows_device_name(std::string_view base) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  std::string name;
  for (const char c : base) name += upper(c);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
         name[3] >= '0' && name[3] <= '9';
}

// Windows drops trailing spaces and dots from a name: spaces are cut, dots made visible.
void tidy_end(std::string& name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  for (size_t i = name.size(); i > 0 && name[i - 1] == '.'; --i) name[i - 1] = '_';
}

}  // namespace

std::string safe_file_name(std::string_view text, std::string_view fallback) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t character = c < 0x80 ? 1 : utf8_length(text, i);
    const size_t length = character != 0 ? character : 1;
    // A character that would not fit whole ends the name.
    if (out.size() + length > kMaxBytes) break;
    if (c < 0x80) {
      out += unsafe_ascii(c) ? '_' : static_cast<char>(c);
    } else if (character != 0) {
      out.append(text.data() + i, length);
    } else {
      out += '_';
    }
    i += length;
  }
  tidy_end(out);
  const size_t dot = std::min(out.find('.'), out.size());
  if (windows_device_name(std::string_view(out).substr(0, dot))) {
    out.insert(dot, 1, '_');
    if (out.size() > kMaxBytes) {
      // Make room again: drop the last whole character (the text is well-formed UTF-8 now).
      while ((static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
      out.pop_back();
      tidy_end(out);
    }
  }
  if (out.find_first_not_of("_. ") == std::string::npos) return std::string(fallback);
  return out;
}
