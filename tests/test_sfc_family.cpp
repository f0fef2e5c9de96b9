// The SFC command family at the packet level: identity levels, the window read and its half
// select, chunked reads, the batched and per-packet writes and the erase sequences, as the
// in-process virtual device receives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "families/sfc.h"
#include "tests/slot_family_support.h"

namespace {

using Kind = vdev::TraceEvent::Kind;

class SfcPackets : public SlotFamilyTest {};

TEST_F(SfcPackets, IdentityTextsGiveTheirLevels) {
  struct Case {
    std::string identity;
    uint32_t level;
  } cases[] = {
      {"SFC_Q3V8_FW412", 412},
      {"SFC_HWRKA_FW308", 308},
      {"GEN_HWRKA_FW320", 320},
      {"SFC_Q3V8_FW 77x", 77},
      {"SFC_HWRKA_FW-5", static_cast<uint32_t>(-5)},  // held unsigned
      {"SFC_HWRKA_FW", 0},
      {"SFC_HWRKA_FV308", 0},
      {"NES_HWRKA_FW400", 0},  // another console: the level goes back to 0
      {"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    device.clear_trace();
    device.config().identity = c.identity;
    sfc_protocol_level = 999;
    sfc_identify();
    EXPECT_EQ(sfc_protocol_level, c.level);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0][1], 15);
    EXPECT_EQ(packets[0][2], 1);
    EXPECT_TRUE(std::all_of(packets[0].begin() + 3, packets[0].begin() + 510,
                            [](uint8_t b) { return b == 0; }));
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].offset, 8192u);
    EXPECT_EQ(replies[0].count, 1024u);
  }
}

// Whole-kilobyte reads: which half selects go out and which "DUMP.ROM" reads follow.
TEST_F(SfcPackets, WindowReadsByLevel) {
  struct Read {
    uint64_t offset;
    uint32_t count;
  };
  struct Case {
    const char* name;
    uint32_t level;
    uint32_t address;
    uint32_t length;
    std::vector<uint8_t> halves;  // byte 3 of each sub-4 packet, in order
    std::vector<Read> reads;
  } cases[] = {
      {"upper half below 320", 308, 0x800000, 0x8000, {1}, {{0, 0x8000}}},
      {"whole window from 320", 320, 0x800000, 0x8000, {}, {{0x800000, 0x8000}}},
      {"before any identity", 0, 0x000400, 0x400, {0}, {{0x400, 0x400}}},
      {"negative level counts as high", static_cast<uint32_t>(-1), 0x800000, 0x400, {},
       {{0x800000, 0x400}}},
      {"length 0 aligned, low level", 308, 0x8000, 0, {0}, {}},
      {"length 0 aligned, high level", 320, 0x8000, 0, {}, {}},
      {"bank bits above 23 are not sent", 308, 0x01800400, 0x400, {1}, {{0x400, 0x400}}},
      {"a read over the half boundary reads each half after its select", 308, 0x7FF000, 0x2000,
       {0, 1}, {{0x7FF000, 0x1000}, {0, 0x1000}}},
      {"an address the file offset cannot reach reads nothing", 320, 0x80000000, 0x400, {}, {}},
  };
  std::vector<uint8_t> destination(0x8000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    sfc_protocol_level = c.level;
    sfc_read_block(c.address, destination.data(), c.length);

    std::vector<uint8_t> halves;
    for (const auto& p : sent_packets()) {
      ASSERT_EQ(p[1], 15);
      ASSERT_EQ(p[2], 4);
      EXPECT_TRUE(std::all_of(p.begin() + 4, p.begin() + 510, [](uint8_t b) { return b == 0; }));
      halves.push_back(p[3]);
    }
    EXPECT_EQ(halves, c.halves);
    const auto dumps = events(Kind::dump_read);
    ASSERT_EQ(dumps.size(), c.reads.size());
    for (size_t i = 0; i < dumps.size(); ++i) {
      EXPECT_EQ(dumps[i].offset, c.reads[i].offset);
      EXPECT_EQ(dumps[i].count, c.reads[i].count);
    }
    // The select goes out before the read it serves.
    if (!c.halves.empty() && !c.reads.empty()) {
      EXPECT_EQ(device.trace().front().kind, Kind::command_file);
    }
    EXPECT_TRUE(events(Kind::reply_read).empty());
  }
}

