// Family 2 against the in-process device: the system packet before the start, the 8192 cut
// of block reads, write runs of 480 with the address carried, the enciphered write with a
// short last run, the 126 cut of the write list, and round trips through the family 2
// cartridge.
#include <functional>

#include "families/fam2.h"
#include "tests/fams_support.h"

namespace {

class Fam2Test : public FamilyTest {
 protected:
  vdev::Fam2Cartridge& insert_cartridge() {
    return insert(
        std::make_unique<vdev::Fam2Cartridge>(vdev::pattern_memory(vdev::Fam2Cartridge::kSize)));
  }
};

TEST_F(Fam2Test, StartSendsTheSystemPacketFirstAsItsOwnFile) {
  fam2_start();
  const auto files = command_files();
  ASSERT_EQ(files.size(), 2u);
  ASSERT_EQ(files[0].data.size(), kPacketSize);
  ASSERT_EQ(files[1].data.size(), kPacketSize);
  const auto packets = sent_packets();
  EXPECT_EQ(packets[0], packet_bytes(240, {{2, 2}}));
  EXPECT_EQ(packets[1], packet_bytes(2, {{2, 1}}));
  expect_all_accepted();
}

TEST_F(Fam2Test, SinglePacketOperations) {
  Bytes buffer(10000);
  const struct {
    const char* name;
    std::function<void()> call;
    std::vector<std::pair<size_t, uint8_t>> bytes;
    uint32_t reply_count;  // 0: no reply read
  } cases[] = {
      {"read_byte", [] { fam2_read_byte(0x1234); }, {{2, 11}, {3, 0x34}, {4, 0x12}}, 1024},
      {"write_byte", [] { fam2_write_byte(0xBEEF, 0x5A); },
       {{2, 13}, {3, 0xEF}, {4, 0xBE}, {5, 0x5A}}, 0},
      {"read_block 10000", [&] { EXPECT_EQ(fam2_read_block(0x8000, buffer.data(), 10000), 8192u); },
       {{2, 10}, {4, 0x80}, {6, 0x20}}, 8192},
      {"read_block 8192", [&] { fam2_read_block(0x0001, buffer.data(), 8192); },
       {{2, 10}, {3, 0x01}, {6, 0x20}}, 8192},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], packet_bytes(2, c.bytes));
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(replies.size(), c.reply_count ? 1u : 0u);
    if (c.reply_count) {
      EXPECT_EQ(replies[0].count, c.reply_count);
    }
  }
}

TEST_F(Fam2Test, BlockWritesRunAt480AndTheEncipheredOneLeavesTheSourceAlone) {
  key_cipher();
  auto context = std::make_unique<CipherContext>();
  blowfish_set_key(*context, device.config().key.data(), 8);
  const Bytes data = pattern_bytes(960, 3);
  struct Run {
    uint16_t address;
    size_t from, length;
  };
  const struct {
    const char* name;
    bool enciphered;
    uint16_t address;
    size_t length;
    std::vector<Run> runs;
  } cases[] = {
      {"960", false, 0x8000, 960, {{0x8000, 0, 480}, {0x81E0, 480, 480}}},
      {"wraps", false, 0xFF00, 481, {{0xFF00, 0, 480}, {0x00E0, 480, 1}}},
      {"empty", false, 0x8000, 0, {}},
      {"enciphered", true, 0x4000, 960, {{0x4000, 0, 480}, {0x41E0, 480, 480}}},
      {"enciphered, short last run", true, 0x4000, 485, {{0x4000, 0, 480}, {0x41E0, 480, 5}}},
      {"enciphered 3", true, 0x4000, 3, {{0x4000, 0, 3}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    // Exactly the caller's bytes, so that a read past the end shows under the sanitizers.
    const Bytes source(data.begin(), data.begin() + c.length);
    const Bytes before = source;
    if (c.enciphered) {
      EXPECT_EQ(fam2_write_block_enciphered(c.address, source.data(), uint32_t(c.length)),
                c.runs.size() * kPacketSize);
    } else {
      fam2_write_block(c.address, source.data(), uint32_t(c.length));
    }
    EXPECT_EQ(source, before);
    ASSERT_EQ(command_files().size(), 1u);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.runs.size());
    for (size_t k = 0; k < c.runs.size(); ++k) {
      const Run& r = c.runs[k];
      std::vector<std::pair<size_t, uint8_t>> set{
          {2, c.enciphered ? 15 : 12}, {3, uint8_t(r.address)}, {4, uint8_t(r.address >> 8)},
          {5, uint8_t(r.length)},      {6, uint8_t(r.length >> 8)}};
      Bytes payload(480, 0);
      std::copy_n(source.begin() + r.from, r.length, payload.begin());
      if (c.enciphered) payload_encrypt(*context, payload.data(), 8);
      for (size_t i = 0; i < payload.size(); ++i) {
        if (payload[i]) set.push_back({7 + i, payload[i]});
      }
      EXPECT_EQ(packets[k], packet_bytes(2, set)) << "packet " << k;
    }
  }
}

TEST_F(Fam2Test, WriteListCutsAt126WithAZeroFourthByte) {
  std::vector<uint16_t> addresses(200);
  Bytes values(200);
  for (size_t i = 0; i < 200; ++i) {
    addresses[i] = uint16_t(0xA000 + 0x101 * i);
    values[i] = uint8_t(0xFF - i);
  }
  for (const uint8_t count : {uint8_t{1}, uint8_t{126}, uint8_t{200}}) {
    SCOPED_TRACE(static_cast<int>(count));
    device.clear_trace();
    fam2_write_list(count, addresses.data(), values.data());
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    const size_t n = std::min<size_t>(count, 126);
    std::vector<std::pair<size_t, uint8_t>> set{{2, 19}, {3, uint8_t(n)}};
    for (size_t i = 0; i < n; ++i) {
      set.push_back({4 + 4 * i, uint8_t(addresses[i])});
      set.push_back({5 + 4 * i, uint8_t(addresses[i] >> 8)});
      set.push_back({6 + 4 * i, values[i]});
    }
    EXPECT_EQ(packets[0], packet_bytes(2, set));
  }
}

TEST_F(Fam2Test, WhatIsWrittenReadsBack) {
  insert_cartridge();
  key_cipher();
  fam2_start();
  const Bytes block = pattern_bytes(1000, 4);
  fam2_write_block(0x1000, block.data(), 1000);
  fam2_write_block_enciphered(0x2000, block.data(), 1000);
  fam2_write_block_enciphered(0x3000, block.data(), 5);
  const uint16_t list_addresses[] = {0x4000, 0xFFFF};
  const uint8_t list_values[] = {0x11, 0x22};
  fam2_write_list(2, list_addresses, list_values);
  fam2_write_byte(0x4001, 0x33);

  Bytes got(1000);
  EXPECT_EQ(fam2_read_block(0x1000, got.data(), 1000), 1000u);
  EXPECT_EQ(got, block);
  got.assign(1024, 0);
  fam2_read_window(0x2000, got.data(), 1024);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 1000), block);
  fam2_read_block(0x3000, got.data(), 5);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 5), Bytes(block.begin(), block.begin() + 5));
  EXPECT_EQ(fam2_read_byte(0x4000), 0x11);
  EXPECT_EQ(fam2_read_byte(0xFFFF), 0x22);
  EXPECT_EQ(fam2_read_byte(0x4001), 0x33);
  expect_all_accepted();
}

}  // namespace
