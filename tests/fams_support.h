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
    use_virtual_root();
  }

  template <typename T>
  T& insert(std::unique_ptr<T> cartridge) {
    T& ref = *cartridge;
    device.insert(std::move(cartridge));
    return ref;
  }

  std::vector<Kind> kinds() const {
    std::vector<Kind> out;
    for (const auto& e : device.trace()) out.push_back(e.kind);
    return out;
  }

  // Bytes 0..509 of every packet of every command file, in order.
  std::vector<Bytes> sent_packets() const { return VirtualDeviceTest::sent_packets(510); }
};
