// The WSC command family at the packet level: field layouts and byte order, chunking, the
// reused packet buffer, protected writes with and without the cipher, the identity decision
// and the sector erase's bounded polling, against the in-process virtual device with a
// scripted cartridge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "families/wsc.h"
#include "link/cipher.h"
#include "platform/sleep.h"
#include "tests/slot_family_support.h"

namespace {

using Kind = vdev::TraceEvent::Kind;

uint8_t space_byte(uint64_t address) { return static_cast<uint8_t>(address * 7 + (address >> 9)); }

// Answers chunked reads and shows "DUMP.ROM" from a pattern of the address; the sector erase
// tests make it read 0x00 until a number of device ticks have passed.
class ScriptedCartridge : public vdev::Cartridge {
 public:
  bool takes(uint8_t family) const override { return family == kFamilyWsc; }
  void carry_out(const uint8_t* p, vdev::SlotHost& host) override {
    const bool wide = p[2] == kWscSubRead15;
    if (p[2] != kWscSubRead && !wide) return;
    const size_t at = wide ? 4 : 3;
    const uint32_t address = static_cast<uint32_t>(p[at] | p[at + 1] << 8 | p[at + 2] << 16 |
                                                   static_cast<uint32_t>(p[at + 3]) << 24);
    const uint32_t length = static_cast<uint32_t>(p[at + 4] | p[at + 5] << 8);
    auto reply = host.reply();
    for (uint32_t i = 0; i < length && i < reply.size(); ++i) reply[i] = space_byte(address + i);
  }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    for (uint32_t i = 0; i < count; ++i) {
      out[i] = erase_ticks_left > 0 ? 0x00 : space_byte(offset + i);
      if (erased && erase_ticks_left == 0) out[i] = 0xFF;
    }
  }
  void tick() override {
    if (erase_ticks_left > 0) --erase_ticks_left;
  }
  bool erased = false;           // the erase has been scripted: reads show 0xFF once it is over
  uint32_t erase_ticks_left = 0;
};

std::vector<uint32_t> g_pauses;
void count_pause(uint32_t milliseconds) { g_pauses.push_back(milliseconds); }

class WscPackets : public SlotFamilyTest {
 protected:
  void SetUp() override {
    SlotFamilyTest::SetUp();
    auto cartridge = std::make_unique<ScriptedCartridge>();
    cart = cartridge.get();
    device.insert(std::move(cartridge));
    g_pauses.clear();
    plat_install_sleep(count_pause);
  }
  void TearDown() override {
    plat_install_sleep(nullptr);
    SlotFamilyTest::TearDown();
  }
  // The device's key, as discovery copies it.
  void key_from_device() {
    std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
  }

  ScriptedCartridge* cart = nullptr;
};

