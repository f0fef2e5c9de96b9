// Shared test support: one reset of the program's process-wide state, and a fixture that puts
// an in-process virtual device on a removable drive.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/transport.h"
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
  // Paths of the files in the folder whose name holds `part`.
  std::vector<std::string> files_with(const std::string& part) const;

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

// Runs `body` with standard output going to a file in `dir`; returns what it wrote.
std::string captured(const TempDir& dir, const std::function<void()>& body);

// `length` bytes that differ from their neighbours and repeat only every few hundred.
inline std::vector<uint8_t> pattern_bytes(size_t length, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + seed);
  return bytes;
}

// Root of the virtual device drive in the in-process tests.
inline constexpr const char* kVirtualRoot = "/cartlink-virtual/E/";

class VirtualDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_program_state();
    vdev::attach({{kVirtualRoot, true, &device}});
  }
  void TearDown() override {
    // Every unbuffered read met Windows' rule (whole sectors into an aligned buffer).
    EXPECT_EQ(device.refused_reads(), 0u);
    vdev::detach();
    reset_program_state();
  }

  // Links the tool to the device's drive, as discovery does once it finds it.
  void use_virtual_root() const;
  // The device's key bytes in the link state, as discovery copies them.
  void copy_device_key();
  // The device's key copied and the tool's cipher keyed from it, as identify_device does for
  // old firmware.
  void key_cipher();

  // Trace events of `kind`, in order.
  std::vector<vdev::TraceEvent> events(vdev::TraceEvent::Kind kind) const;
  // Command files written so far, in order.
  std::vector<vdev::TraceEvent> command_files() const {
    return events(vdev::TraceEvent::Kind::command_file);
  }
  // The first `keep` bytes of every packet of every command file, in order.
  std::vector<std::vector<uint8_t>> sent_packets(size_t keep = kPacketSize) const;
  void expect_all_accepted() const;

  vdev::Device device;
};
