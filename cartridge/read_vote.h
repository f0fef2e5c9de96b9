// Settling bytes that did not read the same twice. A dirty contact makes a bit read wrong on
// some reads, and a wrong value can come back more than once (a flaky bit has only two
// values), so two reads that agree after a disagreement prove nothing by themselves: a byte is
// taken only when the reads that gave its value outnumber the reads of any other value by two.
// Two reads that agree from the start meet that; a byte on which two reads differ needs two
// fresh reads that agree with one of them (three reads to one), and a wrong value that comes
// back pushes the bar up by one each time. A byte that still has no such lead after the
// re-reads is not taken at all.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

// Reads `length` bytes from `offset` (in the caller's terms: an image offset, a bus address);
// false when the transfer failed.
using SpanReader = std::function<bool(uint64_t offset, uint8_t* out, uint32_t length)>;

// Fresh reads of a span allowed after its first two.
inline constexpr uint32_t kMaxRereads = 5;

struct SettleResult {
  bool read_failed = false;          // a re-read's transfer failed: nothing was decided
  uint32_t rereads = 0;              // fresh reads made
  std::vector<uint32_t> unsettled;   // span-relative positions that never had the lead
};

// Settles `length` bytes at `offset` from two earlier reads `first` and `second`, reading the
// span again up to kMaxRereads times until every byte has the lead; `out` gets each byte's
// leading value (where a byte is unsettled, the value most reads gave). `first` or `second`
// may be `out`.
SettleResult settle_span(const SpanReader& read, uint64_t offset, uint32_t length,
                         const uint8_t* first, const uint8_t* second, uint8_t* out);

// Reads a span that must be right before anything is decided from it (a header, a footer):
// twice, and when the two differ, settled as above. False when a read failed or a byte
// stayed unsettled (`unsettled` then holds its first such position).
bool read_settled(const SpanReader& read, uint64_t offset, uint8_t* out, uint32_t length,
                  uint32_t* unsettled = nullptr);
