// The NES command family against the in-process virtual device: packet bytes as the device
// receives them, chunking and address wrap, ciphering, the write list and queue, and round
// trips through a virtual Famicom board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "nes/nes_family.h"
#include "tests/support.h"
#include "virtual_device/nes_boards.h"

namespace {

using Kind = vdev::TraceEvent::Kind;

uint16_t field16(const uint8_t* packet, size_t at) {
  return static_cast<uint16_t>(packet[at] | (packet[at + 1] << 8));
}

class NesFamilyTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    use_virtual_root();
    g_link.protocol_level = 400;
  }

  // Checks one command file as a block write: chunked header fields, the data in plain,
  // zeros everywhere else.
  void expect_block_file(const vdev::TraceEvent& file, uint8_t sub, uint16_t address,
                         const std::vector<uint8_t>& source, uint32_t chunk) const {
    const size_t packets = (source.size() + chunk - 1) / chunk;
    ASSERT_EQ(file.data.size(), packets * kPacketSize);
    for (size_t k = 0; k < packets; ++k) {
      SCOPED_TRACE(k);
      const uint8_t* p = file.data.data() + k * kPacketSize;
      const size_t n = std::min<size_t>(chunk, source.size() - k * chunk);
      EXPECT_EQ(p[0], 'Z');
      EXPECT_EQ(p[1], 14);
      EXPECT_EQ(p[2], sub);
      EXPECT_EQ(p[3], 0);
      EXPECT_EQ(field16(p, 4), static_cast<uint16_t>(address + k * chunk));
      EXPECT_EQ(field16(p, 6), 0);
      EXPECT_EQ(field16(p, 8), n);
      EXPECT_EQ(field16(p, 10), 0);
      EXPECT_EQ(std::vector<uint8_t>(p + 12, p + 12 + n),
                std::vector<uint8_t>(source.begin() + k * chunk, source.begin() + k * chunk + n));
      for (size_t i = 12 + n; i < 510; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
    }
  }
};

// --- Single-packet forms ---------------------------------------------------------------

class NesPacket : public NesFamilyTest {};

TEST_F(NesPacket, CpuByteWriteHasTheDeviceLayout) {
  nes_cpu_write_byte(0xF800, 5);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 1u);
  ASSERT_EQ(files[0].data.size(), kPacketSize);
  const uint8_t* p = files[0].data.data();
  const std::vector<uint8_t> expected{0x0E, 0x05, 0x00, 0x00, 0xF8, 0x00,
                                      0x00, 0x01, 0x00, 0x00, 0x00, 0x05};
  EXPECT_EQ(std::vector<uint8_t>(p + 1, p + 13), expected);
  for (size_t i = 13; i < 510; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
  ASSERT_EQ(device.packets().size(), 1u);
  EXPECT_TRUE(device.packets()[0].accepted);
  EXPECT_TRUE(events(Kind::reply_read).empty());
}

