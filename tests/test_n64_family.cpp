// The N64 operation table and sub-commands 1 to 9, by what reaches the device: the binding
// per identity text, packet layouts and byte order, chunking, window bounds and erase
// sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "link/cipher.h"
#include "tests/n64_support.h"

namespace n64_test {
namespace {

// What a bound table sends, seen from the device.
struct Binding {
  const char* identity;
  uint32_t firmware;
  bool address_packet;  // n64_set_address sends sub-command 2
  bool windowed;        // ROM reads come from "DUMP.ROM"
  bool ciphered;        // sub-commands 5 and 7 carry exchanged, enciphered chunks
  bool addressed;       // page entries use the addressed formats
  uint32_t read_chunk;
};

// Padded to whole pairs and one cipher block, exchanged, first block enciphered: how the
// device expects a ciphered chunk.
std::vector<uint8_t> ciphered_chunk(const std::vector<uint8_t>& chunk, const uint8_t* key) {
  std::vector<uint8_t> out(chunk);
  out.resize(std::max<size_t>((chunk.size() + 1) & ~size_t{1}, 8), 0);
  for (size_t k = 0; k + 1 < out.size(); k += 2) std::swap(out[k], out[k + 1]);
  CipherContext context{};
  blowfish_set_key(context, key, 8);
  payload_encrypt(context, out.data(), 8);
  return out;
}

class N64Binding : public N64Test {};

TEST_F(N64Binding, EachIdentityBindsItsColumn) {
  const std::vector<Binding> cases = {
      {"N64_HWRKB_FW320", 320, false, true, true, false, 8192},
      {"N64_HWRKB_FW319", 319, true, false, true, false, 8192},
      {"N64_HWRKB_FW400", 400, false, true, false, true, 8192},
      {"N64_HWRKB_FW399", 399, false, true, true, false, 8192},
      {"N64_HWRKB_FW", 0, true, false, true, false, 8192},
      {"N64_HWRKB_FW-5", 0xFFFFFFFB, false, true, false, true, 8192},
      {"N64_Q3XX_FW100", 400, false, true, false, true, 8192},
      {"N64_Q3V6_FW400", 400, false, true, false, true, 2048},
      {"N64_Q3V6", 400, false, true, false, true, 2048},
      {"N64_Q3", 400, false, true, false, true, 8192},
      {"N64_HWRKA_FW320", 0, true, false, false, false, 8192},
      {"SFC_HWRKA_FW400", 0, true, false, false, false, 8192},
  };
  const auto data = pattern(16, 0x40);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    reset_link();
    identify_as(c.identity);
    EXPECT_EQ(g_n64_firmware, c.firmware);
    EXPECT_EQ(g_n64_read_chunk, c.read_chunk);

    n64_set_address(0x10000040);
    auto sent = sent_packets();
    ASSERT_EQ(sent.size(), c.address_packet ? 1u : 0u);
    if (c.address_packet) {
      EXPECT_EQ(sent[0][2], kN64SubSetAddress);
      EXPECT_EQ(le32(sent[0].data() + 3), 0x10000040u);
    }

    device.clear_trace();
    std::vector<uint8_t> rom(16);
    n64_read_block(0x10000200, rom.data(), 16);
    EXPECT_EQ(trace_shape(), c.windowed ? "D" : "CR");

    // The read chunk shows on a packet read below the window.
    device.clear_trace();
    std::vector<uint8_t> low(10000);
    n64_read_block(0, low.data(), 10000);
    sent = sent_packets();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(le16(sent[0].data() + 7), c.read_chunk);

    for (uint8_t sub : {kN64SubWrite5, kN64SubWrite7}) {
      device.clear_trace();
      if (sub == kN64SubWrite5) n64_write_block_sub5(0x10000000, data.data(), 16);
      if (sub == kN64SubWrite7) n64_write_block_sub7(0x10000000, data.data(), 16);
      sent = sent_packets();
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(sent[0][2], sub);
      const auto expected = c.ciphered ? ciphered_chunk(data, device.config().key.data()) : data;
      EXPECT_EQ(slice(sent[0], 9, 25), expected);
    }

    device.clear_trace();
    std::vector<uint8_t> page(512);
    n64_read_page(0x600, page.data(), 128);
    sent = sent_packets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][2], kN64SubPageRead);
    EXPECT_EQ(sent[0][8], c.addressed ? 128 : 3);
    EXPECT_EQ(le32(sent[0].data() + 4), c.addressed ? 0x600u : 0u);
  }
}

TEST_F(N64Binding, CipheredBindingKeysTheCipherFromTheDeviceData) {
  identify_as("N64_HWRKB_FW400");
  EXPECT_EQ(g_cipher.p[0], 0u);  // plain writes leave the cipher alone
  identify_as("N64_HWRKB_FW320");
  CipherContext expected{};
  blowfish_set_key(expected, device.config().key.data(), 8);
  EXPECT_EQ(std::memcmp(&g_cipher, &expected, sizeof expected), 0);
}

