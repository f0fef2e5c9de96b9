// The device's own facts and system commands as cartlink-run jobs: device-info, request-boot,
// put-parameter, get-word and write-block. Numbers are checked before the device is opened.
#include <cstdio>
#include <string>
#include <vector>

#include "link/device_control.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "runner/args.h"
#include "runner/runner.h"

namespace runner_device {

namespace {

// Over HID the address field of the system reports holds 24 bits.
constexpr uint64_t kHidAddressEnd = 0x1000000;
constexpr uint64_t kDriveAddressEnd = 0x100000000;
// Largest block one write-block job sends: the image buffer's size.
constexpr uint64_t kBlockMax = 0x1000000;
constexpr uint32_t kIdentityShown = 255;

bool number_in(const std::string& text, const char* what, uint64_t max, uint64_t& value) {
  if (!parse_number(text, value)) {
    runner_error("'%s' is not a %s (decimal or 0x hex)", text.c_str(), what);
    return false;
  }
  if (value > max) {
    runner_error("%s %s is out of range (0 to 0x%llX)", what, text.c_str(),
                 static_cast<unsigned long long>(max));
    return false;
  }
  return true;
}

// Text the device presents, shown with anything unprintable as '?'.
std::string shown_text(const uint8_t* text, uint32_t max) {
  std::string out;
  for (uint32_t i = 0; i < max && text[i] != 0; ++i) {
    out += (text[i] >= 0x20 && text[i] < 0x7F) ? static_cast<char>(text[i]) : '?';
  }
  return out;
}

// The block must lie within what the link's address field can name.
bool block_fits(uint64_t address, uint64_t size) {
  const uint64_t end = g_link.hid_link ? kHidAddressEnd : kDriveAddressEnd;
  if (address < end && size <= end - address) return true;
  runner_error("%llu bytes from 0x%llX run past the %s link's addresses (0x%llX)",
               static_cast<unsigned long long>(size), static_cast<unsigned long long>(address),
               g_link.hid_link ? "HID" : "drive", static_cast<unsigned long long>(end));
  return false;
}

}  // namespace

int device_info(const std::vector<std::string>&) {
  // identify_device has just asked for the identity: the status sector shows it now.
  uint8_t sector[kStatusSectorSize] = {};
  const bool read = read_reply(kStatusSectorOffset, sector, sizeof sector) == sizeof sector;
  sector[sizeof sector - 1] = 0;
  bool keyed = false;
  for (uint8_t b : g_link.key_data) keyed = keyed || b != 0;
  std::printf("Link: %s\n", g_link.hid_link ? "HID" : "drive");
  std::printf("Root: %s\n", g_link.root_path[0] ? g_link.root_path : "(none)");
  std::printf("Name: %s\n",
              g_link.name_missing
                  ? "(none: the device did not answer the name query)"
                  : shown_text(reinterpret_cast<const uint8_t*>(g_link.device_name),
                               kDeviceNameMax).c_str());
  std::printf("Identity: %s\n",
              read ? shown_text(sector, kIdentityShown).c_str() : "(status sector unreadable)");
  std::printf("Protocol level: %d\n", g_link.protocol_level);
  std::printf("Date number: %u\n", g_link.date_number);
  if (g_link.key_missing) {
    std::printf("Key data: none: the device did not answer the %s; ciphered writes are "
                "refused\n", g_link.hid_link ? "key query" : "key request");
  } else {
    std::printf("Key data: %s\n", keyed ? "from the device" : "none (eight zero bytes)");
  }
  return kExitDone;
}

bool check_request_boot(const std::vector<std::string>& args) {
  uint64_t flag = 0;
  return number_in(args[0], "flag", 0xFF, flag);
}

int request_boot(const std::vector<std::string>& args) {
  uint64_t flag = 0;
  if (!number_in(args[0], "flag", 0xFF, flag)) return kExitUsage;
  if (sys_request_boot(static_cast<uint8_t>(flag)) == 0) {
    runner_error("the boot request could not be written to the device");
    return kExitFailed;
  }
  std::printf("Boot request sent (flag %u)\n", static_cast<unsigned>(flag));
  return kExitDone;
}

bool check_put_parameter(const std::vector<std::string>& args) {
  uint64_t value = 0;
  return number_in(args[0], "value", UINT32_MAX, value);
}

int put_parameter(const std::vector<std::string>& args) {
  uint64_t value = 0;
  if (!number_in(args[0], "value", UINT32_MAX, value)) return kExitUsage;
  if (sys_put_parameter(static_cast<uint32_t>(value)) == 0) {
    runner_error("the parameter could not be written to the device");
    return kExitFailed;
  }
  std::printf("Parameter 0x%08X sent\n", static_cast<unsigned>(value));
  return kExitDone;
}

bool check_get_word(const std::vector<std::string>& args) {
  uint64_t address = 0;
  return number_in(args[0], "address", UINT32_MAX, address);
}

int get_word(const std::vector<std::string>& args) {
  uint64_t address = 0;
  if (!number_in(args[0], "address", UINT32_MAX, address)) return kExitUsage;
  if (g_link.hid_link && address >= kHidAddressEnd) {
    runner_error("address 0x%llX does not fit the HID link's 24 bits",
                 static_cast<unsigned long long>(address));
    return kExitUsage;
  }
  g_link.io_failed = false;
  const uint32_t word = sys_get_word(static_cast<uint32_t>(address));
  // A request that did not go out or an answer that never came gives a word of 0, which is
  // no word the device said.
  if (g_link.io_failed) {
    runner_error("the device did not answer the word read at 0x%llX",
                 static_cast<unsigned long long>(address));
    return kExitFailed;
  }
  // The drive answers two bytes, the HID report four.
  std::printf(g_link.hid_link ? "Word at 0x%06X: 0x%08X\n" : "Word at 0x%08X: 0x%04X\n",
              static_cast<unsigned>(address), static_cast<unsigned>(word));
  return kExitDone;
}

bool check_write_block(const std::vector<std::string>& args) {
  uint64_t address = 0;
  std::vector<uint8_t> data;
  return number_in(args[0], "address", UINT32_MAX, address) &&
         runner_load_file(args[1], data, kBlockMax);
}

int write_block(const std::vector<std::string>& args) {
  uint64_t address = 0;
  std::vector<uint8_t> data;
  if (!number_in(args[0], "address", UINT32_MAX, address) ||
      !runner_load_file(args[1], data, kBlockMax) || !block_fits(address, data.size())) {
    return kExitUsage;
  }
  if (sys_write_block(static_cast<uint32_t>(address), data.data(),
                      static_cast<uint32_t>(data.size())) == 0) {
    runner_error("the block could not be written to the device");
    return kExitFailed;
  }
  std::printf("Wrote %zu bytes at 0x%08X\n", data.size(), static_cast<unsigned>(address));
  return kExitDone;
}

}  // namespace runner_device
