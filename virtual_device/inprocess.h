// Puts virtual devices under the platform layer's file and drive calls, in this process.
#pragma once
#include <string>
#include <vector>

#include "virtual_device/device.h"

namespace vdev {

struct VirtualDrive {
  std::string root;          // as the drive list gives it, with its trailing separator
  bool removable = true;
  Device* device = nullptr;  // nullptr: a drive without the device (its files do not exist)
};

// Lists exactly these drives, in this order, and serves paths under their roots from the
// devices; every other path goes to the operating system. Replaces an earlier attach. HID calls
// see the devices of attach_hid (hid_device.h), none until it is called.
void attach(std::vector<VirtualDrive> drives);
// Back to the operating system alone, HID included.
void detach();

}  // namespace vdev