TEST_F(N64Binding, NewerFirmwareLeavesTheAddressPacketBound) {
  identify_as("N64_HWRKB_FW319");
  identify_as("N64_HWRKB_FW400");
  n64_set_address(0x10001000);
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][2], kN64SubSetAddress);
  EXPECT_EQ(std::string(n64_bound_variant(0)), "address packet (2)");
  EXPECT_EQ(std::string(n64_bound_variant(2)), "windowed block read (DUMP.ROM)");
}

TEST_F(N64Binding, EmptyTableSendsNothing) {
  std::vector<uint8_t> buffer(600, 0xEE);
  EXPECT_EQ(n64_read_word(0x10000000), kN64EmptyWord);
  n64_set_address(0x10000000);
  n64_write_word(0x10000000, 1);
  EXPECT_EQ(n64_read_block(0x10000000, buffer.data(), 16), 0u);
  EXPECT_FALSE(n64_write_block(0x10000000, buffer.data(), 16));
  EXPECT_FALSE(n64_write_block_sub5(0x10000000, buffer.data(), 16));
  EXPECT_FALSE(n64_write_block_sub7(0x10000000, buffer.data(), 16));
  EXPECT_EQ(n64_read_page(0, buffer.data(), 16), 0u);
  EXPECT_FALSE(n64_write_page(0, buffer.data(), 256));
  EXPECT_TRUE(device.trace().empty());
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(std::string(n64_bound_variant(4)), "empty");
  EXPECT_EQ(std::string(n64_bound_variant(99)), "empty");
}

// --- Reads ------------------------------------------------------------------------------

class N64Read : public N64Test {};

TEST_F(N64Read, WordReadSendsLengthTwoAndTakesTheHighByteFirst) {
  identify_as("N64_HWRKB_FW400");
  answer_with({0x12, 0x34, 0x56});
  EXPECT_EQ(n64_read_word(0x10000AAA), 0x1234);
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(slice(sent[0], 1, 10), (std::vector<uint8_t>{16, 3, 0xAA, 0x0A, 0x00, 0x10, 2, 0, 0}));
  EXPECT_EQ(trace_shape(), "CR");
}

TEST_F(N64Read, PacketReadChunksAndStoresEachChunkInPlace) {
  identify_as("N64_HWRKB_FW319");
  answer_with(pattern(8192, 9));
  std::vector<uint8_t> out(10000, 0);
  EXPECT_EQ(n64_read_block(0x10000000, out.data(), 10000), 10000u);
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(le32(sent[0].data() + 3), 0x10000000u);
  EXPECT_EQ(le16(sent[0].data() + 7), 8192);
  EXPECT_EQ(le32(sent[1].data() + 3), 0x10002000u);
  EXPECT_EQ(le16(sent[1].data() + 7), 1808);
  EXPECT_EQ(trace_shape(), "CRCR");
  const auto reply = pattern(8192, 9);
  EXPECT_TRUE(std::equal(reply.begin(), reply.end(), out.begin()));
  EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + 1808, out.begin() + 8192));
}

TEST_F(N64Read, WindowBounds) {
  identify_as("N64_HWRKB_FW320");
  struct Case {
    uint32_t address;
    uint32_t length;
    std::string shape;
    uint64_t dump_offset;
  };
  const std::vector<Case> cases = {
      {0x0FFFFFFF, 1, "CR", 0},
      {0x10000000, 4, "D", 0},
      {0x13FFFFFF, 1, "D", 0x3FFFFFF},
      {0x14000000, 2, "CR", 0},
      // Past the window's end the rest comes through a packet at its first address after.
      {0x13FFFFFE, 4, "DCR", 0x3FFFFFE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    std::vector<uint8_t> out(c.length, 0);
    EXPECT_EQ(n64_read_block(c.address, out.data(), c.length), c.length);
    EXPECT_EQ(trace_shape(), c.shape);
    const auto dumps = events(Kind::dump_read);
    if (!dumps.empty()) {
      // The transport reads the whole sectors that cover the bytes asked for.
      EXPECT_LE(dumps[0].offset, c.dump_offset);
      EXPECT_GT(dumps[0].offset + dumps[0].count, c.dump_offset);
      EXPECT_EQ(out[0], static_cast<uint8_t>(c.dump_offset * 3 + 1));
    }
    const auto sent = sent_packets();
    if (c.shape == "DCR") {
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(le32(sent[0].data() + 3), 0x14000000u);
      EXPECT_EQ(le16(sent[0].data() + 7), 2);
    }
  }
}

TEST_F(N64Read, AddressedReadLengths) {
  identify_as("N64_HWRKB_FW400");
  answer_with(pattern(4096, 1));
  struct Case {
    uint32_t asked;
    uint16_t sent;
  };
  for (const Case c :
       {Case{100, 64}, Case{5000, 2048}, Case{63, 0}, Case{2048, 2048}, Case{0x10040, 64}}) {
    SCOPED_TRACE(c.asked);
    device.clear_trace();
    std::vector<uint8_t> out(std::max<uint32_t>(c.asked, 1), 0xEE);
    EXPECT_EQ(n64_read_page(0x1234, out.data(), c.asked), c.sent);
    const auto sent = sent_packets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][3], 0);
    EXPECT_EQ(le32(sent[0].data() + 4), 0x1234u);
    EXPECT_EQ(le16(sent[0].data() + 8), c.sent);
    EXPECT_EQ(trace_shape(), c.sent ? "CR" : "C");
    if (c.sent < out.size()) {
      EXPECT_EQ(out[c.sent], 0xEE);  // nothing past what was asked
    }
  }
}

