// Discovery against virtual devices on virtual drives.
#include <cstring>
#include <string>

#include "link/discovery.h"
#include "link/link_state.h"
#include "tests/fault_ops.h"
#include "tests/support.h"

namespace {

using vdev::KeySource;
using vdev::StatusFile;
using vdev::TraceEvent;

size_t count_commands(const vdev::Device& d) {
  size_t n = 0;
  for (const auto& e : d.trace()) n += e.kind == TraceEvent::Kind::command_file;
  return n;
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_program_state(); }
  void TearDown() override {
    vdev::detach();
    reset_program_state();
  }
};

TEST_F(DiscoveryTest, FirstRemovableDriveWithTheDeviceWins) {
  vdev::Device fixed, lowercase, digit, missing, short_file, wanted, later;
  lowercase.config().name = "nES_HWRKA_FW400";
  digit.config().name = "4NES";
  missing.config().status_file = StatusFile::missing;
  short_file.config().status_file = StatusFile::short_file;
  wanted.config().name = "CARTLINK DEVICE";
  later.config().name = "LATER";
  vdev::attach({{"/v/A/", false, &fixed},
                {"/v/B/", true, nullptr},
                {"/v/C/", true, &lowercase},
                {"/v/D/", true, &digit},
                {"/v/E/", true, &missing},
                {"/v/F/", true, &short_file},
                {"/v/G/", true, &wanted},
                {"/v/H/", true, &later}});
  ASSERT_TRUE(open_device());
  EXPECT_STREQ(g_link.root_path, "/v/G/");
  EXPECT_STREQ(g_link.device_name, "CARTLINK DEVICE");
  EXPECT_FALSE(g_link.hid_link);
  EXPECT_TRUE(fixed.trace().empty()) << "a fixed drive is never read";
  EXPECT_TRUE(later.trace().empty()) << "drives after the device are not examined";
  EXPECT_EQ(count_commands(lowercase) + count_commands(digit), 0u);
}

TEST_F(DiscoveryTest, NoDeviceFailsAndLeavesTheLastRootExamined) {
  vdev::Device lowercase;
  lowercase.config().name = "device";
  vdev::attach({{"/v/C/", true, &lowercase}, {"/v/D/", false, nullptr}});
  EXPECT_FALSE(open_device());
  EXPECT_STREQ(g_link.root_path, "/v/D/");
  EXPECT_STREQ(g_link.device_name, "");
  vdev::attach({});
  EXPECT_FALSE(open_device());
}

TEST_F(DiscoveryTest, KeyFromTheStatusSectorSendsNoCommand) {
  vdev::Device d;
  d.config().key_source = KeySource::status_sector;
  vdev::attach({{"/v/E/", true, &d}});
  ASSERT_TRUE(open_device());
  EXPECT_EQ(count_commands(d), 0u);
  EXPECT_EQ(0, std::memcmp(g_link.key_data, d.config().key.data(), 8));
}

TEST_F(DiscoveryTest, KeyByRequestSendsOneSystemCommandAndReadsOffsetZero) {
  vdev::Device d;
  d.config().key_source = KeySource::request;
  vdev::attach({{"/v/E/", true, &d}});
  ASSERT_TRUE(open_device());
  ASSERT_EQ(count_commands(d), 1u);
  ASSERT_EQ(d.packets().size(), 1u);
  EXPECT_TRUE(d.packets()[0].accepted);
  EXPECT_EQ(d.packets()[0].family, 240);
  EXPECT_EQ(d.packets()[0].sub, 4);
  const TraceEvent& last = d.trace().back();
  EXPECT_EQ(last.kind, TraceEvent::Kind::reply_read);
  EXPECT_EQ(last.offset, 0u);
  EXPECT_EQ(0, std::memcmp(g_link.key_data, d.config().key.data(), 8));
  EXPECT_EQ(g_link.command_counter, 1);
  EXPECT_FALSE(g_link.key_missing);
}

// The device is found all the same, but a key whose request or answer was lost is known not
// to be the device's.
TEST_F(DiscoveryTest, LostKeyRequestOrAnswerLeavesTheKeyMissing) {
  struct Case {
    const char* what;
    Fault fault;
    uint32_t nth;
    bool key_missing;
  };
  const Case cases[] = {
      {"all went", Fault::none, 0, false},
      {"request not written", Fault::write_error, 1, true},
      {"answer not read", Fault::read_error, 2, true},
      {"answer short", Fault::short_read, 2, true},
  };
  for (const Case& c : cases) {
    reset_program_state();
    vdev::Device d;
    d.config().key_source = KeySource::request;
    vdev::attach({{"/v/E/", true, &d}});
    fault_install(c.fault, c.nth, "/v/E/");
    EXPECT_TRUE(open_device()) << c.what;
    fault_remove();
    EXPECT_EQ(g_link.key_missing, c.key_missing) << c.what;
    vdev::detach();
  }
}

TEST_F(DiscoveryTest, DateNumberParse) {
  vdev::Device d;
  vdev::attach({{"/v/E/", true, &d}});
  const std::pair<const char*, uint32_t> cases[] = {
      {"00012345", 12345u}, {"20210926", 20210926u}, {"none", 0u}, {"", 0u},
      {"-1", 0xFFFFFFFFu},  {" +42x", 42u}};
  for (const auto& [digits, expected] : cases) {
    d.config().date_digits = digits;
    ASSERT_TRUE(open_device());
    EXPECT_EQ(g_link.date_number, expected) << "digits \"" << digits << "\"";
  }
}

TEST_F(DiscoveryTest, DeviceNameIsBoundedAt61Characters) {
  vdev::Device d;
  d.config().name = std::string(256, 'N');  // fills the sector up to "BOOT", no terminator
  vdev::attach({{"/v/E/", true, &d}});
  ASSERT_TRUE(open_device());
  EXPECT_EQ(std::strlen(g_link.device_name), 61u);

  // A later discovery clears the whole field before it fills it again.
  d.config().name = "SHORT";
  ASSERT_TRUE(open_device());
  EXPECT_STREQ(g_link.device_name, "SHORT");
  EXPECT_EQ(g_link.device_name[61], '\0');
}

}  // namespace