// Each remaining single-packet operation: its exact bytes and whether it reads a reply.
TEST_F(NesPacket, EveryOtherSinglePacketOperation) {
  struct Case {
    const char* name;
    std::function<void()> call;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // besides byte 1 = 14; all others zero
    size_t replies;
  };
  const std::vector<Case> cases = {
      {"prg_flash_write", [] { nes_prg_flash_write(0x8AAA, 0xAA); },
       {{2, 6}, {4, 0xAA}, {5, 0x8A}, {8, 1}, {12, 0xAA}}, 0},
      {"ppu_write_byte", [] { nes_ppu_write_byte(0x1234, 0x56); },
       {{2, 8}, {4, 0x34}, {5, 0x12}, {8, 1}, {12, 0x56}}, 0},
      {"cpu_write_byte_alt", [] { nes_cpu_write_byte_alt(0x5001, 0x07); },
       {{2, 13}, {4, 0x01}, {5, 0x50}, {8, 1}, {12, 0x07}}, 0},
      {"cpu_read_byte", [] { nes_cpu_read_byte(0x4800); }, {{2, 4}, {5, 0x48}, {8, 1}}, 1},
      {"ppu_read_byte", [] { nes_ppu_read_byte(0x1FF0); },
       {{2, 7}, {4, 0xF0}, {5, 0x1F}, {8, 1}}, 1},
      {"program_setup", [] { nes_program_setup(0x8000, 0x8AAA, 0xA555, 0x8AAA); },
       {{2, 11}, {13, 0x80}, {16, 0xAA}, {17, 0x8A}, {20, 0x55}, {21, 0xA5}, {24, 0xAA},
        {25, 0x8A}},
       0},
      {"read_misc_byte", [] { nes_read_misc_byte(); }, {{2, 18}}, 1},
      {"read_misc_byte_short", [] { nes_read_misc_byte_short(); }, {{2, 18}}, 1},
      {"set_byte", [] { nes_set_byte(0x42); }, {{2, 144}, {3, 0x42}}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    const auto files = command_files();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(files[0].data.size(), kPacketSize);
    std::vector<uint8_t> expected(510, 0);
    expected[0] = 'Z';
    expected[1] = 14;
    for (const auto& [at, value] : c.bytes) expected[at] = value;
    EXPECT_EQ(std::vector<uint8_t>(files[0].data.begin(), files[0].data.begin() + 510), expected);
    const auto replies = events(Kind::reply_read);
    ASSERT_EQ(replies.size(), c.replies);
    for (const auto& r : replies) EXPECT_EQ(r.offset, 0u);
  }
  expect_all_accepted();
}

// --- Block writes ----------------------------------------------------------------------

class NesBlockWrite : public NesFamilyTest {};

TEST_F(NesBlockWrite, SplitsAt498AndAt480ForThe29glCommand) {
  g_link.protocol_level = 403;  // plain payloads, so the data can be compared directly
  const auto data = pattern_bytes(499);
  const std::vector<uint8_t> first498(data.begin(), data.begin() + 498);
  const std::vector<uint8_t> first480(data.begin(), data.begin() + 480);
  const std::vector<uint8_t> first481(data.begin(), data.begin() + 481);

  nes_cpu_write_block(0x6000, first498.data(), 498);
  nes_cpu_write_block(0x6000, data.data(), 499);
  nes_prg_program_block_29gl(0x8000, first480.data(), 480);
  nes_prg_program_block_29gl(0x8000, first481.data(), 481);

  const auto files = command_files();
  ASSERT_EQ(files.size(), 4u);
  expect_block_file(files[0], 5, 0x6000, first498, 498);
  expect_block_file(files[1], 5, 0x6000, data, 498);  // second packet: 1 byte at $61F2
  expect_block_file(files[2], 128, 0x8000, first480, 480);
  expect_block_file(files[3], 128, 0x8000, first481, 480);  // second packet: 1 byte at $81E0
  EXPECT_EQ(device.packets().size(), 1u + 2u + 1u + 2u);
  expect_all_accepted();
}

TEST_F(NesBlockWrite, AddressWrapsAt16Bits) {
  const auto data = pattern_bytes(600);
  nes_ppu_write_block(0xFF00, data.data(), 600);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 1u);
  expect_block_file(files[0], 8, 0xFF00, data, 498);
  EXPECT_EQ(field16(files[0].data.data() + kPacketSize, 4), 0x00F2);
}

TEST_F(NesBlockWrite, ZeroLengthSendsAnEmptyCommandFile) {
  const uint8_t unused = 0;
  nes_cpu_write_block(0x6000, &unused, 0);
  nes_prg_program_block(0x8000, &unused, 0);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[0].data.empty());
  EXPECT_TRUE(files[1].data.empty());
  EXPECT_EQ(g_link.command_counter, 2);
}

