// File-system fault injection: a layer over whatever file and drive calls are installed (the
// in-process virtual device and the real file system behind it) that makes the N-th file
// operation of one kind fail in a chosen way, or the device vanish from the N-th operation on.
// Its counts live in memory shared with forked children, so a job run in a child is counted.
#pragma once
#include <cstdint>
#include <string>

enum class Fault : uint8_t {
  none,
  open_failure,    // any operation: the file cannot be opened (nothing happens, 0 or false)
  short_write,     // a write stores half of the data and says so
  write_error,     // a write creates the file empty and fails
  no_space,        // a write stores what fitted (less than half) and fails
  fsync_failure,   // a write stores everything but its flush fails: the call reports 0
  rename_failure,  // a rename fails; both files stay as they were
  short_read,      // a read delivers half of what was there
  read_error,      // a read delivers nothing
  device_gone,     // from this operation on the device's drive is gone (unplugged)
  reply_missing,   // from this read of the device's reply file on, the file is missing
};

// Every fault but none, for tables.
inline constexpr Fault kAllFaults[] = {
    Fault::open_failure, Fault::short_write,    Fault::write_error, Fault::no_space,
    Fault::fsync_failure, Fault::rename_failure, Fault::short_read,  Fault::read_error,
    Fault::device_gone,  Fault::reply_missing};

const char* fault_name(Fault fault);

// Wraps the calls installed now. `nth` counts from 1 among the operations that `fault` applies
// to (writes for the write faults, reads for the read faults, renames, reply-file reads, any
// operation for open_failure and device_gone); 0 counts only. `device_root` is the drive that
// device_gone takes away.
void fault_install(Fault fault, uint32_t nth, const std::string& device_root);
// Back to the calls that were installed before.
void fault_remove();
// How many operations `fault` applied to could have been failed since fault_install.
uint32_t fault_candidates();
// Whether the fault was injected.
bool fault_injected();
