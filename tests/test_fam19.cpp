// Family 19 against the in-process device: word addresses of the writes, the two byte orders
// of a word, the window or chunked reads, the enciphered writes and the blank-run skip, and
// round trips through the family 19 cartridge.
#include <functional>

#include "families/fam19.h"
#include "tests/fams_support.h"

namespace {

class Fam19Test : public FamilyTest {
 protected:
  vdev::Fam19Cartridge& insert_cartridge() {
    return insert(std::make_unique<vdev::Fam19Cartridge>(vdev::pattern_memory(vdev::kFam19Size)));
  }
  // A sub-`sub` header with a 32-bit address in bytes 3-6 and a length in bytes 7-8.
  static std::vector<std::pair<size_t, uint8_t>> header(uint8_t sub, uint32_t address,
                                                        uint16_t length) {
    return {{2, sub}, {3, uint8_t(address)}, {4, uint8_t(address >> 8)},
            {5, uint8_t(address >> 16)}, {6, uint8_t(address >> 24)}, {7, uint8_t(length)},
            {8, uint8_t(length >> 8)}};
  }
};

TEST_F(Fam19Test, SinglePacketOperationsAndWordByteOrders) {
  const struct {
    const char* name;
    std::function<void()> call;
    std::vector<std::pair<size_t, uint8_t>> bytes;
  } cases[] = {
      {"start", [] { fam19_start(); }, {{2, 1}}},
      {"read_word", [] { fam19_read_word(0x89123456); }, header(3, 0x89123456, 2)},
      {"write_word", [] { fam19_write_word(0x800, 0xABCD); }, header(5, 0x800, 2)},
      {"write_word_le", [] { fam19_write_word_le(0x801, 0xABCD); }, header(6, 0x801, 2)},
  };
  const Bytes data_bytes[] = {{}, {}, {0xAB, 0xCD}, {0xCD, 0xAB}};
  for (size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].name);
    device.clear_trace();
    cases[k].call();
    auto bytes = cases[k].bytes;
    for (size_t i = 0; i < data_bytes[k].size(); ++i) bytes.push_back({9 + i, data_bytes[k][i]});
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], packet_bytes(19, bytes));
  }
}

TEST_F(Fam19Test, ReadBlockUsesTheWindowOnlyAtWholeKilobytes) {
  const struct {
    uint32_t address, length;
    bool window;
    size_t packets;
  } cases[] = {
      {0x200000, 0x10000, true, 0},  {0x200002, 0x10000, false, 32},
      {0x000400, 1000, false, 1},    {0x000400, 4097, false, 3},
      {0x7FFFFC00, 0x800, false, 1}, {0x000000, 0, true, 0},
      // The last window read ends exactly at 2^31, the end of the file offsets.
      {0x7FFFFC00, 0x400, true, 0},  {0x7FFF0000, 0x10000, true, 0},
      {0x7FFFFC00, 0xC00, false, 2}, {0x80000000, 0x400, false, 1},
  };
  Bytes buffer(0x10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    fam19_read_block(c.address, buffer.data(), c.length);
    const auto dumps = events(Kind::dump_read);
    ASSERT_EQ(dumps.size(), c.window && c.length ? 1u : 0u);
    if (!dumps.empty()) {
      EXPECT_EQ(dumps[0].offset, c.address);
      EXPECT_EQ(dumps[0].count, c.length);
    }
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.packets);
    for (size_t k = 0; k < c.packets; ++k) {
      const uint32_t n = std::min<uint32_t>(2048, c.length - 2048 * k);
      EXPECT_EQ(packets[k], packet_bytes(19, header(3, c.address + 2048 * k, uint16_t(n))));
    }
  }
}

