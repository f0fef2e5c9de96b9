// The device's system commands when a command file cannot be written: a failure is never
// reported as a command sent, and a two-packet request never reaches the device half.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/device_control.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/hid.h"
#include "platform/seam.h"
#include "tests/support.h"
#include "virtual_device/hid_device.h"

namespace {

using vdev::HidFault;

// Wraps the virtual device's file calls and refuses the command files chosen by number.
const PlatformOps* g_inner = nullptr;
uint32_t g_writes = 0;
uint32_t g_refused_mask = 0;  // bit n: the n-th command file written (from 0) fails

uint32_t refusing_write(const char* name, const uint8_t* data, uint32_t count) {
  const bool command = std::strstr(name, ".CMD") != nullptr;
  if (command && (g_refused_mask >> g_writes++ & 1u) != 0) return 0;
  return g_inner->write_file(name, data, count);
}

class DeviceControlFailureTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    use_virtual_root();
    g_inner = plat_installed_ops();
    ASSERT_NE(g_inner, nullptr);
    wrapped = *g_inner;
    wrapped.write_file = refusing_write;
    plat_install_ops(&wrapped);
    g_writes = 0;
  }
  void TearDown() override {
    plat_install_ops(g_inner);
    VirtualDeviceTest::TearDown();
  }

  PlatformOps wrapped{};
};

TEST_F(DeviceControlFailureTest, BootRequestOverTheDriveIsNeverHalfSent) {
  struct Case {
    const char* what;
    uint32_t refused_mask;
    uint32_t result;
    size_t files_at_device;
    bool booted;
  };
  const Case cases[] = {
      {"both written", 0b00, kPacketSize, 2, true},
      {"first refused: the second is not sent", 0b01, 0, 0, false},
      {"second refused", 0b10, 0, 1, false},
  };
  for (const Case& c : cases) {
    device.clear_trace();
    device.system().boot_requested = false;
    g_writes = 0;
    g_refused_mask = c.refused_mask;
    EXPECT_EQ(sys_request_boot(1), c.result) << c.what;
    EXPECT_EQ(command_files().size(), c.files_at_device) << c.what;
    EXPECT_EQ(device.system().boot_requested, c.booted) << c.what;
  }
  EXPECT_EQ(device.system().refused, 0u) << "no confirmation ever arrived alone";
}

// A block near the largest count needs a command buffer of 4 GiB: memory that is not there
// refuses the write (result 0, nothing sent) rather than end the program.
TEST_F(DeviceControlFailureTest, BlockWithoutMemoryForItsCommandIsRefused) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit and the sanitizer's shadow memory do not mix";
#endif
  const std::vector<uint8_t> data(16, 0x5A);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    constexpr rlim_t kTwoGiB = rlim_t{2} << 30;
    const rlimit limit{kTwoGiB, kTwoGiB};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
    // 8,388,607 packets: the largest count one command file can carry.
    _exit(sys_write_block(0, data.data(), 0x7FFFFF00) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the program ended on signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(command_files().empty());
}

// Over HID: a report that did not go out is not reported as a command carried out.
class HidControlFailureTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    vdev::attach_hid({&hid});
    g_link.hid_link = true;
    ASSERT_EQ(hid_open_devices(1, 0x0483, 0x5750, -1, -1), 1);
  }
  void TearDown() override {
    hid_close_all();
    VirtualDeviceTest::TearDown();
  }

  vdev::HidDevice hid{{}, &device.system()};
};

TEST_F(HidControlFailureTest, ReportsThatDidNotGoOutReturnZero) {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3 + 1);
  struct Case {
    const char* what;
    vdev::HidFault write;
    uint32_t result;
  };
  const Case cases[] = {
      {"written", vdev::HidFault::none, 1},
      {"write timed out", vdev::HidFault::time_out, 0},
      {"write failed", vdev::HidFault::failure, 0},
  };
  for (const Case& c : cases) {
    hid.faults().write = c.write;
    device.system() = {};
    testing::internal::CaptureStdout();  // the "err" lines of the failed writes
    EXPECT_EQ(sys_request_boot(1), c.result) << c.what;
    EXPECT_EQ(sys_put_parameter(0x11223344), c.result) << c.what;
    EXPECT_EQ(sys_write_block(0x100, data.data(), 300), c.result) << c.what;
    EXPECT_EQ(sys_write_block(0x100, nullptr, 0), 1u) << "nothing to send: " << c.what;
    testing::internal::GetCapturedStdout();
    const bool went = c.write == vdev::HidFault::none;
    EXPECT_EQ(device.system().boot_requested, went) << c.what;
    EXPECT_EQ(device.system().parameter, went ? 0x11223344u : 0u) << c.what;
    EXPECT_EQ(device.system().memory.size(), went ? 300u : 0u) << c.what;
  }
}

