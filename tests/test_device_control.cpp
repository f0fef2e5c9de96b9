// The device's system commands in both forms, checked against what reached the virtual device
// and what it did: command files of family 240 on the drive, 64-byte reports over HID.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "link/device_control.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/hid.h"
#include "tests/support.h"
#include "virtual_device/hid_device.h"

namespace {

using vdev::HidFault;
using vdev::HidReport;

uint32_t le(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
  return v;
}

std::vector<uint8_t> pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> data(count);
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
  return data;
}

// One device reachable both ways: the HID device shares the drive device's system model.
class DeviceControlTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    vdev::attach_hid({&hid});
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
  }
  void TearDown() override {
    hid_close_all();
    VirtualDeviceTest::TearDown();
  }

  void use_hid() {
    g_link.hid_link = true;
    ASSERT_EQ(hid_open_devices(1, 0x0483, 0x5750, -1, -1), 1);
  }

  std::vector<uint8_t> memory(uint32_t address, size_t count) {
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) out[i] = device.system().read(address + uint32_t(i));
    return out;
  }

  const HidReport& report(size_t i) { return hid.reports().at(i); }

  vdev::HidDevice hid{{}, &device.system()};
};

TEST_F(DeviceControlTest, BootRequestOverHidCarriesTheWordBootOnlyWithAFlag) {
  use_hid();
  struct Case {
    uint8_t flag;
    std::vector<uint8_t> bytes_4_to_7;
    bool boot;
  };
  for (const Case& c : {Case{0, {0, 0, 0, 0}, false}, Case{1, {0x54, 0x4F, 0x4F, 0x42}, true},
                        Case{0x80, {0x54, 0x4F, 0x4F, 0x42}, true}}) {
    hid.system().boot_requested = !c.boot;
    EXPECT_EQ(sys_request_boot(c.flag), 1u);
    const HidReport& r = hid.reports().back();
    ASSERT_EQ(r.data.size(), 64u);
    EXPECT_EQ(r.report_id, 0);
    EXPECT_EQ(r.data[0], 20);
    EXPECT_EQ(std::vector<uint8_t>(r.data.begin() + 4, r.data.begin() + 8), c.bytes_4_to_7);
    EXPECT_EQ(std::accumulate(r.data.begin() + 8, r.data.end(), 0), 0);
    EXPECT_EQ(hid.system().boot_requested, c.boot) << int(c.flag);
  }
  EXPECT_TRUE(command_files().empty());
}

TEST_F(DeviceControlTest, BootRequestOverTheDriveIsTwoCommandFiles) {
  for (uint8_t flag : {uint8_t{1}, uint8_t{0}}) {
    device.clear_trace();
    EXPECT_EQ(sys_request_boot(flag), kPacketSize);
    const auto files = command_files();
    ASSERT_EQ(files.size(), 2u);
    const auto& a = files[0].data;
    const auto& b = files[1].data;
    ASSERT_EQ(a.size(), 512u);
    ASSERT_EQ(b.size(), 512u);
    EXPECT_EQ(a[1], 240);
    EXPECT_EQ(a[2], 7);
    EXPECT_EQ(b[2], 255);
    EXPECT_EQ(a[3], flag);
    EXPECT_EQ(a[4], flag);
    for (size_t i = 0; i < 510; ++i) {
      if (i != 2) {
        ASSERT_EQ(a[i], b[i]) << "byte " << i;
      }
    }
    EXPECT_NE(std::vector<uint8_t>(a.begin() + 510, a.end()),
              std::vector<uint8_t>(b.begin() + 510, b.end()));
    EXPECT_EQ(device.system().boot_requested, flag != 0);
  }
  EXPECT_EQ(device.system().boot_requests, 2u);
  EXPECT_EQ(device.system().refused, 0u);
}

TEST_F(DeviceControlTest, WriteBlockOverTheDriveIsOneFileOfPiecesOf256) {
  const auto data = pattern(300, 3);
  const uint32_t address = 0x00FFFF80;  // the second piece crosses a 24-bit boundary
  EXPECT_EQ(sys_write_block(address, data.data(), 300), 1024u);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 1u);
  const auto& f = files[0].data;
  ASSERT_EQ(f.size(), 1024u);
  struct Piece {
    size_t packet;
    uint32_t address, length;
  };
  for (const Piece p : {Piece{0, address, 256}, Piece{1, address + 256, 44}}) {
    const size_t at = p.packet * 512;
    EXPECT_EQ(f[at + 1], 240);
    EXPECT_EQ(f[at + 2], 228);
    EXPECT_EQ(le(f, at + 3, 4), p.address);
    EXPECT_EQ(le(f, at + 7, 2), p.length);
    EXPECT_EQ(0, std::memcmp(f.data() + at + 12, data.data() + p.packet * 256, p.length));
    // Unused bytes stay zero up to the CRC.
    for (size_t i = at + 12 + p.length; i < at + 510; ++i) ASSERT_EQ(f[i], 0) << i;
  }
  EXPECT_EQ(memory(address, 300), data);
  EXPECT_EQ(memory(address + 300, 1), std::vector<uint8_t>{0xFF});
}

