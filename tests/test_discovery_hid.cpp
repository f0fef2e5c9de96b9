// Discovery over HID: the HID device first, its name and key from the two queries, and the
// device drive located for the command files, or the drive transport refused when there is none.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/entry.h"
#include "link/discovery.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/hid.h"
#include "tests/support.h"
#include "virtual_device/hid_device.h"

namespace {

using vdev::HidFault;

class HidDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_program_state();
    drive.config().name = "DRIVE NAME";
    drive.config().key_source = vdev::KeySource::request;
    drive.config().identity = "NES_HWRKA_FW401";
    hid.config().name = "HID NAME";
    hid.config().key = {1, 2, 3, 4, 5, 6, 7, 8};
  }
  void TearDown() override {
    hid_close_all();
    vdev::detach();
    reset_program_state();
  }

  size_t command_files(const vdev::Device& d) const {
    size_t n = 0;
    for (const auto& e : d.trace()) n += e.kind == vdev::TraceEvent::Kind::command_file;
    return n;
  }

  vdev::Device drive;
  vdev::HidDevice hid;
};

TEST_F(HidDiscoveryTest, HidIsChosenAndTheDriveOnlyLocated) {
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  ASSERT_TRUE(open_device());
  EXPECT_TRUE(g_link.hid_link);
  EXPECT_STREQ(g_link.device_name, "HID NAME");
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(0, std::memcmp(g_link.key_data, key, 8));
  EXPECT_EQ(g_link.date_number, 0u) << "the status sector's date is not taken over HID";
  EXPECT_STREQ(g_link.root_path, "/v/E/");
  EXPECT_FALSE(g_link.drive_refused);
  EXPECT_EQ(command_files(drive), 0u) << "no key request: the key came over HID";
  ASSERT_EQ(hid.reports().size(), 2u);
  EXPECT_EQ(hid.reports()[0].data[0], 17);
  EXPECT_EQ(hid.reports()[1].data[0], 16);

  // The command families then reach the located drive.
  identify_device();
  EXPECT_TRUE(drive.identified());
  EXPECT_EQ(g_link.protocol_level, 401);
}

TEST_F(HidDiscoveryTest, SilentOrFailingHidDeviceStillCounts) {
  struct Case {
    const char* what;
    bool mute;
    HidFault read;
    HidFault write;
  };
  const Case cases[] = {{"never answers", true, HidFault::none, HidFault::none},
                        {"reads time out", false, HidFault::time_out, HidFault::none},
                        {"reads fail", false, HidFault::failure, HidFault::none},
                        {"writes fail", false, HidFault::none, HidFault::failure}};
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  for (const Case& c : cases) {
    hid.faults().mute = c.mute;
    hid.faults().read = c.read;
    hid.faults().write = c.write;
    std::memset(g_link.key_data, 0xAA, sizeof g_link.key_data);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(open_device()) << c.what;
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(g_link.hid_link) << c.what;
    EXPECT_STREQ(g_link.device_name, "") << c.what;
    const uint8_t zeros[8] = {};
    EXPECT_EQ(0, std::memcmp(g_link.key_data, zeros, 8)) << c.what;
    // Taken all the same, but what did not come is known: the zeros never key a write.
    EXPECT_TRUE(g_link.name_missing) << c.what;
    EXPECT_TRUE(g_link.key_missing) << c.what;
  }
}

TEST_F(HidDiscoveryTest, KeyCountsAsTheDevicesOnlyWhenAllEightBytesCame) {
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  struct Case {
    int32_t transfer;  // bytes each answer completes with, report ID included
    bool key_missing;
  };
  for (const Case c : {Case{-1, false}, Case{9, false}, Case{8, true}, Case{2, true}}) {
    hid.faults().answer_transfer = c.transfer;
    ASSERT_TRUE(open_device());
    EXPECT_FALSE(g_link.name_missing) << c.transfer;
    EXPECT_EQ(g_link.key_missing, c.key_missing) << c.transfer;
  }
  // A device whose key is eight zero bytes gave it all the same.
  hid.faults().answer_transfer = -1;
  hid.config().key = {};
  ASSERT_TRUE(open_device());
  EXPECT_FALSE(g_link.key_missing);
}

TEST_F(HidDiscoveryTest, NameIsBoundedAndTheLastByteForcedToZero) {
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  struct Case {
    std::string name;
    size_t length;
  };
  for (const Case& c : {Case{std::string(64, 'N'), 61u}, Case{std::string(61, 'N'), 61u},
                        Case{std::string(60, 'N'), 60u}, Case{"", 0u}}) {
    hid.config().name = c.name;
    ASSERT_TRUE(open_device());
    EXPECT_EQ(std::strlen(g_link.device_name), c.length) << c.name.size();
  }
}

TEST_F(HidDiscoveryTest, SecondEnumerationFindsALateDevice) {
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  hid.faults().missed_enumerations = 1;
  ASSERT_TRUE(open_device());
  EXPECT_TRUE(g_link.hid_link) << "the second try found it";

  hid.faults().missed_enumerations = 2;
  ASSERT_TRUE(open_device());
  EXPECT_FALSE(g_link.hid_link) << "two tries only, then the drive";
  EXPECT_STREQ(g_link.device_name, "DRIVE NAME");
}

