// The HID transport's list and bounds against virtual HID devices at the seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/seam.h"
#include "tests/support.h"
#include "virtual_device/hid_device.h"

namespace {

using vdev::HidDevice;
using vdev::HidFault;

constexpr int32_t kVendor = 0x0483;
constexpr int32_t kProduct = 0x5750;

class HidTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_program_state();
    vdev::attach({});
    vdev::attach_hid({&first, &second});
  }
  void TearDown() override {
    hid_close_all();
    vdev::detach();
    reset_program_state();
  }

  // Opens the first device and has it queue one answer (the name query).
  void open_with_answer() {
    ASSERT_EQ(hid_open_devices(1, kVendor, kProduct, -1, -1), 1);
    uint8_t query[64] = {17};
    ASSERT_EQ(hid_write_report(0, query, sizeof query, 100), 64);
  }

  HidDevice first;
  HidDevice second;
};

TEST_F(HidTransportTest, ReadDropsTheReportIdAndReportsWhatCompleted) {
  first.config().name = "NAME TEXT";
  struct Case {
    int32_t transfer;  // bytes the read completes with, report ID included
    int32_t result;
  };
  for (const Case c : {Case{65, 64}, Case{33, 32}, Case{1, 0}, Case{0, -1}}) {
    open_with_answer();
    first.faults().answer_transfer = c.transfer;
    uint8_t buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_EQ(hid_read_report(0, buffer, sizeof buffer, 100), c.result) << c.transfer;
    // Data lands from the caller's byte 0 (the report ID is not delivered); the rest stays.
    std::vector<uint8_t> expected(64, 0xEE);
    const size_t delivered = c.result > 0 ? static_cast<size_t>(c.result) : 0;
    std::fill_n(expected.begin(), delivered, 0);
    std::memcpy(expected.data(), "NAME TEXT", std::min<size_t>(delivered, 9));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 64), expected) << c.transfer;
  }
}

TEST_F(HidTransportTest, LengthBoundsAt515DataBytes) {
  ASSERT_EQ(hid_open_devices(1, kVendor, kProduct, -1, -1), 1);
  std::vector<uint8_t> data(516, 0x5A);
  EXPECT_EQ(hid_write_report(0, data.data(), 516, 100), -1);
  EXPECT_TRUE(first.reports().empty()) << "a refused length never reaches the device";
  EXPECT_EQ(hid_write_report(0, data.data(), 515, 100), 515);
  ASSERT_EQ(first.reports().size(), 1u);
  EXPECT_EQ(first.reports()[0].report_id, 0);
  EXPECT_EQ(first.reports()[0].data.size(), 515u);

  uint8_t query[64] = {17};
  hid_write_report(0, query, sizeof query, 100);
  EXPECT_EQ(hid_read_report(0, data.data(), 516, 100), -1);
  EXPECT_EQ(first.pending_answers(), 1u) << "a refused read takes nothing";
  EXPECT_EQ(hid_read_report(0, data.data(), 515, 100), 64);
  EXPECT_EQ(hid_read_report(0, data.data(), UINT32_MAX, 100), -1) << "length + 1 wraps";
  EXPECT_EQ(hid_write_report(0, data.data(), UINT32_MAX, 100), -1);
}

TEST_F(HidTransportTest, TimeOutLeavesTheBufferUntouched) {
  struct Case {
    const char* what;
    HidFault read;
    bool answer_queued;
  };
  for (const Case c : {Case{"device times out", HidFault::time_out, true},
                       Case{"no answer comes", HidFault::none, false}}) {
    ASSERT_EQ(hid_open_devices(1, kVendor, kProduct, -1, -1), 1);
    if (c.answer_queued) {
      uint8_t query[64] = {16};
      hid_write_report(0, query, sizeof query, 100);
    }
    first.faults().read = c.read;
    uint8_t buffer[64];
    std::memset(buffer, 0xC3, sizeof buffer);
    testing::internal::CaptureStdout();
    EXPECT_EQ(hid_read_report(0, buffer, sizeof buffer, 100), 0) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a time-out prints nothing";
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xC3) << c.what;
    first.faults().read = HidFault::none;
  }
  first.faults().write = HidFault::time_out;
  uint8_t report[64] = {23, 1, 2, 3, 4};
  EXPECT_EQ(hid_write_report(0, report, sizeof report, 100), 0);
  EXPECT_EQ(first.system().parameter, 0u) << "a report that timed out was not taken";
}