// Reads that are not whole kilobytes go as command-and-reply cycles of at most 2048 bytes, in
// the short layout (sub-command 2) or the long one (sub-command 9, which has no window path).
TEST_F(SfcPackets, ChunkedReads) {
  using Chunks = std::vector<std::pair<uint32_t, uint32_t>>;  // address (24 bits), length
  struct Case {
    const char* name;
    bool long_form;
    uint32_t address;
    uint32_t length;
    Chunks chunks;
  } cases[] = {
      {"3000 at 0x8000", false, 0x8000, 3000, {{0x8000, 2048}, {0x8800, 952}}},
      {"unaligned address, length 0", false, 0x8001, 0, {}},
      {"aligned address, odd length", false, 0x8000, 1, {{0x8000, 1}}},
      {"exactly one chunk", false, 0x10, 2048, {{0x10, 2048}}},
      {"wraps at 24 bits", false, 0xFFFF00, 2304, {{0xFFFF00, 2048}, {0x000700, 256}}},
      {"long form never reads the window", true, 0x800000, 0x1000,
       {{0x800000, 2048}, {0x800800, 2048}}},
      {"long form, 3000", true, 0x8000, 3000, {{0x8000, 2048}, {0x8800, 952}}},
      {"long form, length 0", true, 0x8000, 0, {}},
  };
  std::vector<uint8_t> destination(0x1000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    sfc_protocol_level = 320;
    if (c.long_form) {
      sfc_long_read_block(c.address, destination.data(), c.length);
    } else {
      sfc_read_block(c.address, destination.data(), c.length);
    }
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.chunks.size());
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(replies.size(), c.chunks.size());
    for (size_t i = 0; i < packets.size(); ++i) {
      const auto& p = packets[i];
      std::vector<uint8_t> expected(510, 0);
      expected[0] = 'Z';
      expected[1] = 15;
      if (c.long_form) {
        expected[2] = 9;
        for (int b = 0; b < 3; ++b) expected[4 + b] = static_cast<uint8_t>(c.chunks[i].first >> (8 * b));
        expected[8] = static_cast<uint8_t>(c.chunks[i].second);
        expected[9] = static_cast<uint8_t>(c.chunks[i].second >> 8);
      } else {
        expected[2] = 2;
        for (int b = 0; b < 3; ++b) expected[3 + b] = static_cast<uint8_t>(c.chunks[i].first >> (8 * b));
        expected[6] = static_cast<uint8_t>(c.chunks[i].second);
        expected[7] = static_cast<uint8_t>(c.chunks[i].second >> 8);
      }
      EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 510), expected) << "chunk " << i;
      EXPECT_EQ(replies[i].offset, 0u);
    }
    EXPECT_TRUE(events(Kind::dump_read).empty());
  }
  expect_all_accepted();
}