// Below 403 the block-program commands encipher bytes 12-19 of every packet, short chunks
// with their zero padding; plain block writes and every write at 403 carry plain data.
TEST_F(NesBlockWrite, ProgramBlocksEncipherOneBlockPerPacketBelow403) {
  key_cipher();
  auto context = std::make_unique<CipherContext>();
  blowfish_set_key(*context, device.config().key.data(), 8);
  const std::vector<uint8_t> three{0x11, 0x22, 0x33};
  const auto three_copy = three;

  const std::pair<uint8_t, void (*)(uint16_t, const uint8_t*, uint16_t)> programs[] = {
      {9, nes_prg_program_block}, {10, nes_chr_program_block}, {128, nes_prg_program_block_29gl}};
  for (const auto& [sub, program] : programs) {
    SCOPED_TRACE(static_cast<int>(sub));
    device.clear_trace();
    program(0x8000, three.data(), 3);
    const auto files = command_files();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(files[0].data.size(), kPacketSize);
    const uint8_t* p = files[0].data.data();
    EXPECT_EQ(p[2], sub);
    EXPECT_EQ(field16(p, 8), 3);
    uint8_t block[8] = {0x11, 0x22, 0x33, 0, 0, 0, 0, 0};
    payload_encrypt(*context, block, 8);
    EXPECT_EQ(std::vector<uint8_t>(p + 12, p + 20), std::vector<uint8_t>(block, block + 8));
    for (size_t i = 20; i < 510; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
    EXPECT_EQ(three, three_copy);
  }

  // Several packets: each one's first block enciphered, the rest plain; the source unchanged.
  device.clear_trace();
  const auto data = pattern_bytes(1000, 3);
  const auto data_copy = data;
  nes_prg_program_block(0x8000, data.data(), 1000);
  EXPECT_EQ(data, data_copy);
  auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    // The last packet holds 4 bytes: its block is enciphered with the zero padding.
    const size_t n = std::min<size_t>(498, 1000 - k * 498);
    std::vector<uint8_t> payload(498, 0);
    std::copy_n(data.begin() + k * 498, n, payload.begin());
    payload_encrypt(*context, payload.data(), 8);
    EXPECT_EQ(std::vector<uint8_t>(packets[k].begin() + 12, packets[k].begin() + 510), payload)
        << "packet " << k;
  }
  expect_all_accepted();

  // Plain: sub-command 5 below 403, and the program commands at 403.
  device.clear_trace();
  nes_cpu_write_block(0x6000, three.data(), 3);
  g_link.protocol_level = 403;
  nes_prg_program_block(0x8000, three.data(), 3);
  nes_chr_program_block(0x0000, three.data(), 3);
  nes_prg_program_block_29gl(0x8000, three.data(), 3);
  const auto plain = command_files();
  ASSERT_EQ(plain.size(), 4u);
  expect_block_file(plain[0], 5, 0x6000, three, 498);
  expect_block_file(plain[1], 9, 0x8000, three, 498);
  expect_block_file(plain[2], 10, 0x0000, three, 498);
  expect_block_file(plain[3], 128, 0x8000, three, 480);
}

// --- Block reads -----------------------------------------------------------------------

class NesBlockRead : public NesFamilyTest {};

TEST_F(NesBlockRead, Below403OnePacketAndOneReplyPerChunk) {
  std::vector<uint8_t> buffer(4096);
  nes_cpu_read_block(0x6000, buffer.data(), 2049);
  nes_ppu_read_block(0xF800, buffer.data(), 4096);  // wraps to $0000 for the second chunk

  std::vector<Kind> kinds;
  for (const auto& e : device.trace()) kinds.push_back(e.kind);
  const std::vector<Kind> expected_kinds{Kind::command_file, Kind::reply_read,
                                         Kind::command_file, Kind::reply_read,
                                         Kind::command_file, Kind::reply_read,
                                         Kind::command_file, Kind::reply_read};
  ASSERT_EQ(kinds, expected_kinds);

  const auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 4u);
  const struct {
    uint8_t sub;
    uint16_t address;
    uint16_t count;
  } expected[] = {{4, 0x6000, 2048}, {4, 0x6800, 1}, {7, 0xF800, 2048}, {7, 0x0000, 2048}};
  for (size_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    std::vector<uint8_t> want(510, 0);
    want[0] = 'Z';
    want[1] = 14;
    want[2] = expected[k].sub;
    want[4] = static_cast<uint8_t>(expected[k].address);
    want[5] = static_cast<uint8_t>(expected[k].address >> 8);
    want[8] = static_cast<uint8_t>(expected[k].count);
    want[9] = static_cast<uint8_t>(expected[k].count >> 8);
    EXPECT_EQ(std::vector<uint8_t>(packets[k].begin(), packets[k].begin() + 510), want);
  }
  const auto replies = events(Kind::reply_read);
  for (const auto& r : replies) EXPECT_EQ(r.offset, 0u);
  // A one-byte chunk is fetched as a whole reply block.
  EXPECT_EQ(replies[0].count, 2048u);
  EXPECT_EQ(replies[1].count, kReplyBlock);
  EXPECT_TRUE(events(Kind::dump_read).empty());
  expect_all_accepted();
}

