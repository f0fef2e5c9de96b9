#include "app/entry.h"

#include "link/discovery.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "nes/save_ram_dump.h"
#include "platform/print.h"

void save_ram_dump() {
  // Found over HID without a drive carrying it, the job's commands would have nowhere to go.
  if (!open_device() || g_link.drive_refused) {
    print_message("Open device error.\n");
    if (g_link.drive_refused) print_message("%s\n", kHidWithoutDrive);
    wait_key_and_exit();
  }
  print_message("Device: %s\n", g_link.device_name);
  identify_device();
  save_ram_dump_listing();
  wait_key_and_exit();
}
