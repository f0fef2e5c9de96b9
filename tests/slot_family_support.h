// Helpers for the SFC and WSC family tests: the packets and reads that reached the in-process
// virtual device, in order.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

#include "link/link_state.h"
#include "link/transport.h"
#include "tests/support.h"

class SlotFamilyTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
  }

  std::vector<vdev::TraceEvent> events(vdev::TraceEvent::Kind kind) const {
    std::vector<vdev::TraceEvent> out;
    for (const auto& e : device.trace()) {
      if (e.kind == kind) out.push_back(e);
    }
    return out;
  }

  // Every packet of every command file, in order.
  std::vector<std::vector<uint8_t>> sent_packets() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& file : command_files()) {
      for (size_t at = 0; at + kPacketSize <= file.data.size(); at += kPacketSize) {
        out.emplace_back(file.data.begin() + at, file.data.begin() + at + kPacketSize);
      }
    }
    return out;
  }

  void expect_all_accepted() const {
    for (const auto& p : device.packets()) EXPECT_TRUE(p.accepted);
  }
};

inline uint32_t le16_at(const std::vector<uint8_t>& p, size_t at) {
  return static_cast<uint32_t>(p[at] | (p[at + 1] << 8));
}
inline uint32_t le24_at(const std::vector<uint8_t>& p, size_t at) {
  return le16_at(p, at) | static_cast<uint32_t>(p[at + 2] << 16);
}
inline uint32_t le32_at(const std::vector<uint8_t>& p, size_t at) {
  return le24_at(p, at) | (static_cast<uint32_t>(p[at + 3]) << 24);
}

inline std::vector<uint8_t> byte_pattern(size_t length, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + (i >> 8) + seed);
  return bytes;
}
