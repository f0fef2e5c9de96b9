// The device's system commands when a command file cannot be written: a failure is never
// reported as a command sent, and a two-packet request never reaches the device half.
#include <gtest/gtest.h>

#include <cstring>
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
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
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

}  // namespace
