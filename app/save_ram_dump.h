#pragma once

// The entry's job: reads the 128 bytes of the Famicom cartridge's expansion RAM through its
// address and data ports, lists them and saves "f90.sav". Ends the process (exit code 0).
[[noreturn]] void save_ram_dump();

// The job's work once the device is open and identified: the listing and the save. Returns
// whether "f90.sav" was saved (cartlink-run's form of the job, which has no exit prompt).
bool save_ram_dump_listing();