TEST_F(N64Read, PagedReadCopiesFromTheAddressWithinThePage) {
  identify_as("N64_HWRKB_FW320");
  const auto reply = pattern(1024, 5);
  answer_with(reply);
  std::vector<uint8_t> out(32, 0);
  EXPECT_EQ(n64_read_page(0x3F0, out.data(), 32), 32u);
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][8], 1);
  EXPECT_EQ(le32(sent[0].data() + 3), 0u);
  EXPECT_EQ(out, std::vector<uint8_t>(reply.begin() + 0x1F0, reply.begin() + 0x210));
  // At most one page, from the last byte of a page: still inside the reply block.
  std::vector<uint8_t> big(600, 0xEE);
  EXPECT_EQ(n64_read_page(0x7FF, big.data(), 600), 512u);
  EXPECT_EQ(big[0], reply[0x1FF]);
  EXPECT_EQ(big[511], reply[0x1FF + 511]);
  EXPECT_EQ(big[512], 0xEE);
}

// --- Writes -----------------------------------------------------------------------------

class N64Write : public N64Test {};

TEST_F(N64Write, WordWriteSendsTheValueHighByteFirst) {
  identify_as("N64_HWRKB_FW400");
  n64_write_word(0x10000555, 0xA55A);
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(slice(sent[0], 1, 12),
            (std::vector<uint8_t>{16, 4, 0x55, 0x05, 0x00, 0x10, 2, 0, 0xA5, 0x5A, 0}));
}