TEST_F(WscPackets, WordAndByteWritesPutTheLowByteFirst) {
  struct Case {
    const char* name;
    std::function<void()> call;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // besides byte 1 = 10; all others zero
  };
  const std::vector<Case> cases = {
      {"word", [] { wsc_write_word(0x12345, 0xBEEF); },
       {{2, 7}, {3, 0x45}, {4, 0x23}, {5, 0x01}, {7, 2}, {9, 0xEF}, {10, 0xBE}}},
      {"byte", [] { wsc_write_byte(0x100, 0x5A); }, {{2, 9}, {4, 0x01}, {7, 2}, {9, 0x5A}}},
      {"word carries all 32 address bits", [] { wsc_write_word(0xFEDCBA98, 0x0001); },
       {{2, 7}, {3, 0x98}, {4, 0xBA}, {5, 0xDC}, {6, 0xFE}, {7, 2}, {9, 0x01}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    std::vector<uint8_t> expected(510, 0);
    expected[0] = 'Z';
    expected[1] = 10;
    for (const auto& [at, value] : c.bytes) expected[at] = value;
    EXPECT_EQ(std::vector<uint8_t>(packets[0].begin(), packets[0].begin() + 510), expected);
    EXPECT_TRUE(events(Kind::reply_read).empty());
  }
}

TEST_F(WscPackets, ByteReadTakesTheWholeBlockOfItsAddress) {
  struct Case {
    uint32_t address;
    uint64_t block;
  } cases[] = {{0x1F7FF, 0x1F400}, {0x100005, 0}, {0xFFFFFFFF, 0xFFC00}, {0, 0}, {0x3FF, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    EXPECT_EQ(wsc_read_byte(c.address), space_byte(c.block + (c.address & 0x3FF)));
    const auto dumps = events(Kind::dump_read);
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0].offset, c.block);
    EXPECT_EQ(dumps[0].count, 1024u);
    EXPECT_TRUE(command_files().empty());
  }
}

TEST_F(WscPackets, RomReadGoesStraightToTheWindow) {
  struct Case {
    uint32_t address;
    uint32_t length;
    size_t reads;
  } cases[] = {{0, 0x10000, 1}, {0x400, 1024, 1}, {0x20, 0, 0}, {0x80000000, 1024, 0}};
  std::vector<uint8_t> out(0x10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    std::fill(out.begin(), out.end(), 0);
    wsc_read_rom(c.address, out.data(), c.length);
    EXPECT_EQ(events(Kind::dump_read).size(), c.reads);
    EXPECT_TRUE(command_files().empty());
    for (uint32_t i = 0; i < c.length && c.reads; ++i) {
      ASSERT_EQ(out[i], space_byte(c.address + i)) << i;
    }
  }
}

// Sub-command 4 in chunks of 2048 with its fields at bytes 3-8; sub-command 15 in chunks of 128
// with its fields at bytes 4-9. The answers land back to back in the destination.
TEST_F(WscPackets, ChunkedReads) {
  struct Case {
    const char* name;
    bool sub15;
    uint32_t address;
    uint32_t length;
    std::vector<uint32_t> chunks;
  } cases[] = {
      {"5000 by sub-command 4", false, 0x10000, 5000, {2048, 2048, 904}},
      {"300 by sub-command 15", true, 0x2345, 300, {128, 128, 44}},
      {"exactly one chunk", false, 0, 2048, {2048}},
      {"nothing", false, 0, 0, {}},
      {"nothing by sub-command 15", true, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    std::vector<uint8_t> out(c.length + 1, 0xEE);
    if (c.sub15) {
      wsc_read_block_sub15(c.address, out.data(), c.length);
    } else {
      wsc_read_block(c.address, out.data(), c.length);
    }
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.chunks.size());
    EXPECT_EQ(events(Kind::reply_read).size(), c.chunks.size());
    uint32_t address = c.address;
    for (size_t i = 0; i < packets.size(); ++i) {
      const auto& p = packets[i];
      EXPECT_EQ(p[2], c.sub15 ? 15 : 4);
      if (c.sub15) {
        EXPECT_EQ(p[3], 0);
        EXPECT_EQ(le32_at(p, 4), address);
        EXPECT_EQ(le16_at(p, 8), c.chunks[i]);
        EXPECT_TRUE(std::all_of(p.begin() + 10, p.begin() + 510, [](uint8_t b) { return !b; }));
      } else {
        EXPECT_EQ(le32_at(p, 3), address);
        EXPECT_EQ(le16_at(p, 7), c.chunks[i]);
        EXPECT_TRUE(std::all_of(p.begin() + 9, p.begin() + 510, [](uint8_t b) { return !b; }));
      }
      address += c.chunks[i];
    }
    for (uint32_t i = 0; i < c.length; ++i) ASSERT_EQ(out[i], space_byte(c.address + i)) << i;
    EXPECT_EQ(out[c.length], 0xEE);  // nothing past the length
  }
}

// One command file per packet; the packet buffer is cleared once, so a shorter packet carries
// the previous one's bytes past its data.
TEST_F(WscPackets, PerPacketWrites) {
  struct Case {
    const char* name;
    void (*write)(uint32_t, const uint8_t*, uint32_t);
    uint8_t sub;
    size_t address_at, length_at, data_at;
    uint32_t length;
    std::vector<uint32_t> chunks;
  } cases[] = {
      {"sub-command 16, 300 bytes", wsc_write_block_sub16, 16, 4, 8, 16, 300, {128, 128, 44}},
      {"sub-command 6, 1001 bytes", wsc_write_block, 6, 3, 7, 9, 1001, {500, 500, 1}},
      {"sub-command 6, exactly 500", wsc_write_block, 6, 3, 7, 9, 500, {500}},
      {"sub-command 16, nothing", wsc_write_block_sub16, 16, 4, 8, 16, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    const auto data = byte_pattern(c.length, 3);
    const uint32_t base = 0xA0100;
    c.write(base, data.data(), c.length);
    const auto files = command_files();
    ASSERT_EQ(files.size(), c.chunks.size());
    uint32_t done = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(files[i].data.size(), kPacketSize);
      const auto& p = files[i].data;
      EXPECT_EQ(p[1], 10);
      EXPECT_EQ(p[2], c.sub);
      EXPECT_EQ(le32_at(p, c.address_at), base + done);
      EXPECT_EQ(le16_at(p, c.length_at), c.chunks[i]);
      EXPECT_EQ(std::vector<uint8_t>(p.begin() + c.data_at, p.begin() + c.data_at + c.chunks[i]),
                std::vector<uint8_t>(data.begin() + done, data.begin() + done + c.chunks[i]));
      if (i > 0 && c.chunks[i] < c.chunks[i - 1]) {
        // Past the short packet's data: the previous packet's byte at the same place.
        const uint32_t previous = done - c.chunks[i - 1];
        EXPECT_EQ(p[c.data_at + c.chunks[i]], data[previous + c.chunks[i]]);
      }
      done += c.chunks[i];
    }
  }
  expect_all_accepted();
}

// Protected writes: one batch per call, bytes 9-16 of each packet enciphered when the flag is
// on, the data plain when it is off; the caller's data unchanged either way.
TEST_F(WscPackets, ProtectedWrites) {
  key_from_device();
  cipher_set_device_key();
  auto key = std::make_unique<CipherContext>();
  blowfish_set_key(*key, device.config().key.data(), 8);
  struct Case {
    const char* name;
    void (*write)(uint32_t, const uint8_t*, uint32_t);
    uint8_t sub;
    bool flag;
    uint32_t length;
    std::vector<uint32_t> chunks;
  } cases[] = {
      {"12 with the flag on", wsc_write_block_sub12, 12, true, 1000, {480, 480, 40}},
      {"12 with the flag off", wsc_write_block_sub12, 12, false, 1000, {480, 480, 40}},
      {"10, a one-byte tail", wsc_write_block_sub10, 10, true, 501, {500, 1}},
      {"11, shorter than a block", wsc_write_block_sub11, 11, true, 3, {3}},
      {"11 with the flag off", wsc_write_block_sub11, 11, false, 700, {500, 200}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    wsc_cipher_flag = c.flag;
    const auto data = byte_pattern(c.length, 11);
    const auto copy = data;
    c.write(0x40000, data.data(), c.length);
    EXPECT_EQ(data, copy);
    const auto files = command_files();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(files[0].data.size(), c.chunks.size() * kPacketSize);
    const auto packets = sent_packets();
    uint32_t done = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
      SCOPED_TRACE(i);
      auto p = packets[i];
      EXPECT_EQ(p[2], c.sub);
      EXPECT_EQ(le32_at(p, 3), 0x40000 + done);
      EXPECT_EQ(le16_at(p, 7), c.chunks[i]);
      if (c.flag) payload_decrypt(*key, p.data() + 9, 8);
      EXPECT_EQ(std::vector<uint8_t>(p.begin() + 9, p.begin() + 9 + c.chunks[i]),
                std::vector<uint8_t>(data.begin() + done, data.begin() + done + c.chunks[i]));
      done += c.chunks[i];
    }
  }
  device.clear_trace();
  wsc_write_block_sub10(0, nullptr, 0);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].data.empty());
}

