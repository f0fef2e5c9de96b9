#include "cartridge/save_n64_bus.h"

#include <algorithm>
#include <vector>

#include "families/n64.h"
#include "link/link_state.h"

namespace {
// Reads of a deciding span before it is given up as unsettled.
constexpr uint32_t kSettleReads = 6;
}  // namespace

bool n64_bus_lossless(const std::function<bool()>& body) {
  const bool before = g_link.io_failed;
  g_link.io_failed = false;
  const bool ok = body();
  const bool lost = g_link.io_failed;
  g_link.io_failed = before || lost;
  return ok && !lost;
}

bool n64_bus_read(uint32_t address, uint8_t* out, uint32_t length) {
  return n64_bus_lossless([&] { return n64_read_block(address, out, length) == length; });
}

bool n64_bus_read_settled(uint32_t address, uint8_t* out, uint32_t length) {
  std::vector<uint8_t> next(length);
  if (!n64_bus_read(address, out, length)) return false;
  for (uint32_t reads = 1; reads < kSettleReads; ++reads) {
    if (!n64_bus_read(address, next.data(), length)) return false;
    if (std::equal(next.begin(), next.end(), out)) return true;
    std::copy(next.begin(), next.end(), out);
  }
  return false;
}
