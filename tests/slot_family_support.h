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
    use_virtual_root();
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