// The plain board is known by the first 13 characters of the single-byte device name; every
// other name turns the flag on and keys the cipher.
TEST_F(WscPackets, IdentityDecidesTheFlagFromTheDeviceName) {
  EXPECT_TRUE(wsc_cipher_flag);  // on at program start
  struct Case {
    const char* name;
    bool flag;
  } cases[] = {
      {"WSC_HWRKA_FW400", false}, {"WSC_HWRKA_FW412", false}, {"WSC_HWRKA_FW4", false},
      {"WSC_HWRKA_FW399", true},  {"WSC_HWRKA_FW", true},     {"NES_HWRKA_FW400", true},
      {"wsc_hwrka_fw400", true},  {"", true},
  };
  key_from_device();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    cipher_reset_state();
    std::snprintf(g_link.device_name, sizeof g_link.device_name, "%s", c.name);
    wsc_cipher_flag = !c.flag;
    wsc_identify();
    EXPECT_EQ(wsc_cipher_flag, c.flag);
    EXPECT_EQ(g_cipher.p[0] != 0, c.flag);  // keyed only when the flag goes on
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0][1], 10);
    EXPECT_EQ(packets[0][2], 1);
    EXPECT_TRUE(events(Kind::reply_read).empty());
  }
}

TEST_F(WscPackets, ChipEraseIsSevenWordWrites) {
  wsc_erase_chip();
  const std::vector<std::pair<uint32_t, uint16_t>> expected = {
      {0xF0000, 0xF0}, {0xF0AAA, 0xAA}, {0xF0555, 0x55}, {0xF0AAA, 0x80},
      {0xF0AAA, 0xAA}, {0xF0555, 0x55}, {0xF0AAA, 0x10}};
  const auto files = command_files();
  ASSERT_EQ(files.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    const auto& p = files[i].data;
    EXPECT_EQ(p[2], 7);
    EXPECT_EQ(le32_at(p, 3), expected[i].first) << i;
    EXPECT_EQ(le16_at(p, 9), expected[i].second) << i;
  }
  EXPECT_TRUE(events(Kind::dump_read).empty());
  EXPECT_TRUE(g_pauses.empty());
}

