// The N64 probed save memory (sub-commands 10 to 15) by what reaches the device: the selector
// in every later packet, read and write start packets, chunking and the 128-byte length mask.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/n64_support.h"

namespace n64_test {
namespace {

class N64Memory : public N64Test {};

TEST_F(N64Memory, ProbeStoresTheSelectorAndCopiesEightBytes) {
  answer_with({3, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99});
  std::vector<uint8_t> id(10, 0xEE);
  EXPECT_EQ(n64_probe_memory(id.data()), 3);
  EXPECT_EQ(g_n64_memory_selector, 3);
  EXPECT_EQ(id, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0xEE, 0xEE}));
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][2], kN64SubProbe);
  for (size_t i = 3; i < 510; ++i) ASSERT_EQ(sent[0][i], 0);
  EXPECT_EQ(trace_shape(), "CR");

  answer_with({7});
  EXPECT_EQ(n64_probe_memory(nullptr), 7);
  EXPECT_EQ(g_n64_memory_selector, 7);
}

TEST_F(N64Memory, StatusIsBitZeroAndCarriesTheSelector) {
  g_n64_memory_selector = 5;
  struct Case {
    uint8_t byte0;
    uint8_t result;
  };
  for (const Case c : {Case{0xFE, 0}, Case{0x01, 1}, Case{0xFF, 1}, Case{0x00, 0}}) {
    device.clear_trace();
    answer_with({c.byte0});
    EXPECT_EQ(n64_memory_status(), c.result);
    const auto sent = sent_packets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][2], kN64SubStatus);
    EXPECT_EQ(sent[0][3], 5);
  }
}

TEST_F(N64Memory, ReadChunksAndSendsTheStartOnlyAtAddressZero) {
  g_n64_memory_selector = 2;
  answer_with(pattern(2048, 4));
  struct Case {
    uint32_t address;
    uint32_t length;
    bool start;
    std::vector<uint16_t> chunks;
  };
  const std::vector<Case> cases = {
      {0, 5000, true, {2048, 2048, 904}},
      {0x800, 100, false, {100}},
      {0, 0, true, {}},
      {0xFFFFF800, 2048, false, {2048}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    std::vector<uint8_t> out(c.length + 1, 0xEE);
    EXPECT_EQ(n64_read_memory(c.address, out.data(), c.length), c.length);
    EXPECT_EQ(out[c.length], 0xEE);
    auto sent = sent_packets();
    ASSERT_EQ(sent.size(), c.chunks.size() + (c.start ? 1 : 0));
    if (c.start) {
      EXPECT_EQ(sent[0][2], kN64SubReadStart);
      for (size_t i = 3; i < 510; ++i) ASSERT_EQ(sent[0][i], 0);
      sent.erase(sent.begin());
    }
    uint32_t address = c.address;
    for (size_t k = 0; k < c.chunks.size(); ++k) {
      EXPECT_EQ(sent[k][2], kN64SubReadChunk);
      EXPECT_EQ(sent[k][3], 2);
      EXPECT_EQ(le32(sent[k].data() + 4), address);
      EXPECT_EQ(le16(sent[k].data() + 8), c.chunks[k]);
      address += c.chunks[k];
    }
  }
}

TEST_F(N64Memory, WriteMasksTheLengthAndBatches) {
  g_n64_memory_selector = 9;
  struct Case {
    uint32_t address;
    uint32_t length;
    uint32_t written;
    bool start;
    std::vector<uint16_t> chunks;
  };
  const std::vector<Case> cases = {
      {0, 1000, 896, true, {384, 384, 128}}, {0x1000, 65536, 0, false, {}},
      {0x1000, 65535, 65408, false, {}},  // 171 packets, checked by count below
      {0x1000, 100, 0, false, {}},           {0, 127, 0, true, {}},
      {0x80, 128, 128, false, {128}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    device.clear_trace();
    const auto data = pattern(c.length, 6);
    EXPECT_EQ(n64_write_memory(c.address, data.data(), c.length), c.written);
    const auto files = command_files();
    ASSERT_EQ(files.size(), c.start ? 2u : 1u);
    if (c.start) {
      ASSERT_EQ(files[0].data.size(), kPacketSize);
      EXPECT_EQ(files[0].data[2], kN64SubWriteStart);
    }
    const auto& batch = files.back().data;
    const size_t packets = (c.written + 383) / 384;
    ASSERT_EQ(batch.size(), packets * kPacketSize);
    for (size_t k = 0; k < packets; ++k) {
      const uint8_t* p = batch.data() + k * kPacketSize;
      const size_t n = std::min<size_t>(384, c.written - k * 384);
      if (!c.chunks.empty()) {
        EXPECT_EQ(le16(p + 8), c.chunks[k]);
      }
      EXPECT_EQ(p[2], kN64SubWriteChunk);
      EXPECT_EQ(p[3], 9);
      EXPECT_EQ(le32(p + 4), c.address + k * 384);
      EXPECT_EQ(le16(p + 8), n);
      EXPECT_EQ(std::vector<uint8_t>(p + 12, p + 12 + n),
                std::vector<uint8_t>(data.begin() + k * 384, data.begin() + k * 384 + n));
      for (size_t i = 12 + n; i < 510; ++i) ASSERT_EQ(p[i], 0);
    }
  }
}

}  // namespace
}  // namespace n64_test