TEST_F(HidTransportTest, EnumeratingAgainClosesAndForgetsTheFirstList) {
  ASSERT_EQ(hid_open_devices(2, kVendor, kProduct, -1, -1), 2);
  EXPECT_TRUE(first.is_open() && second.is_open());
  ASSERT_EQ(hid_open_devices(1, kVendor, kProduct, -1, -1), 1);
  EXPECT_EQ(first.closes(), 1u);
  EXPECT_EQ(second.closes(), 1u);
  EXPECT_EQ(first.opens(), 2u);
  EXPECT_FALSE(second.is_open());
  uint8_t report[64] = {17};
  EXPECT_EQ(hid_write_report(1, report, sizeof report, 100), -1) << "index 1 is gone";
  EXPECT_TRUE(second.reports().empty());

  // A refused maximum still empties the list first.
  EXPECT_EQ(hid_open_devices(0, kVendor, kProduct, -1, -1), 0);
  EXPECT_FALSE(first.is_open());
  EXPECT_EQ(hid_write_report(0, report, sizeof report, 100), -1);
}

TEST_F(HidTransportTest, FiltersOfZeroOrLessMeanAny) {
  second.config().vendor_id = 0x1234;
  second.config().usage_page = 0x0001;
  struct Case {
    int32_t max, vendor, product, usage_page, usage;
    int32_t opened;
  };
  const Case cases[] = {
      {8, kVendor, kProduct, -1, -1, 1},      // usage page and usage: any
      {8, 0, 0, 0, 0, 2},                     // no filter at all
      {8, -1, kProduct, -1, -1, 2},
      {8, 0x1234, -1, -1, -1, 1},
      {8, kVendor, kProduct, 0xFF00, 1, 1},
      {8, -1, -1, 0x0001, -1, 1},             // usage page from the capabilities
      {8, kVendor, kProduct, 0xFF00, 2, 0},   // usage differs
      {8, kVendor, 0x5751, -1, -1, 0},
      {8, 0x10483, -1, -1, -1, 0},            // wider than 16 bits matches nothing
      {1, -1, -1, -1, -1, 1},                 // stops at the maximum
      {-1, -1, -1, -1, -1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hid_open_devices(c.max, c.vendor, c.product, c.usage_page, c.usage), c.opened)
        << c.max << " " << c.vendor << " " << c.product << " " << c.usage_page << " " << c.usage;
  }
}

TEST_F(HidTransportTest, ClosedIndexFailsThroughTheErrorExit) {
  ASSERT_EQ(hid_open_devices(2, kVendor, kProduct, -1, -1), 2);
  hid_close_device(0);
  EXPECT_FALSE(first.is_open());
  hid_close_device(0);  // closing again does nothing more
  EXPECT_EQ(first.closes(), 1u);
  uint8_t buffer[64] = {17};
  testing::internal::CaptureStdout();
  EXPECT_EQ(hid_write_report(0, buffer, sizeof buffer, 100), -1);
  EXPECT_EQ(hid_read_report(0, buffer, sizeof buffer, 100), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "err 6: The handle is invalid.\nerr 6: The handle is invalid.\n");
  EXPECT_EQ(hid_write_report(1, buffer, sizeof buffer, 100), 64) << "index 1 still works";
}

TEST_F(HidTransportTest, BadIndexFailsWithoutAMessage) {
  ASSERT_EQ(hid_open_devices(1, kVendor, kProduct, -1, -1), 1);
  uint8_t buffer[64] = {17};
  testing::internal::CaptureStdout();
  for (int32_t index : {-1, 1, 2, INT32_MAX}) {
    EXPECT_EQ(hid_write_report(index, buffer, sizeof buffer, 100), -1) << index;
    EXPECT_EQ(hid_read_report(index, buffer, sizeof buffer, 100), -1) << index;
  }
  EXPECT_EQ(hid_read_report(0, nullptr, 64, 100), -1);
  EXPECT_EQ(hid_write_report(0, nullptr, 64, 100), -1);
  hid_close_all();
  EXPECT_EQ(hid_write_report(0, buffer, sizeof buffer, 100), -1) << "the list is empty";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(first.is_open());
}