TEST_F(N64Write, BatchesSplitByTheirPayloadSize) {
  identify_as("N64_HWRKB_FW400");
  struct Case {
    const char* name;
    bool (*write)(uint32_t, const uint8_t*, uint32_t);
    uint8_t sub;
    uint32_t length;
    uint32_t chunk;
    size_t address_at, length_at, data_at;
  };
  const std::vector<Case> cases = {
      {"block 1001", n64_write_block, 4, 1001, 500, 3, 7, 9},
      {"block 500", n64_write_block, 4, 500, 500, 3, 7, 9},
      {"sub5 501", n64_write_block_sub5, 5, 501, 500, 3, 7, 9},
      {"sub7 481", n64_write_block_sub7, 7, 481, 480, 3, 7, 9},
      {"addressed 897", n64_write_page, 9, 897, 448, 4, 8, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    const auto data = pattern(c.length, 3);
    EXPECT_TRUE(c.write(0x10000100, data.data(), c.length));
    const auto files = command_files();
    ASSERT_EQ(files.size(), 1u);
    const size_t packets = (c.length + c.chunk - 1) / c.chunk;
    ASSERT_EQ(files[0].data.size(), packets * kPacketSize);
    const auto sent = sent_packets();
    for (size_t k = 0; k < packets; ++k) {
      SCOPED_TRACE(k);
      const auto& p = sent[k];
      const size_t n = std::min<size_t>(c.chunk, c.length - k * c.chunk);
      EXPECT_EQ(p[1], 16);
      EXPECT_EQ(p[2], c.sub);
      EXPECT_EQ(le32(p.data() + c.address_at), 0x10000100u + k * c.chunk);
      EXPECT_EQ(le16(p.data() + c.length_at), n);
      EXPECT_EQ(slice(p, c.data_at, c.data_at + n),
                std::vector<uint8_t>(data.begin() + k * c.chunk, data.begin() + k * c.chunk + n));
      for (size_t i = c.data_at + n; i < 510; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
      if (c.address_at == 4) {
        EXPECT_EQ(p[3], 0);
      }
    }
  }
}

TEST_F(N64Write, ZeroLengthSendsOneEmptyCommandFile) {
  identify_as("N64_HWRKB_FW320");
  const uint8_t unused = 0;
  EXPECT_TRUE(n64_write_block(0x10000000, &unused, 0));
  EXPECT_TRUE(n64_write_block_sub5(0x10000000, &unused, 0));
  const auto files = command_files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[0].data.empty());
  EXPECT_TRUE(files[1].data.empty());
}

// Odd and short last chunks travel padded inside the packet; the length field names only the
// caller's bytes and nothing past the source is read (exact-size buffers, checked by ASan).
TEST_F(N64Write, CipheredChunksStayInsideTheCallersData) {
  identify_as("N64_HWRKB_FW320");
  const uint8_t* key = device.config().key.data();
  for (uint32_t length : {1u, 2u, 7u, 8u, 9u, 16u, 501u, 507u, 999u}) {
    SCOPED_TRACE(length);
    device.clear_trace();
    const auto data = pattern(length, 0x21);
    auto source = std::make_unique<uint8_t[]>(length);
    std::memcpy(source.get(), data.data(), length);
    EXPECT_TRUE(n64_write_block_sub5(0x10000000, source.get(), length));
    EXPECT_EQ(std::vector<uint8_t>(source.get(), source.get() + length), data);
    const auto sent = sent_packets();
    ASSERT_EQ(sent.size(), (length + 499) / 500);
    for (size_t k = 0; k < sent.size(); ++k) {
      const size_t n = std::min<size_t>(500, length - k * 500);
      const std::vector<uint8_t> chunk(data.begin() + k * 500, data.begin() + k * 500 + n);
      const auto expected = ciphered_chunk(chunk, key);
      EXPECT_EQ(le16(sent[k].data() + 7), n);
      EXPECT_EQ(slice(sent[k], 9, 9 + expected.size()), expected);
      for (size_t i = 9 + expected.size(); i < 510; ++i) ASSERT_EQ(sent[k][i], 0);
    }
  }
}

TEST_F(N64Write, PagedWriteCarriesAHalfPage) {
  identify_as("N64_HWRKB_FW320");
  const auto data = pattern(256, 0x11);
  struct Case {
    uint32_t address;
    uint8_t byte5;
    uint8_t page;
  };
  for (const Case c :
       {Case{0x700, 1, 3}, Case{0x0FF, 0, 0}, Case{0x100, 1, 0}, Case{0x10000A00, 0, 1}}) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    EXPECT_TRUE(n64_write_page(c.address, data.data(), 256));
    const auto sent = sent_packets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][2], 9);
    EXPECT_EQ(sent[0][3], 0);
    EXPECT_EQ(sent[0][4], 0);
    EXPECT_EQ(sent[0][5], c.byte5);
    EXPECT_EQ(sent[0][8], c.page);
    EXPECT_EQ(slice(sent[0], 12, 268), data);
    EXPECT_EQ(sent[0][268], 0);
  }
  // Fewer than 256 source bytes would have the packet read past them: nothing is sent.
  device.clear_trace();
  EXPECT_FALSE(n64_write_page(0x700, data.data(), 255));
  EXPECT_TRUE(device.trace().empty());
}

TEST_F(N64Write, BatchTooLargeForOneCommandFileSendsNothing) {
  identify_as("N64_HWRKB_FW400");
  const uint8_t byte = 0;
  // 0xFFFFFFFF bytes would need more than 4 GiB of packets; refused before any allocation.
  EXPECT_FALSE(n64_write_page(0, &byte, 0xFFFFFFFF));
  EXPECT_FALSE(n64_write_block(0, nullptr, 16));
  EXPECT_TRUE(device.trace().empty());
}

// --- Erase ------------------------------------------------------------------------------

class N64Erase : public N64Test {};

TEST_F(N64Erase, ChipEraseSendsItsSevenWritesOnly) {
  identify_as("N64_HWRKB_FW400");
  n64_erase_chip();
  const std::vector<std::pair<uint32_t, uint16_t>> expected = {
      {0x10000000, 0x00F0}, {0x10000AAA, 0x00AA}, {0x10000555, 0x0055}, {0x10000AAA, 0x0080},
      {0x10000AAA, 0x00AA}, {0x10000555, 0x0055}, {0x10000AAA, 0x0010}};
  const auto sent = sent_packets();
  ASSERT_EQ(sent.size(), expected.size());
  EXPECT_EQ(trace_shape(), "CCCCCCC");
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sent[i][2], 4);
    EXPECT_EQ(le32(sent[i].data() + 3), expected[i].first);
    EXPECT_EQ(le16(sent[i].data() + 7), 2);
    EXPECT_EQ(sent[i][9] << 8 | sent[i][10], expected[i].second);
  }
}

}  // namespace
}  // namespace n64_test
