#pragma once

// The entry's job: reads the 128 bytes of the Famicom cartridge's expansion RAM through its
// address and data ports, lists them and saves "f90.sav". Ends the process (exit code 0).
[[noreturn]] void save_ram_dump();
