// The rule that settles bytes which did not read the same twice: which reads a value needs
// before it is taken, and when a byte is given up. The reads are scripted, one string of byte
// values per read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cartridge/read_vote.h"

namespace {

// Hands out the scripted re-reads in turn; a read past the script fails.
struct Script {
  std::vector<std::vector<uint8_t>> reads;
  size_t next = 0;
  SpanReader reader() {
    return [this](uint64_t, uint8_t* out, uint32_t length) {
      if (next == reads.size()) return false;
      const auto& r = reads[next++];
      std::copy(r.begin(), r.begin() + length, out);
      return true;
    };
  }
};

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(ReadVote, TakesAByteOnlyWhenItsValueLeadsEveryOtherByTwoReads) {
  struct Case {
    const char* what;
    std::vector<std::string> reads;  // the two passes, then the re-reads in order
    std::string settled;             // the bytes taken (where settled)
    uint32_t rereads;
    std::vector<uint32_t> unsettled;
  } cases[] = {
      {"two passes agree: nothing read again", {"ab", "ab"}, "ab", 0, {}},
      {"one wrong read: two fresh reads of the other value settle it",
       {"Xb", "ab", "ab", "ab"}, "ab", 2, {}},
      {"the wrong value in the second pass", {"ab", "aX", "ab", "ab"}, "ab", 2, {}},
      {"a flipped bit that comes back: two reads agreeing after a disagreement are not enough",
       {"X", "a", "X", "a", "a", "a"}, "a", 4, {}},
      {"wrong reads that all differ: the true value three times settles it",
       {"1", "2", "3", "a", "a", "a"}, "a", 4, {}},
      {"a byte that never reads the same twice is given up after five re-reads",
       {"1", "2", "3", "4", "5", "6", "7"}, "", 5, {0}},
      {"two values taking turns never get the lead", {"X", "a", "X", "a", "X", "a", "X"}, "", 5,
       {0}},
      {"bytes settle independently; the span is read until all have",
       {"Xb", "aY", "ab", "ab"}, "ab", 2, {}},
      {"one settled byte, one given up", {"aX", "a1", "a2", "a3", "a4", "a5", "a6"}, "a", 5,
       {1}},
      {"a byte both passes agreed on needs more once a fresh read disagrees",
       {"aX", "ab", "Zb", "ab"}, "ab", 2, {}},
      {"... and is given up when the disagreement keeps coming",
       {"aX", "ab", "Zb", "Yb", "Wb", "Vb", "Ub"}, "ab", 5, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Script script;
    for (size_t i = 2; i < c.reads.size(); ++i) script.reads.push_back(bytes(c.reads[i]));
    const auto first = bytes(c.reads[0]);
    const auto second = bytes(c.reads[1]);
    std::vector<uint8_t> out(first.size());
    const SettleResult r = settle_span(script.reader(), 0x1000, static_cast<uint32_t>(out.size()),
                                       first.data(), second.data(), out.data());
    EXPECT_FALSE(r.read_failed);
    EXPECT_EQ(r.rereads, c.rereads);
    EXPECT_EQ(r.unsettled, c.unsettled);
    for (size_t i = 0; i < c.settled.size(); ++i) {
      if (std::find(c.unsettled.begin(), c.unsettled.end(), i) != c.unsettled.end()) continue;
      EXPECT_EQ(out[i], static_cast<uint8_t>(c.settled[i])) << "byte " << i;
    }
  }
}

TEST(ReadVote, AFailedReReadDecidesNothing) {
  Script script;
  script.reads = {bytes("a")};  // one re-read, then the transfer fails
  const auto first = bytes("X");
  const auto second = bytes("a");
  uint8_t out = 0;
  const SettleResult r = settle_span(script.reader(), 0, 1, first.data(), second.data(), &out);
  EXPECT_TRUE(r.read_failed);
  EXPECT_EQ(r.rereads, 2u);
}

TEST(ReadVote, ReadSettledReadsTwiceAndSettlesADifference) {
  struct Case {
    const char* what;
    std::vector<std::string> reads;
    bool ok;
    std::string out;
    uint32_t unsettled;
  } cases[] = {
      {"two equal reads", {"head", "head"}, true, "head", 0},
      {"a difference settled", {"hXad", "head", "head", "head"}, true, "head", 0},
      {"never the same", {"h1", "h2", "h3", "h4", "h5", "h6", "h7"}, false, "", 1},
      {"the first read fails", {}, false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Script script;
    for (const auto& r : c.reads) script.reads.push_back(bytes(r));
    const auto length = static_cast<uint32_t>(c.reads.empty() ? 2 : c.reads[0].size());
    std::vector<uint8_t> out(length);
    uint32_t unsettled = 0;
    EXPECT_EQ(read_settled(script.reader(), 0, out.data(), length, &unsettled), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, bytes(c.out));
    } else if (!c.reads.empty()) {
      EXPECT_EQ(unsettled, c.unsettled);
    }
  }
}

}  // namespace
