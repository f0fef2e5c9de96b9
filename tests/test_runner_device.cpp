// cartlink-run's device jobs: what reaches the device's memory, boot flag and parameter, what
// the user sees, and what is refused before anything is sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/discovery.h"
#include "link/link_state.h"
#include "platform/hid.h"
#include "tests/support.h"
#include "virtual_device/hid_device.h"

namespace {

class RunnerDeviceTest : public VirtualDeviceTest {
 protected:
  void TearDown() override {
    hid_close_all();
    VirtualDeviceTest::TearDown();
  }
  void add_hid() {
    hid.config().name = "HID NAME";
    vdev::attach_hid({&hid});
  }

  TempDir folder;
  vdev::HidDevice hid{{}, &device.system()};
};

TEST_F(RunnerDeviceTest, DeviceInfoOverHidWithTheDrive) {
  add_hid();
  hid.faults().read = vdev::HidFault::time_out;  // neither query is answered
  std::string out;
  ASSERT_EQ(run_cli({"device-info"}, &out), 0);
  EXPECT_NE(out.find("Link: HID\n"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string("Root: ") + kVirtualRoot + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Date number: 0\n"), std::string::npos) << out;
  // The link is taken all the same; what did not come is said, and no write is enciphered
  // with the zeros that stand in for the key.
  EXPECT_NE(out.find("Name: (none: the device did not answer the name query)\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Key data: none: the device did not answer the key query; ciphered "
                     "writes are refused\n"), std::string::npos) << out;
  EXPECT_FALSE(hid.is_open()) << "the runner closes the HID device at the end";
}

TEST_F(RunnerDeviceTest, BadNumbersAreRefusedBeforeAnythingIsSent) {
  write_whole_file(folder.path("block.bin"), std::vector<uint8_t>(16, 1));
  const std::string block = folder.path("block.bin");
  const std::vector<std::vector<std::string>> cases = {
      {"request-boot", "256"},         {"request-boot", "-1"},
      {"request-boot", "boot"},        {"request-boot"},
      {"put-parameter", "0x100000000"}, {"put-parameter", "1x"},
      {"get-word", "0x100000000"},     {"get-word", ""},
      {"write-block", "0x100000000", block},
      {"write-block", "0", folder.path("missing.bin")},
      {"write-block", "0"},
  };
  for (const auto& args : cases) {
    std::string err;
    EXPECT_EQ(run_cli(args, nullptr, &err), 2) << args[0] << " " << args.size();
    EXPECT_NE(err, "") << args[0];
  }
  EXPECT_TRUE(device.trace().empty()) << "the device was not even opened";
}

TEST_F(RunnerDeviceTest, SystemCommandsReachTheDeviceOverTheDrive) {
  std::string out;
  ASSERT_EQ(run_cli({"request-boot", "1"}, &out), 0);
  EXPECT_TRUE(device.system().boot_requested);
  EXPECT_NE(out.find("Boot request sent (flag 1)\n"), std::string::npos);
  ASSERT_EQ(run_cli({"request-boot", "0"}), 0);
  EXPECT_FALSE(device.system().boot_requested);

  ASSERT_EQ(run_cli({"put-parameter", "0xFFFFFFFF"}), 0);
  EXPECT_EQ(device.system().parameter, 0xFFFFFFFFu);

  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ 0x5A);
  write_whole_file(folder.path("block.bin"), data);
  ASSERT_EQ(run_cli({"write-block", "0xFFFFF000", folder.path("block.bin")}, &out), 0);
  EXPECT_NE(out.find("Wrote 300 bytes at 0xFFFFF000\n"), std::string::npos) << out;
  for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(device.system().read(0xFFFFF000u + i), data[i]);

  ASSERT_EQ(run_cli({"get-word", "0xFFFFF002"}, &out), 0);
  EXPECT_NE(out.find("Word at 0xFFFFF002: 0x5958\n"), std::string::npos) << out;

  // 300 bytes from 0xFFFFFFF0 would run past 32 bits; from 0xFFFFFED4 they end at the last.
  ASSERT_EQ(run_cli({"write-block", "0xFFFFFFF0", folder.path("block.bin")}), 2);
  ASSERT_EQ(run_cli({"write-block", "0xFFFFFED4", folder.path("block.bin")}), 0);
  ASSERT_EQ(run_cli({"write-block", "0xFFFFFED5", folder.path("block.bin")}), 2);
}

TEST_F(RunnerDeviceTest, SystemCommandsOverHidKeepTo24BitAddresses) {
  add_hid();
  std::vector<uint8_t> data(100, 0xA5);
  write_whole_file(folder.path("block.bin"), data);
  std::string out;
  ASSERT_EQ(run_cli({"write-block", "0xFFFF00", folder.path("block.bin")}), 0);
  EXPECT_EQ(hid.system().read(0xFFFF63), 0xA5);
  ASSERT_EQ(run_cli({"get-word", "0xFFFF00"}, &out), 0);
  EXPECT_NE(out.find("Word at 0xFFFF00: 0xA5A5A5A5\n"), std::string::npos) << out;
  ASSERT_EQ(run_cli({"write-block", "0xFFFFA0", folder.path("block.bin")}), 2);
  // The last byte may be the last address the link names, and no further.
  ASSERT_EQ(run_cli({"write-block", "0xFFFF9C", folder.path("block.bin")}), 0);
  EXPECT_EQ(hid.system().read(0xFFFFFF), 0xA5);
  ASSERT_EQ(run_cli({"write-block", "0xFFFF9D", folder.path("block.bin")}), 2);
  ASSERT_EQ(run_cli({"get-word", "0x1000000"}), 2);
  ASSERT_EQ(run_cli({"request-boot", "1"}), 0);
  EXPECT_TRUE(hid.system().boot_requested);
  EXPECT_EQ(hid.reports().back().data[0], 20);
}

TEST_F(RunnerDeviceTest, HidWithoutADeviceDriveIsNoDevice) {
  add_hid();
  vdev::attach({});
  std::string err;
  EXPECT_EQ(run_cli({"put-parameter", "5"}, nullptr, &err), 3);
  // The line the entry prints too, and why: the device answered, its drive is not there.
  EXPECT_EQ(err, std::string("Open device error.\n") + kHidWithoutDrive + "\n");
  EXPECT_EQ(hid.system().parameter, 0u);
  // With neither, the line stands alone.
  vdev::attach_hid({});
  EXPECT_EQ(run_cli({"put-parameter", "5"}, nullptr, &err), 3);
  EXPECT_EQ(err, "Open device error.\n");
}

// A word read whose request did not go out or whose answer never came is a failed job, not a
// word of 0. Writes fail when their report did not go out; their answers carry nothing, so a
// lost answer alone does not undo a write the device took.
TEST_F(RunnerDeviceTest, SystemCommandsOverHidThatGotNoAnswerFail) {
  add_hid();
  write_whole_file(folder.path("block.bin"), std::vector<uint8_t>(100, 0xA5));
  struct Case {
    const char* what;
    vdev::HidFault write, read;
    bool mute;
    bool writes_went;
  };
  const Case cases[] = {
      {"request timed out", vdev::HidFault::time_out, vdev::HidFault::none, false, false},
      {"request failed", vdev::HidFault::failure, vdev::HidFault::none, false, false},
      {"answer timed out", vdev::HidFault::none, vdev::HidFault::time_out, false, true},
      {"answer failed", vdev::HidFault::none, vdev::HidFault::failure, false, true},
      {"never answers", vdev::HidFault::none, vdev::HidFault::none, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hid.faults().write = c.write;
    hid.faults().read = c.read;
    hid.faults().mute = c.mute;
    hid.system() = {};
    std::string out, err;
    EXPECT_EQ(run_cli({"get-word", "0x10"}, &out, &err), 1);
    EXPECT_EQ(out.find("Word at"), std::string::npos) << out;
    EXPECT_NE(err.find("did not answer the word read"), std::string::npos) << err;
    const int write_exit = c.writes_went ? 0 : 1;
    EXPECT_EQ(run_cli({"put-parameter", "7"}, &out, &err), write_exit) << err;
    EXPECT_EQ(run_cli({"write-block", "0x20", folder.path("block.bin")}, &out, &err), write_exit)
        << err;
    EXPECT_EQ(run_cli({"request-boot", "1"}, &out, &err), write_exit) << err;
    EXPECT_EQ(hid.system().parameter, c.writes_went ? 7u : 0u);
    EXPECT_EQ(hid.system().boot_requested, c.writes_went);
  }
}

}  // namespace