TEST_F(HidTransportTest, SystemFailurePrintsTheErrorLine) {
  open_with_answer();
  first.faults().read = HidFault::failure;
  first.faults().error_code = 31;
  first.faults().error_text = "A device attached to the system is not functioning.";
  uint8_t buffer[64];
  std::memset(buffer, 0x11, sizeof buffer);
  testing::internal::CaptureStdout();
  EXPECT_EQ(hid_read_report(0, buffer, sizeof buffer, 100), -1);
  first.faults().write = HidFault::failure;
  EXPECT_EQ(hid_write_report(0, buffer, sizeof buffer, 100), -1);
  const std::string line = "err 31: A device attached to the system is not functioning.\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line);
  EXPECT_EQ(buffer[0], 0x11);
}

}  // namespace

namespace {

// A back end that claims more bytes than the transfer asked for: the caller still gets at most
// what it asked for, and nothing lands past its buffer.
int g_fake_device = 0;
constexpr uint32_t kOverclaim = 300;

uint32_t fake_open(uint32_t, int32_t, int32_t, int32_t, int32_t, void (*add)(HidHandle)) {
  add(&g_fake_device);
  return 1;
}
HidIo fake_read(HidHandle, uint8_t* transfer, uint32_t length, uint32_t, uint32_t* count) {
  for (uint32_t i = 0; i < length; ++i) transfer[i] = static_cast<uint8_t>(i);
  *count = length + kOverclaim;
  return HidIo::done;
}
HidIo fake_write(HidHandle, const uint8_t*, uint32_t length, uint32_t, uint32_t* count) {
  *count = length + kOverclaim;
  return HidIo::done;
}
void fake_close(HidHandle) {}
long fake_error(char* text, uint32_t capacity) {
  if (capacity > 0) text[0] = '\0';
  return 0;
}
const HidOps kOverclaimingOps = {fake_open, fake_read, fake_write, fake_close, fake_error};

TEST(HidTransportClamp, ABackEndThatClaimsMoreIsCutToWhatWasAsked) {
  plat_install_hid_ops(&kOverclaimingOps);
  ASSERT_EQ(hid_open_devices(1, kVendor, kProduct, -1, -1), 1);
  struct Guarded {
    uint8_t data[64];
    uint8_t guard[64];
  } buffer{};
  std::memset(buffer.guard, 0xEE, sizeof buffer.guard);
  EXPECT_EQ(hid_read_report(0, buffer.data, sizeof buffer.data, 100), 64);
  EXPECT_EQ(buffer.data[0], 1) << "the report ID is dropped";
  EXPECT_EQ(buffer.data[63], 64);
  EXPECT_EQ(std::vector<uint8_t>(buffer.guard, buffer.guard + 64), std::vector<uint8_t>(64, 0xEE));
  EXPECT_EQ(hid_write_report(0, buffer.data, sizeof buffer.data, 100), 64);
  hid_close_all();
  plat_install_hid_ops(nullptr);
}

// The hidapi back end itself, on a closed device and with filters no device can match.
TEST(HidPosixBackEnd, ClosedHandleAndImpossibleFilters) {
  const HidOps& os = plat_os_hid_ops();
  uint8_t transfer[65] = {};
  uint32_t count = 7;
  EXPECT_EQ(os.read(nullptr, transfer, sizeof transfer, 0, &count), HidIo::failed);
  EXPECT_EQ(count, 0u);
  char text[256] = {};
  EXPECT_EQ(os.last_error(text, sizeof text), 9);  // EBADF
  EXPECT_STRNE(text, "");
  EXPECT_EQ(os.write(nullptr, transfer, sizeof transfer, 0, &count), HidIo::failed);
  EXPECT_EQ(os.open_devices(4, 0x10483, 0x5750, -1, -1, [](HidHandle) {}), 0u);
}

}  // namespace