// The sector erase reads at once and after each of up to 51 pauses; the 52nd read is never
// taken as success.
TEST_F(WscPackets, SectorErasePollsAtMost52Times) {
  struct Case {
    const char* name;
    bool erased;
    uint32_t busy_reads;  // reads that still show the erase running
    bool result;
    size_t reads;
  } cases[] = {
      {"erased at once", true, 0, true, 1},
      {"erased at the 51st read", true, 50, true, 51},
      {"erased only at the 52nd read", true, 51, false, 52},
      {"never finishes", false, 1000, false, 52},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    g_pauses.clear();
    cart->erased = c.erased;
    cart->erase_ticks_left = c.busy_reads;
    EXPECT_EQ(wsc_erase_sector(0x30123), c.result);
    const auto dumps = events(Kind::dump_read);
    ASSERT_EQ(dumps.size(), c.reads);
    for (const auto& d : dumps) EXPECT_EQ(d.offset, 0x30000u);
    EXPECT_EQ(g_pauses, std::vector<uint32_t>(c.reads - 1, 100));
    const auto files = command_files();
    ASSERT_EQ(files.size(), 7u);
    EXPECT_EQ(le32_at(files[6].data, 3), 0x30123u);
    EXPECT_EQ(le16_at(files[6].data, 9), 0x30u);
    EXPECT_EQ(le32_at(files[0].data, 3), 0xF0AAAu);
    EXPECT_EQ(le16_at(files[0].data, 9), 0xF0u);
  }
}

}  // namespace
