#include "virtual_device/hid_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/seam.h"

namespace vdev {

namespace {

// The report codes as the device decodes them.
constexpr uint8_t kQueryKey = 16;
constexpr uint8_t kQueryName = 17;
constexpr uint8_t kQueryState = 18;
constexpr uint8_t kQuery19 = 19;
constexpr uint8_t kBoot = 20;
constexpr uint8_t kQuery21 = 21;
constexpr uint8_t kGetWord = 22;
constexpr uint8_t kPutParameter = 23;
constexpr uint8_t kWriteBlock = 24;
constexpr uint8_t kWriteBlock2 = 25;
constexpr uint8_t kRead32 = 26;
constexpr uint8_t kWrite32 = 128;
constexpr uint8_t kWrite32b = 129;

constexpr uint32_t kReport = 64;
constexpr uint32_t kTransfer = kReport + 1;
constexpr uint32_t kBlockPieceMax = 56;
constexpr uint32_t kPiece32 = 32;

uint32_t le24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16;
}

uint32_t le32(const uint8_t* p) { return le24(p) | static_cast<uint32_t>(p[3]) << 24; }

void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<HidDevice*> g_hid;

long g_error_code = 0;
std::string g_error_text;

void fail_with(long code, std::string text) {
  g_error_code = code;
  g_error_text = std::move(text);
}

bool passes(int32_t filter, uint16_t value) {
  return filter <= 0 || static_cast<uint32_t>(filter) == value;
}

uint32_t v_open_devices(uint32_t max_count, int32_t vendor_id, int32_t product_id,
                        int32_t usage_page, int32_t usage, void (*add)(HidHandle)) {
  uint32_t count = 0;
  for (HidDevice* d : g_hid) {
    if (count >= max_count) break;
    const HidDeviceConfig& c = d->config();
    if (d->faults().missed_enumerations > 0) {
      --d->faults().missed_enumerations;
      continue;
    }
    if (!passes(vendor_id, c.vendor_id) || !passes(product_id, c.product_id) ||
        !passes(usage_page, c.usage_page) || !passes(usage, c.usage) || !c.accessible) {
      continue;
    }
    d->open();
    add(d);
    ++count;
  }
  return count;
}

// A closed handle fails as the system fails a call on an invalid handle.
HidDevice* device_of(HidHandle handle) {
  auto* d = static_cast<HidDevice*>(handle);
  if (!d || !d->is_open()) fail_with(6, "The handle is invalid.");
  return d && d->is_open() ? d : nullptr;
}

HidIo v_read(HidHandle handle, uint8_t* transfer, uint32_t length, uint32_t, uint32_t* count) {
  *count = 0;
  HidDevice* d = device_of(handle);
  if (!d) return HidIo::failed;
  switch (d->faults().read) {
    case HidFault::time_out:
      return HidIo::timed_out;
    case HidFault::failure:
      fail_with(d->faults().error_code, d->faults().error_text);
      return HidIo::failed;
    case HidFault::none:
      break;
  }
  // No answer waiting: nothing arrives before the time-out. The virtual device never waits.
  if (d->pending_answers() == 0) return HidIo::timed_out;
  *count = d->answer(transfer, length);
  return HidIo::done;
}

HidIo v_write(HidHandle handle, const uint8_t* transfer, uint32_t length, uint32_t,
              uint32_t* count) {
  *count = 0;
  HidDevice* d = device_of(handle);
  if (!d) return HidIo::failed;
  const bool spared = d->faults().writes_before_fault > 0;
  if (spared) --d->faults().writes_before_fault;
  switch (spared ? HidFault::none : d->faults().write) {
    case HidFault::time_out:
      return HidIo::timed_out;
    case HidFault::failure:
      fail_with(d->faults().error_code, d->faults().error_text);
      return HidIo::failed;
    case HidFault::none:
      break;
  }
  d->take(transfer, length);
  *count = length;
  return HidIo::done;
}

void v_close(HidHandle handle) {
  if (auto* d = static_cast<HidDevice*>(handle)) d->close();
}

long v_last_error(char* text, uint32_t capacity) {
  if (text && capacity > 0) std::snprintf(text, capacity, "%s", g_error_text.c_str());
  return g_error_code;
}

const HidOps kVirtualHidOps = {v_open_devices, v_read, v_write, v_close, v_last_error};

}  // namespace

