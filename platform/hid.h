// USB HID transport: a process-wide list of opened HID devices, addressed by index, and single
// report transfers with a time-out. Every transfer carries one leading report-ID byte (0 on
// writes) in front of the report data.
#pragma once
#include <cstdint>

// Largest transfer, report-ID byte included: at most 515 data bytes per call.
inline constexpr uint32_t kHidTransferMax = 516;

// Closes and forgets the devices of an earlier call, then opens up to `max_count` HID devices
// that pass the filters (a filter of 0 or less means "any") and appends them to the list.
// Returns how many were opened; devices that cannot be opened (no access) are skipped.
int32_t hid_open_devices(int32_t max_count, int32_t vendor_id, int32_t product_id,
                         int32_t usage_page, int32_t usage);

// Reads one report of device `index` into `buffer`: returns the data bytes delivered (0 to
// `length`, the report-ID byte dropped), 0 on time-out (the buffer untouched), -1 on error
// ("err" line printed for system errors; none for a bad length or index).
int32_t hid_read_report(int32_t index, uint8_t* buffer, uint32_t length, uint32_t timeout_ms);

// Writes `length` data bytes behind report ID 0: returns the data bytes written, 0 on
// time-out, -1 on error.
int32_t hid_write_report(int32_t index, const uint8_t* data, uint32_t length,
                         uint32_t timeout_ms);

// Closes the device's handle. It stays listed, so later transfers on the index fail in the
// system call and report through the "err" line.
void hid_close_device(int32_t index);

// Closes every listed device and empties the list.
void hid_close_all();

// Prints the last system error of the HID back end as "err <code>: <text>\n".
void hid_print_error();
