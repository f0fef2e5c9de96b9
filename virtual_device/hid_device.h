// The device as a USB HID device: 64-byte reports behind report ID 0, each command report
// answered by one 64-byte report (the boot request by none). In-process only: attach_hid puts
// it under the platform's HID seam, where the operating system's HID devices would be.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "virtual_device/system_model.h"

namespace vdev {

struct HidDeviceConfig {
  uint16_t vendor_id = 0x0483;
  uint16_t product_id = 0x5750;
  uint16_t usage_page = 0xFF00;
  uint16_t usage = 0x0001;
  std::string name = "NES_HWRKA_FW400";  // query 17 answer, raw bytes, up to 64
  std::array<uint8_t, 8> key{0x3A, 0x91, 0x5C, 0x07, 0xE2, 0x48, 0xB6, 0x1F};  // query 16
  bool accessible = true;                // false: opening fails, as without access to the node
};

// How a transfer goes wrong.
enum class HidFault : uint8_t {
  none,
  time_out,  // nothing arrives within the time-out; a written report is not taken
  failure,   // the system call fails with `error_code`
};

struct HidFaults {
  HidFault write = HidFault::none;
  HidFault read = HidFault::none;
  // Writes that still go through before `write` strikes, counted down: a device lost in the
  // middle of a block write.
  uint32_t writes_before_fault = 0;
  // Bytes an answer transfer completes with, report-ID byte included (a whole one is 65);
  // negative: the whole answer. Cut to what the reader asked for.
  int32_t answer_transfer = -1;
  bool mute = false;                     // takes reports but never answers
  // Whatever a report asked, its answer is the front of this list instead (up to 64 bytes,
  // zero-filled), taken off in order: a device that answers with anything.
  std::deque<std::vector<uint8_t>> replaced_answers;
  uint32_t missed_enumerations = 0;      // the next this many enumerations do not list it
  long error_code = 1167;
  std::string error_text = "The device is not connected.";
};

// One report as it arrived: its report-ID byte and its data bytes.
struct HidReport {
  uint8_t report_id = 0;
  std::vector<uint8_t> data;
};

class HidDevice {
 public:
  // `shared`: the memory, boot flag and parameter of a drive device that is the same device;
  // nullptr: its own.
  explicit HidDevice(HidDeviceConfig config = {}, SystemModel* shared = nullptr);

  HidDeviceConfig& config() { return config_; }
  HidFaults& faults() { return faults_; }
  SystemModel& system() { return *system_; }

  const std::vector<HidReport>& reports() const { return reports_; }
  bool is_open() const { return open_; }
  uint32_t opens() const { return opens_; }
  uint32_t closes() const { return closes_; }
  size_t pending_answers() const { return answers_.size(); }

  // The seam's view, called by the in-process HID calls.
  void open();
  void close();
  // A written transfer, report-ID byte first, carried out at once.
  void take(const uint8_t* transfer, uint32_t length);
  // The next answer as a transfer of at most `length` bytes; 0 when there is none.
  uint32_t answer(uint8_t* transfer, uint32_t length);

 private:
  void carry_out(const std::array<uint8_t, 64>& report);
  void queue(const std::array<uint8_t, 64>& answer);

  HidDeviceConfig config_;
  HidFaults faults_;
  SystemModel own_;
  SystemModel* system_;
  uint32_t cursor_ = 0;  // where a 32-byte read (code 26) reads next
  std::deque<std::array<uint8_t, 64>> answers_;
  std::vector<HidReport> reports_;
  bool open_ = false;
  uint32_t opens_ = 0;
  uint32_t closes_ = 0;
};

// Lists exactly these HID devices, in this order, for every HID call until detach() (or the
// next attach_hid). attach() installs them too; until then the list is empty, so tests never
// reach the operating system's HID devices.
void attach_hid(std::vector<HidDevice*> devices);

// For inprocess.cpp: the virtual HID calls in place (with the devices attached so far), and
// back to none with the operating system's calls restored.
void install_virtual_hid();
void detach_hid();

}  // namespace vdev
