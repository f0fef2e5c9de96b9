// cartlink-run: runs one job of the library, or reads, writes or erases the memory of one slot,
// from a script or a shell. Its jobs and slots are rows of one table (table.cpp); each row's
// functions live in a file of its own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Exit codes that scripts can rely on.
inline constexpr int kExitDone = 0;      // done, and verified where the job verifies
inline constexpr int kExitFailed = 1;    // the job reported a failure
inline constexpr int kExitUsage = 2;     // usage, or an unusable file or value
inline constexpr int kExitNoDevice = 3;  // no device found

struct RunnerJob {
  const char* name;         // the library function's name with '-' for '_'
  const char* arguments;    // as usage shows them, e.g. "FILE" or "[FILE]"; "" for none
  const char* description;  // one line
  uint32_t min_args, max_args;
  // Runs after the device is open, "Device: <name>" printed and identify_device done; gets the
  // words after the job's name. Returns the exit code.
  int (*run)(const std::vector<std::string>& args);
  // Optional: checks the words before the device is opened, with a message on standard error;
  // false refuses the job with exit code 2 and nothing sent.
  bool (*check)(const std::vector<std::string>& args) = nullptr;
  // Optional: true when these words ask for a run that sends nothing (a dry run); `run` is then
  // called without opening the device.
  bool (*sends_nothing)(const std::vector<std::string>& args) = nullptr;
};

struct RunnerSlot {
  const char* name;
  const char* description;  // one line
  uint64_t first, end;      // the slot's addresses: first .. end - 1
  uint32_t step;            // largest piece per read or write call
  bool (*start)();          // the family's start or identity operation; false: refuse the slot
  bool (*read)(uint64_t address, uint8_t* out, uint32_t length);
  bool (*write)(uint64_t address, const uint8_t* data, uint32_t length);  // null: read-only
  int (*erase)(bool whole_chip, uint64_t sector);  // null: no erase; 0 erased, 1 failed
  // A write's address and length must be multiples of this (a word bus takes whole words).
  uint32_t write_alignment = 1;
};

const std::vector<RunnerJob>& runner_jobs();
const std::vector<RunnerSlot>& runner_slots();

// The whole program: argv[0] is the program's name. Callable in-process (tests).
int run_runner(int argc, char** argv);

// For the rows' functions. Messages of the runner itself go to standard error, prefixed
// "cartlink-run: ".
void runner_error(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Loads a whole input file of 1 to `max` bytes; a message and false when it cannot.
bool runner_load_file(const std::string& path, std::vector<uint8_t>& data, uint64_t max);
// Saves an output file whole under a temporary name and renames it; a message and false when
// it cannot (an older file of that name is left as it was). Ctrl-C meanwhile leaves nothing.
bool runner_save_file(const std::string& path, const std::vector<uint8_t>& data);

// Progress of a long transfer on standard error, shown only when that is a terminal.
class RunnerProgress {
 public:
  RunnerProgress(const char* what, uint64_t total);
  ~RunnerProgress();
  void update(uint64_t done);

 private:
  const char* what_;
  uint64_t total_;
  uint64_t started_ms_;
  uint64_t shown_ms_ = 0;
  bool shown_ = false;
  bool terminal_;
};
