// The HID report paths: single report transfers with any length, the system commands' HID
// forms, and discovery's name and key queries, against the in-process virtual HID device whose
// answers are fuzzed bytes (and whose answer transfers may end short). Input: a settings byte, a
// script of operations (op, length, address), then 64-byte answers until the input ends.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fake_drive.h"
#include "link/cipher.h"
#include "link/device_control.h"
#include "link/discovery.h"
#include "link/link_state.h"
#include "platform/hid.h"
#include "virtual_device/hid_device.h"

namespace {

constexpr int kOpsMax = 8;
// Past the largest transfer, so the bound on lengths is reached too.
constexpr uint32_t kLengthMax = kHidTransferMax + 8;

void run_op(fuzz::Input& in) {
  const uint8_t op = in.u8();
  const uint32_t length = in.u16() % (kLengthMax + 1);
  const uint32_t address = in.u32();
  auto room = std::unique_ptr<uint8_t[]>(new uint8_t[length ? length : 1]);
  std::memset(room.get(), op, length);
  uint8_t report[kHidReportSize] = {};
  switch (op % 12) {
    case 0: {
      const int32_t n = hid_read_report(kHidDeviceIndex, room.get(), length, kHidTimeoutMs);
      if (n > static_cast<int32_t>(length)) std::abort();
      break;
    }
    case 1: {
      const int32_t n = hid_write_report(kHidDeviceIndex, room.get(), length, kHidTimeoutMs);
      if (n > static_cast<int32_t>(length)) std::abort();
      break;
    }
    case 2: hid_query(static_cast<uint8_t>(16 + (op >> 4) % 6), report); break;
    case 3: hid_read_32(report); break;
    case 4: sys_get_word(address); break;
    case 5: sys_put_parameter(address); break;
    case 6: sys_request_boot(static_cast<uint8_t>(address)); break;
    case 7: sys_write_block(address, room.get(), length); break;
    case 8: hid_write_block(address, room.get(), length); break;
    case 9: hid_write_block_32(address, room.get(), length); break;
    case 10: {
      uint8_t piece[kHidPiece32] = {};
      hid_write_32(static_cast<uint8_t>(128 + (op >> 7)), address, piece);
      break;
    }
    default:
      if (open_device() && std::strlen(g_link.device_name) > kDeviceNameMax) std::abort();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const int ops = 1 + (settings & 7) % kOpsMax;
  const std::vector<uint8_t> script = in.bytes(static_cast<size_t>(ops) * 7);

  link_reset_state();
  cipher_reset_state();
  fuzz::FakeDrive drive;  // no device drive: the HID link alone
  fuzz::install(&drive);

  vdev::HidDevice hid;
  if (settings & 0x08) hid.faults().answer_transfer = static_cast<int32_t>(in.u8() % 66);
  hid.faults().mute = (settings & 0x10) != 0;
  while (!in.empty()) hid.faults().replaced_answers.push_back(in.bytes(kHidReportSize));
  vdev::attach_hid({&hid});
  g_link.hid_link = true;
  if (hid_open_devices(1, 0, 0, 0, 0) != 1) std::abort();

  fuzz::Input steps(script.data(), script.size());
  for (int i = 0; i < ops; ++i) run_op(steps);

  hid_close_all();
  vdev::detach_hid();
  fuzz::install(nullptr);
  return 0;
}
