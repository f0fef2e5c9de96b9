// Family 20 and the command-port routines against the in-process device: packet layouts,
// chunking with the bank carry, the fixed bank of block writes, the list and short-block cuts,
// round trips through the family 20 cartridge, and the port routines against its port.
#include <functional>

#include "families/fam20.h"
#include "families/port.h"
#include "tests/fams_support.h"

namespace {

class Fam20Test : public FamilyTest {
 protected:
  vdev::Fam20Cartridge& insert_cartridge(vdev::PortConfig port = {}) {
    return insert(std::make_unique<vdev::Fam20Cartridge>(vdev::pattern_memory(0x1000000), port));
  }
};

TEST_F(Fam20Test, SinglePacketOperations) {
  const Bytes data = pattern_bytes(300);
  struct Case {
    const char* name;
    std::function<void()> call;
    std::vector<std::pair<size_t, uint8_t>> bytes;
    size_t replies;  // reply reads of 1024 bytes at offset 0
  };
  const std::vector<Case> cases = {
      {"start", [] { fam20_start(); }, {{2, 1}}, 0},
      {"control_clear", [] { fam20_control_clear(); }, {{2, 2}}, 0},
      {"control_set", [] { fam20_control_set(0x5A); }, {{2, 2}, {3, 1}, {4, 0x5A}}, 0},
      {"read_byte", [] { fam20_read_byte(0xAB123456); },
       {{2, 3}, {4, 0x12}, {6, 0x56}, {7, 0x34}, {8, 1}}, 1},
      {"write_byte", [] { fam20_write_byte(0x7E1234, 0x99); },
       {{2, 4}, {4, 0x7E}, {6, 0x34}, {7, 0x12}, {8, 1}, {12, 0x99}, {13, 0x7E}, {14, 0x34},
        {15, 0x12}},
       0},
      {"query", [] { fam20_query(0x33); }, {{2, 7}, {3, 0x33}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], packet_bytes(20, c.bytes));
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(replies.size(), c.replies);
    for (const auto& r : replies) EXPECT_EQ(r.count, kReplyBlock);
  }
  expect_all_accepted();
}

TEST_F(Fam20Test, ReadBlockChunksAt8192AndCarriesTheBank) {
  struct Chunk {
    uint8_t bank;
    uint16_t offset, length;
  };
  const struct {
    uint32_t address, length;
    std::vector<Chunk> chunks;
  } cases[] = {
      {0x00F000, 0x4000, {{0x00, 0xF000, 8192}, {0x01, 0x1000, 8192}}},
      {0x000000, 20000, {{0x00, 0x0000, 8192}, {0x00, 0x2000, 8192}, {0x00, 0x4000, 3616}}},
      {0xFFF000, 8193, {{0xFF, 0xF000, 8192}, {0x00, 0x1000, 1}}},
      {0x010000, 0, {}},
  };
  Bytes buffer(20000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    fam20_read_block(c.address, buffer.data(), c.length);
    const auto packets = sent_packets();
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(packets.size(), c.chunks.size());
    ASSERT_EQ(replies.size(), c.chunks.size());
    for (size_t k = 0; k < c.chunks.size(); ++k) {
      const Chunk& w = c.chunks[k];
      EXPECT_EQ(packets[k], packet_bytes(20, {{2, 3}, {4, w.bank}, {6, uint8_t(w.offset)},
                                              {7, uint8_t(w.offset >> 8)}, {8, uint8_t(w.length)},
                                              {9, uint8_t(w.length >> 8)}}));
      EXPECT_EQ(replies[k].offset, 0u);
    }
  }
}

TEST_F(Fam20Test, BlockWritesKeepTheBankAndCutAtTheirLimits) {
  const Bytes data = pattern_bytes(1000);
  // {first packet's offset field, data bytes} per packet, all in one command file.
  const struct {
    const char* name;
    std::function<void()> call;
    uint8_t sub;
    size_t field;  // offset of the address field: bytes 6-7 (16 bits) or 4-7 (32 bits)
    std::vector<std::pair<uint32_t, uint16_t>> packets;
  } cases[] = {
      {"block past 0xFFFF", [&] { fam20_write_block(0x44, 0x02, 0xFF00, data.data(), 768); }, 5, 6,
       {{0xFF00, 384}, {0x0080, 384}}},
      {"block 385", [&] { fam20_write_block(0x44, 0x02, 0x1000, data.data(), 385); }, 5, 6,
       {{0x1000, 384}, {0x1180, 1}}},
      {"block 0", [&] { fam20_write_block(0x44, 0x02, 0x1000, data.data(), 0); }, 5, 6, {}},
      {"short 300", [&] { fam20_write_short_block(0x44, 0x02, 0x1000, data.data(), 300); }, 6, 6,
       {{0x1000, 256}}},
      {"addr32 500", [&] { fam20_write_block_addr32(0x01FFFF00, data.data(), 500); }, 8, 4,
       {{0x01FFFF00, 498}, {0x020000F2, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    ASSERT_EQ(command_files().size(), 1u);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.packets.size());
    size_t done = 0;
    for (size_t k = 0; k < packets.size(); ++k) {
      const auto& p = packets[k];
      const auto [address, n] = c.packets[k];
      const bool wide = c.field == 4;
      EXPECT_EQ(p[2], c.sub);
      if (!wide) {
        EXPECT_EQ(p[3], 0x44);  // selector
        EXPECT_EQ(p[4], 0x02);  // the bank never moves
      }
      uint32_t field = 0;
      for (size_t i = 0; i < (wide ? 4u : 2u); ++i) field |= uint32_t{p[c.field + i]} << (8 * i);
      EXPECT_EQ(field, address);
      EXPECT_EQ(p[8] | (p[9] << 8), n);
      EXPECT_EQ(Bytes(p.begin() + 12, p.begin() + 12 + n),
                Bytes(data.begin() + done, data.begin() + done + n));
      for (size_t i = 12 + n; i < 510; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
      done += n;
    }
  }
}

TEST_F(Fam20Test, WriteByteListCutsAt124) {
  std::vector<uint32_t> addresses(200);
  Bytes values(200);
  for (uint32_t i = 0; i < 200; ++i) {
    addresses[i] = 0xFF000000u | (i << 16) | (0x8000 + i);
    values[i] = static_cast<uint8_t>(i + 1);
  }
  for (const uint8_t count : {uint8_t{3}, uint8_t{124}, uint8_t{200}}) {
    SCOPED_TRACE(static_cast<int>(count));
    device.clear_trace();
    fam20_write_byte_list(addresses.data(), values.data(), count);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    const size_t n = std::min<size_t>(count, 124);
    std::vector<std::pair<size_t, uint8_t>> set{{2, 4}, {8, uint8_t(n)}};
    for (size_t i = 0; i < n; ++i) {
      set.push_back({12 + 4 * i, values[i]});
      set.push_back({13 + 4 * i, uint8_t(i)});
      set.push_back({14 + 4 * i, uint8_t(0x8000 + i)});
      set.push_back({15 + 4 * i, uint8_t((0x8000 + i) >> 8)});
    }
    EXPECT_EQ(packets[0], packet_bytes(20, set));
  }
}

TEST_F(Fam20Test, WhatIsWrittenReadsBack) {
  auto& cart = insert_cartridge();
  const Bytes block = pattern_bytes(1000, 9);
  fam20_write_block(0x5C, 0x03, 0xFE00, block.data(), 1000);  // wraps to 0x030000
  fam20_write_short_block(0x6D, 0x05, 0x0100, block.data(), 300);
  fam20_write_block_addr32(0x00067FF0, block.data(), 1000);
  const uint32_t list_addresses[] = {0x123456, 0x000010};
  const uint8_t list_values[] = {0xA1, 0xB2};
  fam20_write_byte_list(list_addresses, list_values, 2);
  fam20_write_byte(0x7F0001, 0xC3);
  const Bytes before = block;

  Bytes got(1000);
  fam20_read_block(0x03FE00, got.data(), 0x200);
  fam20_read_block(0x030000, got.data() + 0x200, 1000 - 0x200);
  EXPECT_EQ(got, block);
  fam20_read_block(0x050100, got.data(), 256);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 256), Bytes(block.begin(), block.begin() + 256));
  EXPECT_NE(fam20_read_byte(0x050200), block[256]);  // cut at 256: the rest is not written
  fam20_read_block(0x067FF0, got.data(), 1000);
  EXPECT_EQ(got, block);
  EXPECT_EQ(fam20_read_byte(0x123456), 0xA1);
  EXPECT_EQ(fam20_read_byte(0x000010), 0xB2);
  EXPECT_EQ(fam20_read_byte(0x7F0001), 0xC3);
  EXPECT_EQ(block, before);
  EXPECT_EQ(cart.last_selector(), 0x6D);
  fam20_control_set(0x42);
  EXPECT_EQ(cart.last_control(), (std::pair<uint8_t, uint8_t>{1, 0x42}));
  EXPECT_EQ(fam20_query(0x0F), 0xF0);
  EXPECT_EQ(cart.last_query(), 0x0F);
  expect_all_accepted();
}

// --- Command port ----------------------------------------------------------------------

// One port access as the cartridge sees it: a write (value) or a read of 0x2400 / 0x2401.
struct Access {
  bool write;
  uint16_t offset;
  uint8_t value;
  bool operator==(const Access&) const = default;
};

class PortTest : public Fam20Test {
 protected:
  std::vector<Access> accesses() const {
    std::vector<Access> out;
    for (const auto& p : sent_packets()) {
      if (p[2] == 4) out.push_back({true, uint16_t(p[14] | (p[15] << 8)), p[12]});
      if (p[2] == 3) out.push_back({false, uint16_t(p[6] | (p[7] << 8)), 0});
    }
    return out;
  }
  size_t count(bool write) const {
    size_t n = 0;
    for (const auto& a : accesses()) n += a.write == write;
    return n;
  }
};

TEST_F(PortTest, ExchangeUnlocksOnlyWhenTheStatusAsksForIt) {
  const std::vector<Access> plain{{true, 0x2400, 0x09}, {false, 0x2400, 0}, {true, 0x2401, 0x28},
                                  {true, 0x2401, 0x84}, {true, 0x2400, 0x04}, {false, 0x2400, 0}};
  std::vector<Access> unlocked = plain;
  unlocked.insert(unlocked.begin() + 4, {{true, 0x2400, 0x06}, {true, 0x2400, 0x39}});
  const struct {
    vdev::PortConfig port;
    const std::vector<Access>& expected;
  } cases[] = {{{0, false, false}, plain}, {{0, false, true}, unlocked}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port.locked);
    device.clear_trace();
    insert_cartridge(c.port);
    EXPECT_EQ(port_exchange(4), kPortAwake);
    EXPECT_EQ(accesses(), c.expected);
    EXPECT_EQ(command_files().size(), c.expected.size());
    EXPECT_EQ(events(Kind::reply_read).size(), 2u);
  }
}

TEST_F(PortTest, WakeAtOnceAfterSomeExchangesAndNever) {
  const struct {
    const char* name;
    vdev::PortConfig port;
    bool result;
    size_t exchanges;
    size_t writes_per_exchange;
  } cases[] = {
      {"awake", {0, false, false}, true, 0, 4},
      {"after 3", {3, false, false}, true, 3, 4},
      {"after 2, locked", {2, false, true}, true, 2, 6},
      {"after 30", {30, false, false}, true, 30, 4},
      {"after 31", {31, false, false}, false, 30, 4},
      {"never", {0, true, false}, false, 30, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    auto& cart = insert_cartridge(c.port);
    EXPECT_EQ(port_wake(), c.result);
    EXPECT_EQ(cart.port_awake(), c.result);
    const auto packets = sent_packets();
    ASSERT_GE(packets.size(), 2u);
    EXPECT_EQ(packets[0], packet_bytes(20, {{2, 2}, {3, 1}, {4, 0}}));
    EXPECT_EQ(count(true), c.exchanges * c.writes_per_exchange);
    EXPECT_EQ(count(false), 1 + 2 * c.exchanges);
    EXPECT_EQ(events(Kind::reply_read).size(), 1 + 2 * c.exchanges);
  }
}

TEST_F(PortTest, CheckNeedsAnAwakePortAndTheAnswerToCommandOne) {
  const struct {
    const char* name;
    vdev::PortConfig port;
    bool result;
    size_t exchanges;
  } cases[] = {
      {"awake", {0, false, false}, true, 3},
      {"awake, locked", {0, false, true}, true, 3},
      {"asleep", {5, false, false}, false, 1},
      {"never", {0, true, false}, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    insert_cartridge(c.port);
    EXPECT_EQ(port_check(), c.result);
    EXPECT_EQ(count(false), 2 * c.exchanges);
  }
}

}  // namespace