HidDevice::HidDevice(HidDeviceConfig config, SystemModel* shared)
    : config_(std::move(config)), system_(shared ? shared : &own_) {}

void HidDevice::open() {
  open_ = true;
  ++opens_;
}

void HidDevice::close() {
  if (!open_) return;
  open_ = false;
  ++closes_;
  answers_.clear();  // reports not read by the time the handle closes are gone with it
}

void HidDevice::take(const uint8_t* transfer, uint32_t length) {
  HidReport record;
  if (length > 0) {
    record.report_id = transfer[0];
    record.data.assign(transfer + 1, transfer + length);
  }
  reports_.push_back(record);
  // A report with a number of its own is not one of the device's; a shorter one counts as
  // zero-filled to its 64 bytes.
  if (record.report_id != 0 || record.data.empty()) return;
  std::array<uint8_t, kReport> report{};
  std::memcpy(report.data(), record.data.data(), std::min<size_t>(record.data.size(), kReport));
  carry_out(report);
}

uint32_t HidDevice::answer(uint8_t* transfer, uint32_t length) {
  if (answers_.empty()) return 0;
  uint8_t whole[kTransfer] = {};
  std::memcpy(whole + 1, answers_.front().data(), kReport);
  answers_.pop_front();
  uint32_t n = faults_.answer_transfer < 0 ? kTransfer
                                           : std::min<uint32_t>(faults_.answer_transfer, kTransfer);
  n = std::min(n, length);
  if (n > 0) std::memcpy(transfer, whole, n);
  return n;
}

void HidDevice::queue(const std::array<uint8_t, 64>& answer) {
  if (faults_.mute) return;
  if (faults_.replaced_answers.empty()) {
    answers_.push_back(answer);
    return;
  }
  const std::vector<uint8_t>& bytes = faults_.replaced_answers.front();
  std::array<uint8_t, kReport> replaced{};
  std::memcpy(replaced.data(), bytes.data(), std::min<size_t>(bytes.size(), kReport));
  faults_.replaced_answers.pop_front();
  answers_.push_back(replaced);
}

void HidDevice::carry_out(const std::array<uint8_t, 64>& r) {
  std::array<uint8_t, kReport> a{};
  a[0] = r[0];  // answers that carry no value echo the code
  switch (r[0]) {
    case kQueryKey:
      a.fill(0);
      std::memcpy(a.data(), config_.key.data(), config_.key.size());
      break;
    case kQueryName:
      a.fill(0);
      std::memcpy(a.data(), config_.name.data(), std::min<size_t>(config_.name.size(), kReport));
      break;
    case kQueryState:
      put_le32(a.data(), system_->parameter);
      a[4] = system_->boot_requested ? 1 : 0;
      break;
    case kQuery19:
    case kQuery21:
      break;
    case kBoot:
      system_->boot_requested = std::memcmp(r.data() + 4, "TOOB", 4) == 0;
      ++system_->boot_requests;
      return;  // the boot request gets no answer
    case kGetWord:
      cursor_ = le24(r.data() + 1);
      put_le32(a.data(), system_->read_le(cursor_, 4));
      break;
    case kPutParameter:
      system_->parameter = le32(r.data() + 1);
      break;
    case kWriteBlock:
    case kWriteBlock2: {
      const uint32_t length = static_cast<uint32_t>(r[4] | r[5] << 8);
      cursor_ = le24(r.data() + 1);
      if (length > kBlockPieceMax) {
        ++system_->refused;
      } else {
        system_->write(cursor_, {r.data() + 6, length});
      }
      break;
    }
    case kRead32:
      a.fill(0);
      for (uint32_t i = 0; i < kPiece32; ++i) a[i] = system_->read(cursor_ + i);
      cursor_ += kPiece32;
      break;
    case kWrite32:
    case kWrite32b:
      cursor_ = le24(r.data() + 1);
      if (r[4] != kPiece32 || r[5] != 0) {
        ++system_->refused;
      } else {
        system_->write(cursor_, {r.data() + 32, kPiece32});
      }
      break;
    default:
      return;  // not a code this device knows: no answer
  }
  queue(a);
}

void attach_hid(std::vector<HidDevice*> devices) {
  g_hid = std::move(devices);
  install_virtual_hid();
}

void install_virtual_hid() { plat_install_hid_ops(&kVirtualHidOps); }

void detach_hid() {
  plat_install_hid_ops(nullptr);
  g_hid.clear();
}

}  // namespace vdev