TEST_F(DeviceControlTest, WriteBlockOverHidIsReportsOf56WithStaleTail) {
  use_hid();
  const auto data = pattern(300, 11);
  const uint32_t address = 0x123456;
  EXPECT_EQ(sys_write_block(address, data.data(), 300), 1u);
  ASSERT_EQ(hid.reports().size(), 6u);
  const uint32_t lengths[] = {56, 56, 56, 56, 56, 20};
  uint32_t at = 0;
  for (size_t i = 0; i < 6; ++i) {
    const auto& r = report(i).data;
    EXPECT_EQ(r[0], 25);
    EXPECT_EQ(le(r, 1, 3), address + at) << i;
    EXPECT_EQ(le(r, 4, 2), lengths[i]) << i;
    EXPECT_EQ(0, std::memcmp(r.data() + 6, data.data() + at, lengths[i])) << i;
    at += lengths[i];
  }
  // The last report was not cleared: after its 20 bytes lie those of the piece before.
  EXPECT_EQ(0, std::memcmp(report(5).data.data() + 26, report(4).data.data() + 26, 36));
  EXPECT_EQ(hid.pending_answers(), 0u) << "every answer was read";
  EXPECT_EQ(memory(address, 300), data);
  EXPECT_EQ(hid.system().refused, 0u);
}

TEST_F(DeviceControlTest, HidBlockWritesOfBothKindsAndTheirAddresses) {
  use_hid();
  const auto data = pattern(57, 1);
  hid_write_block(0xFFFFF0, data.data(), 57);  // the address field keeps 24 bits
  ASSERT_EQ(hid.reports().size(), 2u);
  EXPECT_EQ(report(0).data[0], 24);
  EXPECT_EQ(le(report(1).data, 1, 3), 0x000028u);
  EXPECT_EQ(le(report(1).data, 4, 2), 1u);
  hid_write_block(0, data.data(), 0);
  hid_write_block(0, nullptr, 10);
  EXPECT_EQ(hid.reports().size(), 2u) << "nothing to send";
}

TEST_F(DeviceControlTest, WriteBlockEdgesOverTheDrive) {
  EXPECT_EQ(sys_write_block(0, nullptr, 0), 0u) << "an empty command file";
  ASSERT_EQ(command_files().size(), 1u);
  EXPECT_TRUE(command_files()[0].data.empty());
  const auto one = pattern(256, 9);
  EXPECT_EQ(sys_write_block(0x40, one.data(), 256), 512u);
  EXPECT_EQ(command_files().back().data.size(), 512u) << "exactly one packet for 256 bytes";
  EXPECT_EQ(sys_write_block(0, nullptr, 1), 0u);
  EXPECT_EQ(sys_write_block(0, one.data(), 0x80000000u), 0u) << "more than one file holds";
  EXPECT_EQ(command_files().size(), 2u);
}

TEST_F(DeviceControlTest, GetWordOverTheDriveReadsTwoBytesLittleEndian) {
  device.system().write(0xCAFE0000u, std::vector<uint8_t>{0x34, 0x12, 0x99});
  EXPECT_EQ(sys_get_word(0xCAFE0000u), 0x1234u);
  const auto files = command_files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].data[2], 226);
  EXPECT_EQ(le(files[0].data, 3, 4), 0xCAFE0000u) << "all 32 address bits travel";

  device.config().status_file = vdev::StatusFile::missing;
  EXPECT_EQ(sys_get_word(0xCAFE0000u), 0u) << "no reply file: 0";
}

