#include "virtual_device/retail.h"

#include <bit>

namespace vdev {

uint32_t rom_mirror(uint32_t offset, uint32_t size) {
  uint32_t base = 0;
  while (size != 0 && !std::has_single_bit(size)) {
    const uint32_t low = std::bit_floor(size);
    offset &= 2 * low - 1;
    if (offset < low) return base + offset;
    base += low;
    offset -= low;
    size -= low;
  }
  return size == 0 ? base : base + (offset & (size - 1));
}

bool option_flaky(const CartridgeOptions& options, uint64_t rom_size,
                  std::optional<FlakyByte>& out, std::string& error) {
  auto it = options.find("flaky");
  if (it == options.end()) return true;
  const std::string& text = it->second;
  const size_t colon = text.find(':');
  uint64_t offset = 0;
  uint64_t reads = 1;
  bool always = false;
  bool ok = parse_option_number(text.substr(0, colon), offset) && offset < rom_size;
  if (ok && colon != std::string::npos) {
    const std::string tail = text.substr(colon + 1);
    if (tail == "always") {
      always = true;
    } else {
      ok = parse_option_number(tail, reads) && reads >= 1 && reads <= UINT32_MAX;
    }
  }
  if (!ok) {
    error = "--flaky '" + text + "': give OFFSET[:READS] or OFFSET:always, OFFSET a ROM offset "
            "below " + std::to_string(rom_size) + " and READS from 1";
    return false;
  }
  out.emplace(static_cast<uint32_t>(offset), static_cast<uint32_t>(reads), always);
  return true;
}

bool option_save(const CartridgeOptions& options, const std::string& what,
                 std::vector<uint8_t>& memory, std::string& error) {
  auto it = options.find("save");
  if (it == options.end()) return true;
  if (memory.empty()) {
    error = "--save " + it->second + ": this cartridge has no save memory";
    return false;
  }
  std::vector<uint8_t> loaded;
  if (!option_file(options, "save", what, loaded, error, memory.size(), memory.size())) {
    return false;
  }
  memory = std::move(loaded);
  return true;
}

std::vector<CartridgeOption> retail_option_list(const char* save_help) {
  std::vector<CartridgeOption> list;
  if (save_help) list.push_back({"save", "FILE", save_help});
  list.push_back({"flaky", "OFFSET[:READS]",
                  "the ROM byte at OFFSET reads with a flipped bit on its first READS reads "
                  "(default 1); OFFSET:always: never the same twice"});
  return list;
}

void fill_random(uint8_t* out, size_t length, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  if (x == 0) x = 1;
  for (size_t i = 0; i < length; ++i) {
    if (i % 4 == 0) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
    }
    out[i] = static_cast<uint8_t>(x >> (8 * (i % 4)));
  }
}

}  // namespace vdev