TEST_F(NesBlockRead, At403ReadsTheWindowAtTheBusAddressWithoutACommand) {
  g_link.protocol_level = 403;
  std::vector<uint8_t> buffer(4096, 0xA5);
  nes_cpu_read_block(0x6000, buffer.data(), 4096);
  nes_ppu_read_block(0x0400, buffer.data(), 1024);
  const auto dumps = events(Kind::dump_read);
  ASSERT_EQ(dumps.size(), 2u);
  EXPECT_EQ(dumps[0].offset, 0x6000u);
  EXPECT_EQ(dumps[0].count, 4096u);
  EXPECT_EQ(dumps[1].offset, 0x0400u);
  EXPECT_EQ(dumps[1].count, 1024u);

  // 2049 bytes is no whole number of sectors: the window read still delivers the cartridge's
  // bytes, and still no command goes out.
  vdev::F90Contents contents;
  for (uint32_t i = 0; i < 0x8000; ++i) contents.prg.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
  device.insert_nes(std::make_unique<vdev::F90Board>(contents));
  device.clear_trace();
  std::vector<uint8_t> odd(2049, 0xA5);
  nes_cpu_read_block(0x8001, odd.data(), 2049);
  EXPECT_TRUE(std::equal(odd.begin(), odd.end(), contents.prg.begin() + 1));
  EXPECT_TRUE(command_files().empty());
  EXPECT_TRUE(events(Kind::reply_read).empty());
}

// --- Write list ------------------------------------------------------------------------

class NesWriteList : public NesFamilyTest {};

TEST_F(NesWriteList, CutsTo124EntriesAndRepeatsTheListWithEveryChunk) {
  g_link.protocol_level = 403;  // the list reads through the reply file at every level
  std::vector<uint16_t> addresses(200);
  std::vector<uint8_t> values(200);
  for (size_t i = 0; i < 200; ++i) {
    addresses[i] = static_cast<uint16_t>(0x8000 + i * 0x101);
    values[i] = static_cast<uint8_t>(i + 1);
  }
  std::vector<uint8_t> buffer(2049);
  nes_write_list_read(0xFF00, buffer.data(), 2049, addresses.data(), values.data(), 200);

  const auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 2u);
  const uint16_t chunk_address[] = {0xFF00, 0x0700};
  const uint16_t chunk_count[] = {2048, 1};
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const uint8_t* p = packets[k].data();
    EXPECT_EQ(p[2], 19);
    EXPECT_EQ(p[3], 124);
    EXPECT_EQ(field16(p, 4), chunk_address[k]);
    EXPECT_EQ(field16(p, 8), chunk_count[k]);
    for (size_t i = 0; i < 124; ++i) {
      ASSERT_EQ(field16(p, 12 + 4 * i), addresses[i]) << i;
      ASSERT_EQ(p[14 + 4 * i], values[i]) << i;
      ASSERT_EQ(p[15 + 4 * i], 0) << i;
    }
    EXPECT_EQ(p[508], 0);
    EXPECT_EQ(p[509], 0);
  }
  EXPECT_EQ(events(Kind::reply_read).size(), 2u);
  EXPECT_TRUE(events(Kind::dump_read).empty());
  expect_all_accepted();
}