TEST_F(DeviceControlTest, GetWordOverHidSendsTheLow24AddressBits) {
  use_hid();
  device.system().write(0x345678, std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(sys_get_word(0xAB345678u), 0x12345678u);
  const auto& r = report(0).data;
  EXPECT_EQ(r[0], 22);
  EXPECT_EQ(le(r, 1, 4), 0x00345678u) << "byte 4 stays zero";

  hid.faults().read = HidFault::time_out;
  EXPECT_EQ(sys_get_word(0x345678), 0u);
  hid.faults().read = HidFault::none;
  hid.faults().answer_transfer = 3;  // a short answer: two data bytes
  EXPECT_EQ(sys_get_word(0x345678), 0x5678u);
}

TEST_F(DeviceControlTest, ParameterWriteInBothForms) {
  EXPECT_EQ(sys_put_parameter(0x89ABCDEFu), 512u);
  const auto p = command_files().back().data;
  EXPECT_EQ(p[2], 224);
  EXPECT_EQ(le(p, 3, 4), 0x89ABCDEFu);
  EXPECT_EQ(device.system().parameter, 0x89ABCDEFu);
  EXPECT_EQ(sys_command_10(), 512u);
  EXPECT_EQ(command_files().back().data[2], 10);
  EXPECT_EQ(device.system().command_10_count, 1u);

  use_hid();
  EXPECT_EQ(sys_put_parameter(0x01020304u), 1u);
  EXPECT_EQ(report(0).data[0], 23);
  EXPECT_EQ(le(report(0).data, 1, 4), 0x01020304u);
  EXPECT_EQ(device.system().parameter, 0x01020304u);
  EXPECT_EQ(hid.pending_answers(), 0u) << "the answer was read and dropped";
  EXPECT_EQ(command_files().size(), 2u) << "the HID form writes no file";
}

TEST_F(DeviceControlTest, DriveFormsReturnZeroWhenNoFileCouldBeWritten) {
  g_link.drive_refused = true;
  const auto data = pattern(10, 0);
  EXPECT_EQ(sys_request_boot(1), 0u);
  EXPECT_EQ(sys_put_parameter(1), 0u);
  EXPECT_EQ(sys_command_10(), 0u);
  EXPECT_EQ(sys_write_block(0, data.data(), 10), 0u);
  EXPECT_EQ(sys_get_word(0), 0u);
  EXPECT_TRUE(device.trace().empty());
}

TEST_F(DeviceControlTest, QueriesPassTheWholeAnswerAndZerosWhenNoneCame) {
  use_hid();
  hid.config().name = std::string(64, 'Q');
  uint8_t buffer[64];
  struct Case {
    uint8_t code;
    bool sent;
    uint8_t first;
  };
  for (const Case c : {Case{16, true, 0x3A}, Case{17, true, 'Q'}, Case{18, true, 0},
                       Case{19, true, 19}, Case{21, true, 21}, Case{20, false, 0},
                       Case{22, false, 0}, Case{0, false, 0}}) {
    const size_t before = hid.reports().size();
    std::memset(buffer, 0xEE, sizeof buffer);
    hid_query(c.code, buffer);
    EXPECT_EQ(hid.reports().size() - before, c.sent ? 1u : 0u) << int(c.code);
    EXPECT_EQ(buffer[0], c.first) << int(c.code);
    if (c.code == 17) {
      EXPECT_EQ(buffer[63], 'Q') << "all 64 bytes reach the caller";
    }
    if (!c.sent) {
      EXPECT_EQ(std::accumulate(buffer, buffer + 64, 0), 0);
    }
  }
  hid.faults().read = HidFault::time_out;
  std::memset(buffer, 0xEE, sizeof buffer);
  hid_query(16, buffer);
  EXPECT_EQ(std::accumulate(buffer, buffer + 64, 0), 0) << "a time-out gives zeros";
}

TEST_F(DeviceControlTest, ThirtyTwoByteWritesAndReadBack) {
  use_hid();
  const auto data = pattern(64, 5);
  EXPECT_EQ(hid_write_block_32(0x020000, data.data(), 64), 1u);
  ASSERT_EQ(hid.reports().size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto& r = report(i).data;
    EXPECT_EQ(r[0], 129);
    EXPECT_EQ(le(r, 1, 3), 0x020000u + 32 * i);
    EXPECT_EQ(r[4], 32);
    EXPECT_EQ(r[5], 0);
    EXPECT_EQ(std::accumulate(r.begin() + 6, r.begin() + 32, 0), 0);
    EXPECT_EQ(0, std::memcmp(r.data() + 32, data.data() + 32 * i, 32));
  }
  EXPECT_EQ(memory(0x020000, 64), data);

  hid_write_32(128, 0x030000, data.data());
  EXPECT_EQ(report(2).data[0], 128);
  uint8_t back[32] = {};
  hid_read_32(back);  // reads where the last write went
  EXPECT_EQ(0, std::memcmp(back, data.data(), 32));
  EXPECT_EQ(report(3).data[0], 26);

  hid_write_32(130, 0, data.data());
  EXPECT_EQ(hid_write_block_32(0, data.data(), 40), 0u) << "not whole 32-byte pieces";
  EXPECT_EQ(hid_write_block_32(0, nullptr, 32), 0u);
  EXPECT_EQ(hid.reports().size(), 4u);
}

}  // namespace
