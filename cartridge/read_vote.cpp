#include "cartridge/read_vote.h"

#include <algorithm>
#include <cstring>

namespace {

// The leading value of one byte over `reads`, and whether it leads every other value by two
// reads or more.
struct Lead {
  uint8_t value;
  bool settled;
};

Lead lead_of(const std::vector<std::vector<uint8_t>>& reads, uint32_t at) {
  // At most 2 + kMaxRereads reads: count each distinct value the plain way.
  uint8_t values[2 + kMaxRereads] = {};
  uint32_t counts[2 + kMaxRereads] = {};
  uint32_t distinct = 0;
  for (const auto& r : reads) {
    const uint8_t v = r[at];
    uint32_t i = 0;
    while (i < distinct && values[i] != v) ++i;
    if (i == distinct) values[distinct++] = v;
    ++counts[i];
  }
  uint32_t best = 0;
  for (uint32_t i = 1; i < distinct; ++i) {
    if (counts[i] > counts[best]) best = i;
  }
  uint32_t runner_up = 0;
  for (uint32_t i = 0; i < distinct; ++i) {
    if (i != best) runner_up = std::max(runner_up, counts[i]);
  }
  return {values[best], counts[best] >= runner_up + 2};
}

}  // namespace

SettleResult settle_span(const SpanReader& read, uint64_t offset, uint32_t length,
                         const uint8_t* first, const uint8_t* second, uint8_t* out) {
  SettleResult result;
  std::vector<std::vector<uint8_t>> reads;
  reads.reserve(2 + kMaxRereads);
  reads.emplace_back(first, first + length);
  reads.emplace_back(second, second + length);
  for (;;) {
    result.unsettled.clear();
    for (uint32_t at = 0; at < length; ++at) {
      const Lead lead = lead_of(reads, at);
      out[at] = lead.value;
      if (!lead.settled) result.unsettled.push_back(at);
    }
    if (result.unsettled.empty() || result.rereads == kMaxRereads) return result;
    reads.emplace_back(length);
    ++result.rereads;
    if (!read(offset, reads.back().data(), length)) {
      result.read_failed = true;
      return result;
    }
  }
}

bool read_settled(const SpanReader& read, uint64_t offset, uint8_t* out, uint32_t length,
                  uint32_t* unsettled) {
  std::vector<uint8_t> first(length), second(length);
  if (!read(offset, first.data(), length) || !read(offset, second.data(), length)) return false;
  if (first == second) {
    std::memcpy(out, first.data(), length);
    return true;
  }
  const SettleResult settled = settle_span(read, offset, length, first.data(), second.data(), out);
  if (unsettled && !settled.unsettled.empty()) *unsettled = settled.unsettled.front();
  return !settled.read_failed && settled.unsettled.empty();
}
