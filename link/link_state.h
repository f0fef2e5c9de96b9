// The process-wide link state: how the device is reached and what it told us about itself.
#pragma once
#include <cstdint>

#include "platform/drives.h"

// device_name holds at most this many characters (the field itself is 128 bytes).
inline constexpr uint32_t kDeviceNameMax = 61;

struct LinkState {
  bool hid_link;                    // reached over USB HID rather than as a drive
  char root_path[kRootPathSize];    // root of the device drive, "E:\" or "/media/cart/"
  char device_name[128];            // name text, at most kDeviceNameMax characters
  uint32_t date_number;             // decimal date from the status sector
  uint8_t key_data[8];              // device data that keys the payload cipher
  uint8_t command_counter;          // number of the next command file, 0..3
  int32_t protocol_level;           // NES protocol level chosen by identify_device
  // A command file could not be written whole, or a reply or window read delivered fewer bytes
  // than asked for, since the flag was last cleared. The family operations have no error
  // result of their own; a job that keeps what it read or reports what it wrote checks this.
  bool io_failed;
  // Found over HID, but no drive carries the device: the drive transport writes and reads
  // nothing rather than use files in the working folder.
  bool drive_refused;
  // Over HID, the name query got no answer: device_name is empty for that reason.
  bool name_missing;
  // key_data did not come from the device (its key query or key request got no whole
  // answer): a write enciphered with it would reach the cartridge as garbage, so ciphered
  // writes are refused (cipher_key_usable).
  bool key_missing;
};

extern LinkState g_link;

// Back to the state at program start (for tests that run several starts in one process).
void link_reset_state();