TEST_F(SfcPackets, SinglePacketOperations) {
  struct Case {
    const char* name;
    std::function<void()> call;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // besides byte 1 = 15; all others zero
    size_t replies;
  };
  const std::vector<Case> cases = {
      {"write_byte", [] { sfc_write_byte(0x12ABCD, 0x5A); },
       {{2, 3}, {3, 0xCD}, {4, 0xAB}, {5, 0x12}, {7, 0x5A}}, 0},
      {"write_byte drops bits above 23", [] { sfc_write_byte(0xFF00FFEE, 1); },
       {{2, 3}, {3, 0xEE}, {4, 0xFF}, {7, 1}}, 0},
      {"read_byte", [] { sfc_read_byte(0x7E0001); }, {{2, 2}, {3, 0x01}, {5, 0x7E}, {6, 1}}, 1},
      {"read_status", [] { sfc_read_status(0x8AAA); }, {{2, 2}, {3, 0xAA}, {4, 0x8A}, {6, 1}}, 1},
      {"long_read_byte", [] { sfc_long_read_byte(0x345678); },
       {{2, 9}, {4, 0x78}, {5, 0x56}, {6, 0x34}, {8, 1}}, 1},
      {"long_write_byte", [] { sfc_long_write_byte(0xAB345678, 0x99); },
       {{2, 10}, {4, 0x78}, {5, 0x56}, {6, 0x34}, {8, 1}, {12, 0x99}}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    std::vector<uint8_t> expected(510, 0);
    expected[0] = 'Z';
    expected[1] = 15;
    for (const auto& [at, value] : c.bytes) expected[at] = value;
    EXPECT_EQ(std::vector<uint8_t>(packets[0].begin(), packets[0].begin() + 510), expected);
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(replies.size(), c.replies);
    for (const auto& r : replies) {
      EXPECT_EQ(r.offset, 0u);
      EXPECT_EQ(r.count, 1024u);
    }
  }
}

// The three batched forms: packets of 480, 480 or 496 data bytes, all in one command file.
TEST_F(SfcPackets, BatchedWrites) {
  struct Case {
    const char* name;
    void (*write)(uint32_t, const uint8_t*, uint32_t);
    uint8_t sub;
    uint32_t limit;
    uint32_t address;
    uint32_t length;
  } cases[] = {
      {"496 form, 1000 bytes", sfc_write_block_496, 7, 496, 0x018000, 1000},
      {"480 form, 961 bytes", sfc_write_block_480, 6, 480, 0x7E0000, 961},
      {"480 form sends 24 address bits", sfc_write_block_480, 6, 480, 0x12345678, 10},
      {"32-bit form sends all 32", sfc_write_block_addr32, 5, 480, 0x12345678, 481},
      {"exactly one packet", sfc_write_block_496, 7, 496, 0, 496},
      {"24-bit address runs on past a bank", sfc_write_block_480, 6, 480, 0x00FFF0, 500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    const auto data = byte_pattern(c.length, 5);
    c.write(c.address, data.data(), c.length);
    const auto files = command_files();
    ASSERT_EQ(files.size(), 1u);
    const size_t count = (c.length + c.limit - 1) / c.limit;
    ASSERT_EQ(files[0].data.size(), count * kPacketSize);
    const auto packets = sent_packets();
    for (size_t k = 0; k < count; ++k) {
      SCOPED_TRACE(k);
      const auto& p = packets[k];
      const uint32_t n = std::min<uint32_t>(c.limit, c.length - k * c.limit);
      const uint32_t address = c.address + static_cast<uint32_t>(k * c.limit);
      EXPECT_EQ(p[1], 15);
      EXPECT_EQ(p[2], c.sub);
      EXPECT_EQ(p[3], 0);
      if (c.sub == 5) {
        EXPECT_EQ(le32_at(p, 4), address);
      } else {
        EXPECT_EQ(le24_at(p, 4), address & 0xFFFFFF);
        EXPECT_EQ(p[7], 0);
      }
      EXPECT_EQ(le16_at(p, 8), n);
      EXPECT_EQ(le16_at(p, 10), 0u);
      EXPECT_EQ(std::vector<uint8_t>(p.begin() + 12, p.begin() + 12 + n),
                std::vector<uint8_t>(data.begin() + k * c.limit, data.begin() + k * c.limit + n));
      for (size_t i = 12 + n; i < 510; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
    }
  }
  expect_all_accepted();
}

TEST_F(SfcPackets, BatchedWriteOfNothingSendsAnEmptyCommandFile) {
  const uint8_t unused = 0;
  sfc_write_block_addr32(0x8000, &unused, 0);
  sfc_write_block_480(0x8000, &unused, 0);
  sfc_write_block_496(0x8000, &unused, 0);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 3u);
  for (const auto& f : files) EXPECT_TRUE(f.data.empty());
  EXPECT_EQ(g_link.command_counter, 3);
}

// One command file per packet of up to 498 bytes; a shorter last packet keeps the earlier
// packet's bytes past its data, which its length field marks as not counting.
TEST_F(SfcPackets, LongWriteSendsOnePacketPerFile) {
  const auto data = byte_pattern(1000, 9);
  sfc_long_write_block(0x7FFF00, data.data(), 1000);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 3u);
  const uint32_t lengths[] = {498, 498, 4};
  for (size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(files[k].data.size(), kPacketSize);
    const std::vector<uint8_t> p = files[k].data;
    EXPECT_EQ(p[2], 10);
    EXPECT_EQ(le24_at(p, 4), 0x7FFF00 + 498 * k);
    EXPECT_EQ(p[7], 0);
    EXPECT_EQ(le16_at(p, 8), lengths[k]);
    EXPECT_EQ(std::vector<uint8_t>(p.begin() + 12, p.begin() + 12 + lengths[k]),
              std::vector<uint8_t>(data.begin() + 498 * k, data.begin() + 498 * k + lengths[k]));
  }
  // Bytes after the last run's data are the second run's.
  EXPECT_EQ(files[2].data[12 + 4], data[498 + 4]);

  device.clear_trace();
  sfc_long_write_block(0, data.data(), 0);
  EXPECT_TRUE(command_files().empty());
}

TEST_F(SfcPackets, EraseSequencesAreSevenByteWritesInOneFile) {
  using Cycles = std::vector<std::pair<uint32_t, uint8_t>>;
  const Cycles unlock = {{0x8AAA, 0xF0}, {0x8AAA, 0xAA}, {0x8555, 0x55},
                         {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}};
  struct Case {
    const char* name;
    std::function<void()> call;
    std::pair<uint32_t, uint8_t> last;
  } cases[] = {
      {"chip", [] { sfc_chip_erase(); }, {0x8AAA, 0x10}},
      {"sector", [] { sfc_sector_erase(0x3F0000); }, {0x3F0000, 0x30}},
      {"sector sends 24 bits only", [] { sfc_sector_erase(0xFF010000); }, {0x010000, 0x30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    const auto files = command_files();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(files[0].data.size(), 7 * kPacketSize);
    Cycles expected = unlock;
    expected.push_back(c.last);
    const auto packets = sent_packets();
    for (size_t i = 0; i < 7; ++i) {
      SCOPED_TRACE(i);
      const auto& p = packets[i];
      EXPECT_EQ(p[1], 15);
      EXPECT_EQ(p[2], 3);
      EXPECT_EQ(le24_at(p, 3), expected[i].first);
      EXPECT_EQ(p[6], 0);
      EXPECT_EQ(p[7], expected[i].second);
      EXPECT_TRUE(std::all_of(p.begin() + 8, p.begin() + 510, [](uint8_t b) { return b == 0; }));
    }
    EXPECT_TRUE(events(Kind::reply_read).empty());
    EXPECT_TRUE(events(Kind::dump_read).empty());
  }
  expect_all_accepted();
}

}  // namespace