TEST_F(NesWriteList, ZeroLengthSendsTheWritesAloneAndReadsNothing) {
  const uint16_t addresses[] = {0x8000, 0xA001};
  const uint8_t values[] = {0x06, 0x80};
  nes_write_list_read(0x6000, nullptr, 0, addresses, values, 2);
  const auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 1u);
  std::vector<uint8_t> want(510, 0);
  want[0] = 'Z';
  want[1] = 14;
  want[2] = 19;
  want[3] = 2;
  want[8] = 1;
  const uint8_t entries[] = {0x00, 0x80, 0x06, 0x00, 0x01, 0xA0, 0x80, 0x00};
  std::memcpy(want.data() + 12, entries, sizeof entries);
  EXPECT_EQ(std::vector<uint8_t>(packets[0].begin(), packets[0].begin() + 510), want);
  EXPECT_TRUE(events(Kind::reply_read).empty());
}

// --- Write queue -----------------------------------------------------------------------

class NesQueue : public NesFamilyTest {
 protected:
  void queue_pairs(size_t count, uint16_t base = 0x8000) {
    for (size_t i = 0; i < count; ++i) {
      nes_queue_write(static_cast<uint16_t>(base + i), static_cast<uint8_t>(i));
    }
  }
  // Checks that the packets are single writes of sub-command `sub` for the first `count`
  // pairs queued by queue_pairs.
  void expect_single_writes(const std::vector<std::vector<uint8_t>>& packets, size_t first,
                            size_t count, uint8_t sub, uint16_t base = 0x8000) {
    ASSERT_GE(packets.size(), first + count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* p = packets[first + i].data();
      ASSERT_EQ(p[2], sub) << i;
      ASSERT_EQ(field16(p, 4), static_cast<uint16_t>(base + i)) << i;
      ASSERT_EQ(field16(p, 8), 1) << i;
      ASSERT_EQ(p[12], static_cast<uint8_t>(i)) << i;
    }
  }
};

TEST_F(NesQueue, ModeTwoOrMoreIsTakenOnlyFromModeZero) {
  nes_set_queue_mode(1);
  EXPECT_EQ(queue_mode, 1);
  nes_set_queue_mode(2);
  EXPECT_EQ(queue_mode, 1);
  nes_set_queue_mode(0);
  EXPECT_EQ(queue_mode, 0);
  nes_set_queue_mode(2);
  EXPECT_EQ(queue_mode, 2);
  nes_set_queue_mode(3);
  EXPECT_EQ(queue_mode, 2);
  nes_set_queue_mode(1);
  EXPECT_EQ(queue_mode, 1);
  EXPECT_TRUE(command_files().empty());
}

TEST_F(NesQueue, FlushSendsOnlyInModeZero) {
  for (uint8_t mode : {1, 2}) {
    SCOPED_TRACE(static_cast<int>(mode));
    nes_set_queue_mode(0);
    nes_set_queue_mode(mode);
    queue_pairs(3);
    nes_flush_queue();
    EXPECT_TRUE(command_files().empty());
    EXPECT_EQ(queue_count, 3);
    queue_count = 0;
  }

  // Mode 0 below 403: one sub-command 5 packet per pair, in order.
  nes_set_queue_mode(0);
  queue_pairs(3);
  nes_flush_queue();
  EXPECT_EQ(queue_count, 0);
  auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 3u);
  expect_single_writes(packets, 0, 3, 5);

  // At 403: one write list, writes only.
  device.clear_trace();
  g_link.protocol_level = 403;
  queue_pairs(3);
  nes_flush_queue();
  EXPECT_EQ(queue_count, 0);
  packets = sent_packets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0][2], 19);
  EXPECT_EQ(packets[0][3], 3);
  EXPECT_EQ(field16(packets[0].data(), 8), 1);
  EXPECT_EQ(field16(packets[0].data(), 12 + 8), 0x8002);
  EXPECT_TRUE(events(Kind::reply_read).empty());
}

