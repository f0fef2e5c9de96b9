// Families 17, 7 and 3 against the in-process device: family 17's aligned-kilobyte byte read,
// its one-file byte writes and one-file-per-step sequences; the 8192 chunks of family 7; the
// system packet and the 8192 cut of family 3; reads of each cartridge.
#include <functional>

#include "families/fam17.h"
#include "families/fam3.h"
#include "families/fam7.h"
#include "tests/fams_support.h"

namespace {

class Fam17Test : public FamilyTest {};

std::vector<std::pair<size_t, uint8_t>> address24(uint32_t address) {
  return {{3, uint8_t(address)}, {4, uint8_t(address >> 8)}, {5, uint8_t(address >> 16)}};
}

TEST_F(Fam17Test, ByteReadFetchesTheAlignedKilobyte) {
  const Bytes memory = vdev::pattern_memory(vdev::Fam17Cartridge::kSize);
  insert(std::make_unique<vdev::Fam17Cartridge>(memory));
  const struct {
    uint32_t address;
    uint64_t offset;
  } cases[] = {{0x012345, 0x012000}, {0xFF012345, 0x012000}, {0x0003FF, 0}, {0xFFFFFF, 0xFFFC00}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    EXPECT_EQ(fam17_read_byte(c.address), memory[c.address & 0xFFFFFF]);
    const auto dumps = events(Kind::dump_read);
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0].offset, c.offset);
    EXPECT_EQ(dumps[0].count, 1024u);
    EXPECT_TRUE(command_files().empty());
  }
  Bytes got(3000);
  fam17_read_block(0x123401, got.data(), 3000);
  EXPECT_EQ(got, Bytes(memory.begin() + 0x123401, memory.begin() + 0x123401 + 3000));
}

TEST_F(Fam17Test, WritesAndSequencesLandInOrder) {
  auto& cart = insert(std::make_unique<vdev::Fam17Cartridge>(Bytes(vdev::Fam17Cartridge::kSize)));
  using Writes = std::vector<std::pair<uint32_t, uint8_t>>;
  const uint8_t three[] = {0xA1, 0xB2, 0xC3};
  const struct {
    const char* name;
    std::function<void()> call;
    size_t files;
    Writes writes;
  } cases[] = {
      {"write_byte", [] { fam17_write_byte(0xAB123456, 0x77); }, 1, {{0x123456, 0x77}}},
      {"write_bytes past the top", [&] { fam17_write_bytes(0xFFFFFE, three, 3); }, 1,
       {{0xFFFFFE, 0xA1}, {0xFFFFFF, 0xB2}, {0x000000, 0xC3}}},
      {"write_bytes 0", [&] { fam17_write_bytes(0x10, three, 0); }, 1, {}},
      {"sequence a", [] { fam17_write_sequence_a(); }, 5,
       {{0x0D0000, 0x68}, {0x0F0000, 0x00}, {0x0F0000, 0x73}, {0x0F0000, 0x73},
        {0x0F0000, 0x73}}},
      {"sequence b", [] { fam17_write_sequence_b(); }, 3,
       {{0x0D0000, 0x68}, {0x0F0001, 0x00}, {0x0C0001, 0x60}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    const size_t logged = cart.writes().size();
    c.call();
    EXPECT_EQ(command_files().size(), c.files);
    const Writes seen(cart.writes().begin() + logged, cart.writes().end());
    EXPECT_EQ(seen, c.writes);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.writes.size());
    for (size_t k = 0; k < c.writes.size(); ++k) {
      auto set = address24(c.writes[k].first);
      set.push_back({2, 2});
      set.push_back({6, c.writes[k].second});
      EXPECT_EQ(packets[k], packet_bytes(17, set));
    }
  }
  device.clear_trace();
  fam17_start();
  EXPECT_EQ(sent_packets(), std::vector<Bytes>{packet_bytes(17, {{2, 1}})});
  Bytes got(2);
  fam17_read_block(0xFFFFFE, got.data(), 2);
  EXPECT_EQ(got, (Bytes{0xA1, 0xB2}));
  EXPECT_EQ(fam17_read_byte(0), 0xC3);
  expect_all_accepted();
}

class Fam7Test : public FamilyTest {};

TEST_F(Fam7Test, ReadsInChunksOf8192) {
  const Bytes rom = vdev::pattern_memory(vdev::kFam7Size);
  insert(std::make_unique<vdev::Fam7Cartridge>(rom));
  const struct {
    uint32_t address, length;
    std::vector<uint16_t> chunks;
  } cases[] = {{0x123456, 20000, {8192, 8192, 3616}}, {0xFFF000, 8192, {8192}}, {0x10, 0, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    Bytes got(c.length);
    fam7_read_block(c.address, got.data(), c.length);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), c.chunks.size());
    EXPECT_EQ(events(Kind::reply_read).size(), c.chunks.size());
    uint32_t address = c.address;
    for (size_t k = 0; k < c.chunks.size(); ++k) {
      auto set = address24(address);
      set.push_back({2, 2});
      set.push_back({6, uint8_t(c.chunks[k])});
      set.push_back({7, uint8_t(c.chunks[k] >> 8)});
      EXPECT_EQ(packets[k], packet_bytes(7, set));
      address += c.chunks[k];
    }
    for (uint32_t i = 0; i < c.length; ++i) {
      ASSERT_EQ(got[i], rom[(c.address + i) & 0xFFFFFF]) << "byte " << i;  // 24 bits wrap
    }
  }
  device.clear_trace();
  EXPECT_EQ(fam7_read_byte(0x654321), rom[0x654321]);
  EXPECT_EQ(sent_packets()[0], packet_bytes(7, {{2, 2}, {3, 0x21}, {4, 0x43}, {5, 0x65}, {6, 1}}));
  fam7_start();
  EXPECT_EQ(sent_packets()[1], packet_bytes(7, {{2, 1}}));
}

class Fam3Test : public FamilyTest {};

TEST_F(Fam3Test, StartSendsTheSystemPacketFirstAndReadsCutAt8192) {
  const Bytes rom = vdev::pattern_memory(vdev::kFam3Size);
  insert(std::make_unique<vdev::Fam3Cartridge>(rom));
  fam3_start();
  const auto files = command_files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(sent_packets()[0], packet_bytes(240, {{2, 3}}));
  EXPECT_EQ(sent_packets()[1], packet_bytes(3, {{2, 1}}));

  const struct {
    uint32_t address, length, cut;
  } cases[] = {{0x00ABCDEF, 9000, 8192}, {0x00000100, 8192, 8192}, {0xFFFFFF00, 4096, 4096}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    device.clear_trace();
    Bytes got(c.length, 0x5A);
    EXPECT_EQ(fam3_read_block(c.address, got.data(), c.length), c.cut);
    const auto packets = sent_packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0],
              packet_bytes(3, {{2, 18}, {4, uint8_t(c.address)}, {5, uint8_t(c.address >> 8)},
                               {6, uint8_t(c.address >> 16)}, {7, uint8_t(c.address >> 24)},
                               {8, uint8_t(c.cut)}, {9, uint8_t(c.cut >> 8)}}));
    for (uint32_t i = 0; i < c.length; ++i) {
      const uint32_t a = c.address + i;  // 32 bits wrap
      const uint8_t want = i >= c.cut ? 0x5A : a < rom.size() ? rom[a] : 0xFF;
      ASSERT_EQ(got[i], want) << "byte " << i;
    }
  }
  expect_all_accepted();
}

}  // namespace
