#pragma once

// The save-RAM dump job, once the device is open and identified: reads the 128 bytes of the
// Famicom cartridge's expansion RAM through its address and data ports, lists them and saves
// "f90.sav". Returns whether "f90.sav" was saved. The entry runs it before its exit prompt,
// cartlink-run without one.
bool save_ram_dump_listing();