TEST_F(NesQueue, FullQueueInModeZeroFlushesThenHoldsTheNewPair) {
  queue_pairs(124);
  EXPECT_TRUE(command_files().empty());
  nes_queue_write(0x5000, 0x99);
  expect_single_writes(sent_packets(), 0, 124, 5);
  EXPECT_EQ(sent_packets().size(), 124u);
  EXPECT_EQ(queue_count, 1);
  EXPECT_EQ(queue_addresses[0], 0x5000);
  EXPECT_EQ(queue_values[0], 0x99);

  device.clear_trace();
  g_link.protocol_level = 403;
  queue_count = 0;
  queue_pairs(125);
  const auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0][2], 19);
  EXPECT_EQ(packets[0][3], 124);
  EXPECT_EQ(queue_count, 1);
  EXPECT_EQ(queue_addresses[0], 0x8000 + 124);
}

// Modes 1 and 2 keep their writes for the next queued read, so a full queue is delivered
// with the mode's single writes (at any level) before the new pair takes the first place.
TEST_F(NesQueue, FullQueueInModesOneAndTwoSendsTheModesSingleWrites) {
  g_link.protocol_level = 403;
  const std::pair<uint8_t, uint8_t> modes[] = {{1, 5}, {2, 13}};
  for (const auto& [mode, sub] : modes) {
    SCOPED_TRACE(static_cast<int>(mode));
    device.clear_trace();
    nes_set_queue_mode(0);
    nes_set_queue_mode(mode);
    queue_pairs(124);
    EXPECT_TRUE(command_files().empty());
    queue_pairs(2, 0x5000);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 124u);
    expect_single_writes(packets, 0, 124, sub);
    EXPECT_EQ(queue_count, 2);
    EXPECT_EQ(queue_addresses[0], 0x5000);
    EXPECT_EQ(queue_addresses[1], 0x5001);
    EXPECT_EQ(queue_values[1], 1);
    queue_count = 0;
  }
  expect_all_accepted();
}

TEST_F(NesQueue, QueuedReadsDeliverTheWritesAsTheModeAndLevelSay) {
  std::vector<uint8_t> buffer(1024);

  // Mode 0: a plain read; the queue stays.
  queue_pairs(2);
  nes_queued_cpu_read_block(0x6000, buffer.data(), 1024);
  auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0][2], 4);
  EXPECT_EQ(queue_count, 2);
  queue_count = 0;

  // Mode 2 below 403: sub-command 13 writes, then the read of the PPU bus.
  device.clear_trace();
  nes_set_queue_mode(2);
  queue_pairs(2);
  nes_queued_ppu_read_block(0x0000, buffer.data(), 1024);
  packets = sent_packets();
  ASSERT_EQ(packets.size(), 3u);
  expect_single_writes(packets, 0, 2, 13);
  EXPECT_EQ(packets[2][2], 7);
  EXPECT_EQ(queue_count, 0);

  // Mode 1 below 403: sub-command 5 writes.
  device.clear_trace();
  nes_set_queue_mode(1);
  queue_pairs(1);
  nes_queued_cpu_read_block(0x6000, buffer.data(), 1024);
  packets = sent_packets();
  ASSERT_EQ(packets.size(), 2u);
  expect_single_writes(packets, 0, 1, 5);
  EXPECT_EQ(packets[1][2], 4);

  // At 403 both buses send the writes as the list of one sub-command 19 read.
  g_link.protocol_level = 403;
  for (auto read : {nes_queued_cpu_read_block, nes_queued_ppu_read_block}) {
    device.clear_trace();
    queue_pairs(3);
    read(0x6000, buffer.data(), 1024);
    packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0][2], 19);
    EXPECT_EQ(packets[0][3], 3);
    EXPECT_EQ(field16(packets[0].data(), 4), 0x6000);
    EXPECT_EQ(field16(packets[0].data(), 8), 1024);
    EXPECT_EQ(queue_count, 0);
    EXPECT_TRUE(events(Kind::dump_read).empty());
  }
}