TEST_F(Fam19Test, BlockWritesAdvanceTheWordAddressAndEncipherEachPacket) {
  key_cipher();
  fam19_prepare_cipher();
  auto context = std::make_unique<CipherContext>();
  blowfish_set_key(*context, device.config().key.data(), 8);
  Bytes blank_middle = pattern_bytes(1440);
  std::fill(blank_middle.begin() + 480, blank_middle.begin() + 960, 0xFF);
  const Bytes data = pattern_bytes(1001, 5);
  const Bytes all_blank(960, 0xFF);
  const Bytes odd = pattern_bytes(5);
  struct Run {
    uint32_t word_address;
    size_t from, length;
  };
  const struct {
    const char* name;
    std::function<void()> call;
    uint8_t sub;
    const Bytes& source;
    std::vector<Run> runs;
  } cases[] = {
      {"plain", [&] { fam19_write_block(0x100, data.data(), 1001); }, 5, data,
       {{0x100, 0, 500}, {0x1FA, 500, 500}, {0x2F4, 1000, 1}}},
      {"enciphered", [&] { fam19_write_block_enciphered(0x1000, data.data(), 1000); }, 7, data,
       {{0x800, 0, 500}, {0x8FA, 500, 500}}},
      {"enciphered short", [&] { fam19_write_block_enciphered(0x11, odd.data(), 5); }, 7, odd,
       {{0x8, 0, 5}}},
      {"skip blank", [&] { fam19_write_block_skip_blank(0x2000, blank_middle.data(), 1440); }, 8,
       blank_middle, {{0x1000, 0, 480}, {0x1000 + 480, 960, 480}}},
      {"all blank", [&] { fam19_write_block_skip_blank(0x2000, all_blank.data(), 960); }, 8,
       all_blank, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    const Bytes before = c.source;
    c.call();
    EXPECT_EQ(c.source, before);
    ASSERT_EQ(command_files().size(), 1u);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.runs.size());
    for (size_t k = 0; k < c.runs.size(); ++k) {
      const Run& r = c.runs[k];
      auto set = header(c.sub, r.word_address, uint16_t(r.length));
      Bytes payload(500, 0);
      std::copy_n(c.source.begin() + r.from, r.length, payload.begin());
      if (c.sub != 5) payload_encrypt(*context, payload.data(), 8);
      for (size_t i = 0; i < payload.size(); ++i) {
        if (payload[i]) set.push_back({9 + i, payload[i]});
      }
      EXPECT_EQ(packets[k], packet_bytes(19, set)) << "packet " << k;
    }
  }
}

TEST_F(Fam19Test, WordListIsOnePacketPerWordInOneFile) {
  const uint32_t addresses[] = {0x10, 0x20, 0x7FFFFF};
  const uint16_t values[] = {0x1234, 0xBEEF, 0x00FF};
  fam19_write_word_list(addresses, values, 3);
  ASSERT_EQ(command_files().size(), 1u);
  const auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    auto set = header(5, addresses[k], 2);
    set.push_back({9, uint8_t(values[k] >> 8)});
    set.push_back({10, uint8_t(values[k])});
    EXPECT_EQ(packets[k], packet_bytes(19, set));
  }
}

TEST_F(Fam19Test, WhatIsWrittenReadsBack) {
  insert_cartridge();
  key_cipher();
  fam19_prepare_cipher();
  const Bytes block = pattern_bytes(1200, 1);
  fam19_write_block(0x10000 / 2, block.data(), 1200);
  fam19_write_block_enciphered(0x20000, block.data(), 1200);
  Bytes skip = pattern_bytes(1440, 2);
  std::fill(skip.begin() + 480, skip.begin() + 960, 0xFF);
  Bytes before_skip(1440);
  fam19_read_block(0x30000, before_skip.data(), 1440);
  fam19_write_block_skip_blank(0x30000, skip.data(), 1440);
  fam19_write_word(0x40000 / 2, 0xABCD);
  fam19_write_word_le(0x40002 / 2, 0xABCD);
  const uint32_t list_addresses[] = {0x40004 / 2};
  const uint16_t list_values[] = {0x1357};
  fam19_write_word_list(list_addresses, list_values, 1);

  Bytes got(1200);
  fam19_read_block(0x10000, got.data(), 1200);  // by command
  EXPECT_EQ(got, block);
  got.assign(2048, 0);
  fam19_read_block(0x20000, got.data(), 2048);  // through the window
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 1200), block);
  got.assign(1440, 0);
  fam19_read_block(0x30000, got.data(), 1440);
  Bytes expected = skip;  // the blank run was never sent: the old bytes stay
  std::copy_n(before_skip.begin() + 480, 480, expected.begin() + 480);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(fam19_read_word(0x40000), 0xABCD);
  EXPECT_EQ(fam19_read_word(0x40002), 0xABCD);
  EXPECT_EQ(fam19_read_word(0x40004), 0x1357);
  EXPECT_EQ(fam19_read_word(0x40001), 0xCDAB);  // byte addressed: the next word's high byte
  expect_all_accepted();
}

// fam19_prepare_cipher alone keys the cipher from the device's key data, replacing whatever key
// was there, so that both enciphered writes arrive as the caller's bytes.
TEST_F(Fam19Test, PrepareCipherKeysFromTheDeviceKeyData) {
  insert_cartridge();
  std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
  const uint8_t other_key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes block = pattern_bytes(600, 3);
  const struct {
    const char* name;
    std::function<void()> earlier;  // the key state before fam19_prepare_cipher
  } cases[] = {
      {"no key yet", [] { cipher_reset_state(); }},
      {"another key", [&] { cipher_set_key(other_key, 8); }},
  };
  uint32_t address = 0x50000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.earlier();
    fam19_prepare_cipher();
    fam19_write_block_enciphered(address, block.data(), 600);
    fam19_write_block_skip_blank(address + 0x1000, block.data(), 600);
    Bytes got(600);
    fam19_read_block(address, got.data(), 600);
    EXPECT_EQ(got, block);
    fam19_read_block(address + 0x1000, got.data(), 600);
    EXPECT_EQ(got, block);
    address += 0x10000;
  }
}

}  // namespace
