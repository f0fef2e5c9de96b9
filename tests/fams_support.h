// Shared support for the tests of families 20, 19, 2, 17, 7 and 3: the in-process device with
// the drive root set, the packets and reads it saw, and expected packet bytes.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "tests/support.h"
#include "virtual_device/slot_fams.h"

using Kind = vdev::TraceEvent::Kind;
using Bytes = std::vector<uint8_t>;

inline Bytes pattern_bytes(size_t length, uint8_t seed = 0) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + seed);
  return bytes;
}

// Bytes 0..509 of a packet of `family` whose named bytes are set and every other byte zero.
inline Bytes packet_bytes(uint8_t family, const std::vector<std::pair<size_t, uint8_t>>& set) {
  Bytes p(510, 0);
  p[0] = 'Z';
  p[1] = family;
  for (const auto& [at, value] : set) p[at] = value;
  return p;
}

class FamilyTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
  }

  template <typename T>
  T& insert(std::unique_ptr<T> cartridge) {
    T& ref = *cartridge;
    device.insert(std::move(cartridge));
    return ref;
  }

  // The device's key in the link state and the tool's cipher keyed from it.
  void key_cipher() {
    std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
    cipher_set_device_key();
  }

  std::vector<vdev::TraceEvent> events(Kind kind) const {
    std::vector<vdev::TraceEvent> out;
    for (const auto& e : device.trace()) {
      if (e.kind == kind) out.push_back(e);
    }
    return out;
  }

  std::vector<Kind> kinds() const {
    std::vector<Kind> out;
    for (const auto& e : device.trace()) out.push_back(e.kind);
    return out;
  }

  // Bytes 0..509 of every packet of every command file, in order.
  std::vector<Bytes> sent_packets() const {
    std::vector<Bytes> out;
    for (const auto& file : command_files()) {
      for (size_t at = 0; at + kPacketSize <= file.data.size(); at += kPacketSize) {
        out.emplace_back(file.data.begin() + at, file.data.begin() + at + 510);
      }
    }
    return out;
  }

  void expect_all_accepted() const {
    for (const auto& p : device.packets()) EXPECT_TRUE(p.accepted);
  }
};
