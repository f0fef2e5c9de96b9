// The transport's own reliability promises: the packet CRC at every length against the bit by
// bit definition, reads that cover sectors at any span, and the flag that tells a job a command
// or an answer was lost.
#include <gtest/gtest.h>

#include <cstring>

#include "link/link_state.h"
#include "link/transport.h"
#include "tests/fault_ops.h"
#include "tests/support.h"
#include "virtual_device/nes_boards.h"

namespace {

uint16_t crc_bit_by_bit(const uint8_t* bytes, uint32_t length) {
  uint16_t crc = 0;
  for (uint32_t i = 0; i + 2 < length; ++i) {
    crc ^= static_cast<uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

TEST(PacketCrc, EqualsTheBitwiseDefinitionAtEveryLength) {
  std::vector<uint8_t> bytes(600);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 151 + (i >> 3));
  for (uint32_t length = 0; length <= bytes.size(); ++length) {
    EXPECT_EQ(packet_crc16(bytes.data(), length), crc_bit_by_bit(bytes.data(), length)) << length;
  }
}

class ReliabilityTest : public VirtualDeviceTest {};

TEST_F(ReliabilityTest, WindowReadsDeliverExactlyTheSpanAtEveryShape) {
  // DUMP.ROM shows the NES CPU bus; a PRG ROM of distinct bytes at $8000 shows a misplaced copy.
  vdev::F90Contents contents;
  for (uint32_t i = 0; i < 0x8000; ++i) {
    contents.prg.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
  }
  device.insert_nes(std::make_unique<vdev::F90Board>(contents));
  std::strcpy(g_link.root_path, kVirtualRoot);
  std::vector<uint8_t> whole(0x10000);
  ASSERT_EQ(read_dump(0, whole.data(), 0x10000), 0x10000u);
  struct Case {
    int32_t offset;
    uint32_t count;
  } cases[] = {
      {0x1FF, 2},       {0x200, 511},      {0x201, 0xFFFF},  {0x3, 0xFFF0},
      {0x1, 0x10400},   {0x1FF, 0x1F000},  {0x10000 - 1, 1}, {0x7FFF, 0x8001},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> got(c.count + 1, 0xCD);  // one byte more, which must stay as it was
    ASSERT_EQ(read_dump(c.offset, got.data(), c.count), c.count) << c.offset;
    for (uint32_t i = 0; i < c.count; ++i) {
      ASSERT_EQ(got[i], whole[(static_cast<uint32_t>(c.offset) + i) % 0x10000])
          << c.offset << "+" << i;
    }
    EXPECT_EQ(got[c.count], 0xCD) << c.offset;
  }
}

TEST_F(ReliabilityTest, LostCommandsAndAnswersRaiseTheFlag) {
  struct Case {
    Fault fault;
    bool command;     // send a command (else read an answer)
    uint32_t count;   // bytes of the read
    bool raised;
  } cases[] = {
      {Fault::none, true, 0, false},           {Fault::write_error, true, 0, true},
      {Fault::short_write, true, 0, true},     {Fault::fsync_failure, true, 0, true},
      {Fault::none, false, 512, false},        {Fault::read_error, false, 512, true},
      {Fault::read_error, false, 4096, true},  {Fault::short_read, false, 4096, true},
      {Fault::device_gone, false, 100, true},  {Fault::reply_missing, false, 2048, true},
  };
  for (const auto& c : cases) {
    link_reset_state();
    std::strcpy(g_link.root_path, kVirtualRoot);
    fault_install(c.fault, 1, kVirtualRoot);
    uint8_t buffer[4096] = {};
    if (c.command) {
      buffer[1] = kFamilyNes;
      buffer[2] = 4;
      send_command(buffer, kPacketSize);
    } else {
      read_reply(0, buffer, c.count);
    }
    fault_remove();
    EXPECT_EQ(g_link.io_failed, c.raised) << fault_name(c.fault) << " " << c.count;
  }
}

}  // namespace