TEST_F(NesQueue, FlashAndPpuFlushesSendInAnyMode) {
  g_link.protocol_level = 403;
  nes_set_queue_mode(2);
  queue_pairs(3);
  nes_flush_queue_prg_flash();
  EXPECT_EQ(queue_count, 0);
  queue_pairs(2);
  nes_flush_queue_ppu();
  EXPECT_EQ(queue_count, 0);
  const auto packets = sent_packets();
  ASSERT_EQ(packets.size(), 5u);
  expect_single_writes(packets, 0, 3, 6);
  expect_single_writes(packets, 3, 2, 8);
}

// --- Round trips through a virtual board -----------------------------------------------

// Work RAM on the CPU bus and CHR RAM on the PPU bus, nothing else.
class RamBoard : public vdev::PartsBoard {
 public:
  RamBoard() {
    cpu_.map(0x6000, 0x7FFF, work_ram);
    ppu_.map(0x0000, 0x1FFF, chr_ram);
  }
  vdev::Memory work_ram{0x2000, 0x00, true};
  vdev::Memory chr_ram{0x2000, 0x00, true};
};

class NesRoundTrip : public NesFamilyTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override {
    NesFamilyTest::SetUp();
    // Firmware and tool agree on the level, as after identify_device.
    device.config().firmware = GetParam();
    g_link.protocol_level = GetParam();
    key_cipher();
  }
};

// Lengths are whole kilobytes so that the window reads at 403 deliver.
TEST_P(NesRoundTrip, CpuBlockWriteAndProgramReadBackFromWorkRam) {
  device.insert_nes(std::make_unique<vdev::F90Board>());
  auto* board = static_cast<vdev::F90Board*>(device.nes());
  const auto written = pattern_bytes(4096, 1);
  const auto programmed = pattern_bytes(4096, 77);

  nes_cpu_write_block(0x6000, written.data(), 4096);
  nes_program_setup(0x8000, 0x8AAA, 0xA555, 0x8AAA);
  nes_prg_program_block(0x7000, programmed.data(), 4096);
  expect_all_accepted();
  EXPECT_EQ(std::vector<uint8_t>(board->work_ram().begin(), board->work_ram().begin() + 4096),
            written);
  EXPECT_EQ(std::vector<uint8_t>(board->work_ram().begin() + 0x1000, board->work_ram().end()),
            programmed);

  std::vector<uint8_t> back(0x2000);
  nes_cpu_read_block(0x6000, back.data(), 0x2000);
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 4096), written);
  EXPECT_EQ(std::vector<uint8_t>(back.begin() + 4096, back.end()), programmed);
  EXPECT_EQ(nes_cpu_read_byte(0x6005), written[5]);
}

TEST_P(NesRoundTrip, PpuBlockWriteAndChrProgramReadBackFromChrRam) {
  device.insert_nes(std::make_unique<RamBoard>());
  auto* board = static_cast<RamBoard*>(device.nes());
  const auto written = pattern_bytes(3072, 5);
  const auto programmed = pattern_bytes(1024, 200);

  // No program setup: its unlock cycles would land in this board's CHR RAM.
  nes_ppu_write_block(0x0000, written.data(), 3072);
  nes_chr_program_block(0x1000, programmed.data(), 1024);
  expect_all_accepted();
  EXPECT_EQ(std::vector<uint8_t>(board->chr_ram.bytes().begin() + 0x1000,
                                 board->chr_ram.bytes().begin() + 0x1400),
            programmed);

  std::vector<uint8_t> back(3072);
  nes_ppu_read_block(0x0000, back.data(), 3072);
  EXPECT_EQ(back, written);
  nes_ppu_read_block(0x1000, back.data(), 1024);
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 1024), programmed);
  EXPECT_EQ(nes_ppu_read_byte(0x0801), written[0x801]);
}

INSTANTIATE_TEST_SUITE_P(NesLevels, NesRoundTrip, ::testing::Values(400, 403),
                         [](const auto& info) { return "Level" + std::to_string(info.param); });

}  // namespace
