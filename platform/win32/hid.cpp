// HID devices on Windows: SetupAPI finds the HID interfaces, HID attributes and capabilities
// filter them, and reports travel with overlapped I/O so that every transfer can time out.
// Reads and writes each have a lock and a manual-reset event, so one read and one write may be
// in flight at once.
#include <windows.h>
// windows.h first: the SetupAPI and HID headers build on its types. mingw-w64's HID headers
// declare C functions without saying so to C++.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <vector>

#include "platform/os.h"

namespace {

struct Direction {
  HANDLE event = nullptr;
  CRITICAL_SECTION lock;
};

Direction g_read;
Direction g_write;
bool g_sync_ready = false;

// The events and locks live from the first enumeration to the end of the process.
bool make_sync() {
  if (g_sync_ready) return true;
  g_read.event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  g_write.event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!g_read.event || !g_write.event) return false;
  InitializeCriticalSection(&g_read.lock);
  InitializeCriticalSection(&g_write.lock);
  g_sync_ready = true;
  return true;
}

bool passes(int32_t filter, USHORT value) {
  return filter <= 0 || static_cast<uint32_t>(filter) == value;
}

// Vendor and product from the attributes, usage page and usage from the capabilities.
bool device_matches(HANDLE device, int32_t vendor_id, int32_t product_id, int32_t usage_page,
                    int32_t usage) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(device, &attributes)) return false;
  if (!passes(vendor_id, attributes.VendorID) || !passes(product_id, attributes.ProductID)) {
    return false;
  }
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(device, &preparsed)) return false;
  HIDP_CAPS caps{};
  const bool ok = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS &&
                  passes(usage_page, caps.UsagePage) && passes(usage, caps.Usage);
  HidD_FreePreparsedData(preparsed);
  return ok;
}

// Opens the interface's device path for overlapped I/O; INVALID_HANDLE_VALUE on failure.
HANDLE open_member(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& member) {
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailA(set, &member, nullptr, 0, &needed, nullptr);
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return INVALID_HANDLE_VALUE;
  // Whole DWORDs keep the record aligned as the system expects it.
  std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  // The record's own size in this build (not the size of the path that follows it).
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(set, &member, detail, needed, nullptr, nullptr)) {
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

// Leaves the lock with the failed call's error still the thread's last error.
HidIo fail(Direction& direction) {
  const DWORD error = GetLastError();
  LeaveCriticalSection(&direction.lock);
  SetLastError(error);
  return HidIo::failed;
}

// One report each way: reads fill `in`, writes send `out`.
HidIo transfer(Direction& direction, HANDLE device, uint8_t* in, const uint8_t* out,
               uint32_t length, uint32_t timeout_ms, uint32_t* count) {
  *count = 0;
  if (!g_sync_ready) {
    SetLastError(ERROR_INVALID_HANDLE);
    return HidIo::failed;
  }
  EnterCriticalSection(&direction.lock);
  ResetEvent(direction.event);
  OVERLAPPED overlapped{};
  overlapped.hEvent = direction.event;
  DWORD done = 0;
  const BOOL at_once = in ? ReadFile(device, in, length, &done, &overlapped)
                          : WriteFile(device, out, length, &done, &overlapped);
  if (!at_once) {
    if (GetLastError() != ERROR_IO_PENDING) return fail(direction);
    const DWORD waited = WaitForSingleObject(direction.event, timeout_ms);
    if (waited == WAIT_TIMEOUT) {
      CancelIo(device);
      // The cancelled transfer owns the buffer until it has ended: wait for that end.
      GetOverlappedResult(device, &overlapped, &done, TRUE);
      LeaveCriticalSection(&direction.lock);
      return HidIo::timed_out;
    }
    if (waited != WAIT_OBJECT_0) return fail(direction);
  }
  if (!GetOverlappedResult(device, &overlapped, &done, FALSE)) return fail(direction);
  LeaveCriticalSection(&direction.lock);
  *count = done;
  return HidIo::done;
}

}  // namespace

uint32_t os_hid_open_devices(uint32_t max_count, int32_t vendor_id, int32_t product_id,
                             int32_t usage_page, int32_t usage, void (*add)(HidHandle)) {
  if (max_count == 0 || !make_sync()) return 0;
  GUID hid_class;
  HidD_GetHidGuid(&hid_class);
  HDEVINFO set =
      SetupDiGetClassDevsA(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return 0;
  uint32_t count = 0;
  for (DWORD index = 0; count < max_count; ++index) {
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof member;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &member)) break;
    HANDLE device = open_member(set, member);
    if (device == INVALID_HANDLE_VALUE) continue;
    if (!device_matches(device, vendor_id, product_id, usage_page, usage)) {
      CloseHandle(device);
      continue;
    }
    add(device);
    ++count;
  }
  SetupDiDestroyDeviceInfoList(set);
  return count;
}

HidIo os_hid_read(HidHandle device, uint8_t* transfer_buffer, uint32_t length,
                  uint32_t timeout_ms, uint32_t* count) {
  return transfer(g_read, device, transfer_buffer, nullptr, length, timeout_ms, count);
}

HidIo os_hid_write(HidHandle device, const uint8_t* transfer_buffer, uint32_t length,
                   uint32_t timeout_ms, uint32_t* count) {
  return transfer(g_write, device, nullptr, transfer_buffer, length, timeout_ms, count);
}

void os_hid_close(HidHandle device) {
  if (device) CloseHandle(device);
}

long os_hid_last_error(char* text, uint32_t capacity) {
  const DWORD code = GetLastError();
  if (text && capacity > 0) {
    text[0] = '\0';
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, capacity, nullptr);
  }
  return static_cast<long>(code);
}