TEST_F(HidDiscoveryTest, NoAccessOrOtherDevicesFallBackToTheDriveQuietly) {
  struct Case {
    const char* what;
    bool accessible;
    uint16_t product;
  };
  vdev::attach({{"/v/E/", true, &drive}});
  for (const Case& c : {Case{"no access to the node", false, 0x5750},
                        Case{"another product", true, 0x5751}}) {
    hid.config().accessible = c.accessible;
    hid.config().product_id = c.product;
    vdev::attach_hid({&hid});
    testing::internal::CaptureStdout();
    ASSERT_TRUE(open_device()) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.what;
    EXPECT_FALSE(g_link.hid_link) << c.what;
    EXPECT_STREQ(g_link.device_name, "DRIVE NAME") << c.what;
    EXPECT_FALSE(hid.is_open()) << c.what;
  }
}

TEST_F(HidDiscoveryTest, WithoutADeviceDriveTheDriveTransportIsRefused) {
  TempDir folder;
  vdev::Device lowercase;
  lowercase.config().name = "not the device";
  vdev::attach({{folder.root(), false, nullptr}, {"/v/F/", true, &lowercase}});
  vdev::attach_hid({&hid});
  ASSERT_TRUE(open_device());
  EXPECT_TRUE(g_link.hid_link);
  EXPECT_TRUE(g_link.drive_refused);
  EXPECT_STREQ(g_link.root_path, "");
  EXPECT_STREQ(g_link.device_name, "HID NAME");

  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder.root());
  uint8_t packet[512] = {0, 14, 1};
  EXPECT_EQ(send_command(packet, sizeof packet), 0u);
  EXPECT_EQ(packet[0], 0) << "nothing framed, nothing sent";
  EXPECT_EQ(g_link.command_counter, 0);
  write_whole_file(folder.path("T-DRIVER.DMP"), std::vector<uint8_t>(9216, 'A'));
  uint8_t reply[16];
  std::memset(reply, 0x5C, sizeof reply);
  EXPECT_EQ(read_reply(0, reply, sizeof reply), 0u);
  EXPECT_EQ(read_dump(0, reply, sizeof reply), 0u);
  EXPECT_EQ(reply[0], 0x5C) << "the caller's buffer is untouched";
  identify_device();
  EXPECT_EQ(g_link.protocol_level, 0);
  std::filesystem::current_path(before);
  EXPECT_FALSE(std::filesystem::exists(folder.path("CMD0.CMD")));
  EXPECT_TRUE(lowercase.trace().size() == 1u) << "only the status sector was read";

  // A later discovery that finds a drive lifts the refusal.
  hid.config().accessible = false;
  vdev::attach({{"/v/E/", true, &drive}});
  ASSERT_TRUE(open_device());
  EXPECT_FALSE(g_link.drive_refused);
}

TEST_F(HidDiscoveryTest, CloseDeviceClosesTheHidDeviceOnly) {
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  ASSERT_TRUE(open_device());
  close_device();
  EXPECT_FALSE(hid.is_open());
  EXPECT_EQ(hid.closes(), 1u);

  ASSERT_TRUE(open_device());  // the list is rebuilt
  EXPECT_TRUE(hid.is_open());
  hid.config().accessible = false;
  ASSERT_TRUE(open_device());
  EXPECT_FALSE(g_link.hid_link);
  close_device();  // the drive link needs no closing
  EXPECT_EQ(hid.closes(), 2u);
}

// The entry in a child process, as in the entry's own tests; returns its standard output.
std::string run_entry_in(const TempDir& folder) {
  const std::string out_path = folder.path(".stdout");
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        chdir(folder.root().c_str()) != 0) {
      _exit(99);
    }
    save_ram_dump();
  }
  int status = 0;
  if (child <= 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return "(the entry did not end with exit code 0)";
  }
  const auto bytes = read_whole_file(out_path);
  std::filesystem::remove(out_path);
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(HidDiscoveryTest, EntryReportsOpenDeviceErrorWithoutADeviceDrive) {
  TempDir folder;
  vdev::attach({});
  vdev::attach_hid({&hid});
  EXPECT_EQ(run_entry_in(folder), std::string("Open device error.\n") + kHidWithoutDrive +
                                      "\nPlease press any key to exit...\n");
  EXPECT_FALSE(std::filesystem::exists(folder.path("CMD0.CMD")));
  EXPECT_FALSE(std::filesystem::exists(folder.path("f90.sav")));
}

TEST_F(HidDiscoveryTest, EntryRunsOverHidWithTheDeviceDrive) {
  TempDir folder;
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  const std::string out = run_entry_in(folder);
  EXPECT_EQ(out.rfind("Device: HID NAME\n", 0), 0u) << out;
  EXPECT_NE(out.find("Save to file f90.sav\n"), std::string::npos) << out;
  EXPECT_EQ(read_whole_file(folder.path("f90.sav")).size(), 8320u);
}

}  // namespace

namespace {

// Answers of any content: the name and key are taken from whatever the two queries bring back,
// and the device answers as configured again once the replaced answers are used up.
TEST_F(HidDiscoveryTest, NameAndKeyComeFromReplacedAnswers) {
  vdev::attach({{"/v/E/", true, &drive}});
  vdev::attach_hid({&hid});
  std::vector<uint8_t> name(70, 'Z');  // longer than a report: cut to 64, then to the name room
  name[3] = 0xFF;
  hid.faults().replaced_answers = {name, {9, 8, 7, 6, 5, 4, 3, 2, 1}};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(std::strlen(g_link.device_name), kDeviceNameMax);
  EXPECT_EQ(static_cast<uint8_t>(g_link.device_name[3]), 0xFF);
  const uint8_t key[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  EXPECT_EQ(std::memcmp(g_link.key_data, key, sizeof key), 0);
  EXPECT_TRUE(hid.faults().replaced_answers.empty());

  ASSERT_TRUE(open_device());
  EXPECT_STREQ(g_link.device_name, "HID NAME");
}

}  // namespace
