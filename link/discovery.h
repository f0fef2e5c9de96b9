// Finding the device: over USB HID first, then on the removable drives.
#pragma once

// What the entry and the runner add to "Open device error." when the device answered over HID
// but no drive carries it.
inline constexpr const char* kHidWithoutDrive =
    "The device answered over USB HID, but cartridge commands need the device's drive, and no "
    "drive carrying it was found.";

// Runs the whole discovery and fills the link state; true when a device was found. Over HID the
// name and key come from the HID queries, and the drives are scanned only to find where the
// command files go: with no device drive, g_link.drive_refused is set.
bool open_device();
// True when at least one HID device of the cartridge reader was opened.
bool probe_hid();
// True when a removable drive carrying the device was found; leaves root_path pointing at it.
bool probe_drive();
// Closes the HID device when the link is over HID; the drive link needs no closing.
void close_device();
