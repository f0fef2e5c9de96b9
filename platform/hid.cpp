// The open-device list and the bounds of report transfers, the same on every operating system;
// the transfers themselves go through the HID seam to the back end (or a virtual device).
#include "platform/hid.h"

#include <cstring>
#include <vector>

#include "platform/os.h"
#include "platform/print.h"
#include "platform/seam.h"

namespace {

const HidOps kOsHidOps = {os_hid_open_devices, os_hid_read, os_hid_write, os_hid_close,
                          os_hid_last_error};
const HidOps* g_hid_ops = nullptr;

const HidOps& ops() { return g_hid_ops ? *g_hid_ops : kOsHidOps; }

// One opened device. A closed device keeps its node with the open flag set and no handle, so
// that transfers on its index fail in the back end and report the system's error.
struct HidNode {
  HidHandle handle;
  bool open;
};

std::vector<HidNode> g_devices;

void add_device(HidHandle handle) { g_devices.push_back({handle, true}); }

HidNode* node_at(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= g_devices.size()) return nullptr;
  HidNode* node = &g_devices[static_cast<size_t>(index)];
  return node->open ? node : nullptr;
}

}  // namespace

const HidOps& plat_os_hid_ops() { return kOsHidOps; }

void plat_install_hid_ops(const HidOps* hid_ops) { g_hid_ops = hid_ops; }

int32_t hid_open_devices(int32_t max_count, int32_t vendor_id, int32_t product_id,
                         int32_t usage_page, int32_t usage) {
  if (!g_devices.empty()) hid_close_all();
  if (max_count < 1) return 0;
  ops().open_devices(static_cast<uint32_t>(max_count), vendor_id, product_id, usage_page, usage,
                     add_device);
  // Count what was listed, not what the back end claims, and never more than asked for.
  while (g_devices.size() > static_cast<uint32_t>(max_count)) {
    ops().close(g_devices.back().handle);
    g_devices.pop_back();
  }
  return static_cast<int32_t>(g_devices.size());
}

int32_t hid_read_report(int32_t index, uint8_t* buffer, uint32_t length, uint32_t timeout_ms) {
  // Compared without adding: length + 1 would wrap for the largest lengths.
  if (length > kHidTransferMax - 1 || (!buffer && length > 0)) return -1;
  HidNode* node = node_at(index);
  if (!node) return -1;
  uint8_t transfer[kHidTransferMax] = {};
  uint32_t count = 0;
  switch (ops().read(node->handle, transfer, length + 1, timeout_ms, &count)) {
    case HidIo::timed_out:
      return 0;  // nothing copied: the caller's buffer keeps what it held
    case HidIo::failed:
      hid_print_error();
      return -1;
    case HidIo::done:
      break;
  }
  if (count == 0) return -1;
  // The first byte is the report ID; a back end never gets to deliver more than was asked.
  uint32_t data = count - 1;
  if (data > length) data = length;
  if (data > 0) std::memcpy(buffer, transfer + 1, data);
  return static_cast<int32_t>(data);
}

int32_t hid_write_report(int32_t index, const uint8_t* data, uint32_t length,
                         uint32_t timeout_ms) {
  if (length > kHidTransferMax - 1 || (!data && length > 0)) return -1;
  HidNode* node = node_at(index);
  if (!node) return -1;
  uint8_t transfer[kHidTransferMax] = {};
  if (length > 0) std::memcpy(transfer + 1, data, length);
  uint32_t count = 0;
  switch (ops().write(node->handle, transfer, length + 1, timeout_ms, &count)) {
    case HidIo::timed_out:
      return 0;
    case HidIo::failed:
      hid_print_error();
      return -1;
    case HidIo::done:
      break;
  }
  if (count == 0) return -1;
  if (count > length + 1) count = length + 1;
  return static_cast<int32_t>(count - 1);
}

void hid_close_device(int32_t index) {
  HidNode* node = node_at(index);
  if (!node || !node->handle) return;
  ops().close(node->handle);
  node->handle = nullptr;
}

void hid_close_all() {
  for (HidNode& node : g_devices) {
    if (node.handle) ops().close(node.handle);
  }
  g_devices.clear();
}

void hid_print_error() {
  char text[256] = {};
  const long code = ops().last_error(text, sizeof text);
  text[sizeof text - 1] = '\0';
  print_message("err %ld: %s\n", code, text);
}