// Every block write over HID stops at the first report that does not go out and says so:
// nothing lands behind a hole, and the caller is not told the block went.
TEST_F(HidControlFailureTest, EveryBlockWriteStopsAtTheFirstLostReportAndSaysSo) {
  const std::vector<uint8_t> data = pattern_bytes(200);  // 4 reports of 56, or 7 of 32 bytes
  struct Case {
    const char* what;
    std::function<uint32_t()> write;
    uint8_t code;
  };
  const Case cases[] = {
      {"sys_write_block", [&] { return sys_write_block(0x100, data.data(), 200); }, 25},
      {"hid_write_block", [&] { return hid_write_block(0x100, data.data(), 200); }, 24},
      {"hid_write_block_32", [&] { return hid_write_block_32(0x100, data.data(), 192); }, 129},
  };
  for (const Case& c : cases) {
    for (const HidFault fault : {HidFault::time_out, HidFault::failure}) {
      SCOPED_TRACE(std::string(c.what) + (fault == HidFault::time_out ? " time-out" : " failure"));
      hid.faults().write = fault;
      hid.faults().writes_before_fault = 1;  // the second report is lost
      device.system() = {};
      g_link.io_failed = false;
      const size_t before = hid.reports().size();
      testing::internal::CaptureStdout();
      EXPECT_EQ(c.write(), 0u);
      testing::internal::GetCapturedStdout();
      EXPECT_TRUE(g_link.io_failed);
      ASSERT_EQ(hid.reports().size(), before + 1) << "nothing after the lost report";
      EXPECT_EQ(hid.reports().back().data[0], c.code);
      // Only the first piece reached the device's memory.
      const size_t first_piece = c.code == 129 ? 32 : 56;
      EXPECT_EQ(device.system().memory.size(), first_piece);
    }
  }
  hid.faults().write = HidFault::none;
  for (const Case& c : cases) EXPECT_EQ(c.write(), 1u) << c.what;
}

// An answer that carries what was asked for and never came is a loss the caller learns of; an
// answer that carries nothing is not waited for.
TEST_F(HidControlFailureTest, MissingAnswersRaiseTheFlagOnlyWhereTheyCarrySomething) {
  hid.faults().read = HidFault::time_out;
  uint8_t buffer[64] = {};
  g_link.io_failed = false;
  hid_read_32(buffer);
  EXPECT_TRUE(g_link.io_failed) << "32-byte read";
  g_link.io_failed = false;
  EXPECT_EQ(hid_query(kHidQuery18, buffer), 0);
  EXPECT_TRUE(g_link.io_failed) << "query";
  g_link.io_failed = false;
  EXPECT_EQ(sys_put_parameter(5), 1u);
  EXPECT_FALSE(g_link.io_failed) << "parameter write";
}

// A block write stops at the first report that does not go out: nothing lands behind a hole.
TEST_F(HidControlFailureTest, BlockWriteStopsAtTheFirstLostReport) {
  std::vector<uint8_t> data(200, 0xA5);
  hid.faults().write = vdev::HidFault::time_out;
  const size_t before = hid.reports().size();
  EXPECT_EQ(sys_write_block(0, data.data(), 200), 0u);
  EXPECT_EQ(hid.reports().size(), before) << "a timed-out report is not taken";
  hid.faults().write = vdev::HidFault::none;
  EXPECT_EQ(sys_write_block(0, data.data(), 200), 1u);
  EXPECT_EQ(hid.reports().size(), before + 4);
}

}  // namespace
