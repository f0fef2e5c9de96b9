// The command packet frame, command files and reply reads, on a real folder standing in for the
// device drive.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "link/transport.h"
#include "tests/support.h"

namespace {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_program_state();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", drive.root().c_str());
  }
  void TearDown() override { reset_program_state(); }

  std::vector<uint8_t> command_file(int n) const {
    return read_whole_file(drive.path("CMD" + std::to_string(n) + ".CMD"));
  }

  TempDir drive;
};

uint16_t crc_of(const char* text) {
  // packet_crc16 leaves out the last two bytes, where the CRC itself goes.
  std::vector<uint8_t> bytes(text, text + std::strlen(text));
  bytes.resize(bytes.size() + 2);
  return packet_crc16(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(PacketCrc, MatchesXmodemCheckValues) {
  EXPECT_EQ(crc_of("123456789"), 0x31C3);
  EXPECT_EQ(crc_of("abc"), 0x9DD6);
  EXPECT_EQ(crc_of(""), 0x0000);
}

TEST_F(TransportTest, FramesAMarkerOnlyPacketWithItsCrcHighByteFirst) {
  uint8_t packet[kPacketSize] = {};
  ASSERT_EQ(send_command(packet, sizeof packet), kPacketSize);
  EXPECT_EQ(packet[0], 'Z');
  EXPECT_EQ(packet[510], 0x0A);
  EXPECT_EQ(packet[511], 0xCA);
  auto written = command_file(0);
  ASSERT_EQ(written.size(), kPacketSize);
  EXPECT_EQ(0, std::memcmp(written.data(), packet, kPacketSize));
}

TEST_F(TransportTest, SeveralPacketsTravelAsOneFileEachWithItsOwnFrame) {
  std::vector<uint8_t> buffer(3 * kPacketSize, 0);
  for (int k = 0; k < 3; ++k) {
    buffer[k * kPacketSize + 1] = 14;
    buffer[k * kPacketSize + 2] = static_cast<uint8_t>(5 + k);
    buffer[k * kPacketSize + 509] = static_cast<uint8_t>(0xA0 + k);
  }
  ASSERT_EQ(send_command(buffer.data(), 3 * kPacketSize), 3 * kPacketSize);
  auto written = command_file(0);
  ASSERT_EQ(written, buffer);
  for (int k = 0; k < 3; ++k) {
    const uint8_t* sector = written.data() + k * kPacketSize;
    uint16_t crc = packet_crc16(sector, kPacketSize);
    EXPECT_EQ(sector[0], 'Z');
    EXPECT_EQ(sector[510], crc >> 8);
    EXPECT_EQ(sector[511], crc & 0xFF);
  }
  EXPECT_EQ(g_link.command_counter, 1) << "one command file, one step of the counter";
}

TEST_F(TransportTest, CommandFilesRotateThroughFourNamesAcrossTheRun) {
  for (int i = 0; i < 5; ++i) {
    uint8_t packet[kPacketSize] = {};
    packet[3] = static_cast<uint8_t>(i);
    send_command(packet, sizeof packet);
  }
  EXPECT_EQ(command_file(0).at(3), 4) << "the fifth command reuses CMD0";
  EXPECT_EQ(command_file(1).at(3), 1);
  EXPECT_EQ(command_file(2).at(3), 2);
  EXPECT_EQ(command_file(3).at(3), 3);
  EXPECT_EQ(g_link.command_counter, 1);
}

TEST_F(TransportTest, ZeroLengthCommandWritesAnEmptyFileAndAdvances) {
  write_whole_file(drive.path("CMD0.CMD"), std::vector<uint8_t>(512, 0x11));
  EXPECT_EQ(send_command(nullptr, 0), 0u);
  EXPECT_TRUE(command_file(0).empty());
  EXPECT_EQ(g_link.command_counter, 1);
}

TEST_F(TransportTest, PartialPacketIsRefusedWithoutWritingOrAdvancing) {
  std::vector<uint8_t> buffer(700, 0);
  EXPECT_EQ(send_command(buffer.data(), 700), 0u);
  EXPECT_FALSE(std::filesystem::exists(drive.path("CMD0.CMD")));
  EXPECT_EQ(buffer[0], 0) << "nothing framed";
  EXPECT_EQ(g_link.command_counter, 0);
}

TEST_F(TransportTest, UnwritableDriveGivesZero) {
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", "/nonexistent-cartlink/");
  uint8_t packet[kPacketSize] = {};
  EXPECT_EQ(send_command(packet, sizeof packet), 0u);
  EXPECT_EQ(g_link.command_counter, 1);
}

TEST_F(TransportTest, ShortRepliesComeFromOneWholeBlock) {
  std::vector<uint8_t> reply(9216);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 7 + 1);
  write_whole_file(drive.path("T-DRIVER.DMP"), reply);

  uint8_t two[2] = {};
  EXPECT_EQ(read_reply(0, two, 2), 2u);
  EXPECT_EQ(two[0], reply[0]);
  EXPECT_EQ(two[1], reply[1]);

  std::vector<uint8_t> sector(1024);
  EXPECT_EQ(read_reply(8192, sector.data(), 1024), 1024u);
  EXPECT_TRUE(std::equal(sector.begin(), sector.end(), reply.begin() + 8192));

  // No reply file: nothing delivered.
  uint8_t one = 0;
  EXPECT_EQ(read_dump(0, &one, 1), 0u);
}

// Spans that are not whole sectors are read as the sectors that cover them and cut exactly:
// the caller gets the file's bytes, and nothing past its buffer is touched.
TEST_F(TransportTest, AnySpanDeliversExactlyTheBytesAskedFor) {
  std::vector<uint8_t> file(0x12345);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  write_whole_file(drive.path("T-DRIVER.DMP"), file);
  write_whole_file(drive.path("DUMP.ROM"), file);
  struct Case {
    bool dump;
    int32_t offset;
    uint32_t count;
    uint32_t delivered;
  } cases[] = {
      {false, 0, 1025, 1025},      {false, 0, 3616, 3616},       {false, 0, 8191, 8191},
      {false, 100, 1024, 1024},    {true, 0x1001, 2049, 2049},   {true, 0x8001, 1000, 1000},
      {true, 0x8001, 600000, 0x12345 - 0x8001},  // runs past the end: what is there
      {true, 0x12345, 4096, 0},                  // starts at the end
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> buffer(c.count + 16, 0xEE);
    const uint32_t got = c.dump ? read_dump(c.offset, buffer.data(), c.count)
                                : read_reply(c.offset, buffer.data(), c.count);
    SCOPED_TRACE(std::to_string(c.offset) + " +" + std::to_string(c.count));
    ASSERT_EQ(got, c.delivered);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, file.begin() + c.offset));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + c.count, buffer.end()),
              std::vector<uint8_t>(16, 0xEE));
  }
}

TEST_F(TransportTest, SaveFileReplacesWholeOrLeavesTheOldFile) {
  std::string name = drive.path("f90.sav");
  std::vector<uint8_t> first(8320, 0x5A);
  EXPECT_EQ(save_file(name.c_str(), first.data(), 8320), 8320u);
  EXPECT_EQ(read_whole_file(name), first);
  EXPECT_FALSE(std::filesystem::exists(name + ".tmp"));

  // A save that cannot be completed leaves the older file untouched.
  std::string blocked = drive.path("blocked.sav");
  write_whole_file(blocked, first);
  std::filesystem::create_directory(blocked + ".tmp");
  EXPECT_EQ(save_file(blocked.c_str(), first.data(), 100), 0u);
  EXPECT_EQ(read_whole_file(blocked), first);
}

}  // namespace
