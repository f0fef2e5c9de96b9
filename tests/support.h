// Shared test support: one reset of the program's process-wide state, and a fixture that puts
// an in-process virtual device on a removable drive.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "virtual_device/device.h"
#include "virtual_device/inprocess.h"

// Everything process-wide back to its state at program start.
void reset_program_state();

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
