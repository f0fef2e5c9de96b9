#pragma once

// The entry's job: opens the device, prints its name, identifies the firmware, runs the
// save-RAM dump and ends at the exit prompt (exit code 0).
[[noreturn]] void save_ram_dump();
