// Shared test support: one reset of the program's process-wide state, and a fixture that puts
// an in-process virtual device on a removable drive.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "virtual_device/device.h"
#include "virtual_device/inprocess.h"

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  // Under `parent` when it is a folder (e.g. "/dev/shm", where a file's sync costs nothing),
  // else under the system's temporary folder.
  explicit TempDir(const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder's path with a trailing '/', as a drive root is given.
  const std::string& root() const { return root_; }
  std::string path(const std::string& name) const { return root_ + name; }

 private:
  std::string root_;
};

// Whole contents of a file; empty when it cannot be read.
std::vector<uint8_t> read_whole_file(const std::string& path);
void write_whole_file(const std::string& path, const std::vector<uint8_t>& data);

// Everything process-wide back to its state at program start.
void reset_program_state();

// Runs cartlink-run in this process with `args` (without the program's name) and returns its
// exit code; its standard output and error land in `out` and `err` when given.
int run_cli(const std::vector<std::string>& args, std::string* out = nullptr,
            std::string* err = nullptr);

// Root of the virtual device drive in the in-process tests.
inline constexpr const char* kVirtualRoot = "/cartlink-virtual/E/";

class VirtualDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_program_state();
    vdev::attach({{kVirtualRoot, true, &device}});
  }
  void TearDown() override {
    vdev::detach();
    reset_program_state();
  }

  // Command files written so far, in order.
  std::vector<vdev::TraceEvent> command_files() const {
    std::vector<vdev::TraceEvent> out;
    for (const auto& e : device.trace()) {
      if (e.kind == vdev::TraceEvent::Kind::command_file) out.push_back(e);
    }
    return out;
  }

  vdev::Device device;
};
