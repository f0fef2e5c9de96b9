// Shared by the N64 tests: a fixture on the in-process device with a cartridge that answers
// family 16 from a reply pattern the test sets, and helpers to look at what was sent.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "families/n64.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "tests/support.h"
#include "virtual_device/slot.h"

namespace n64_test {

using Kind = vdev::TraceEvent::Kind;

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

inline std::vector<uint8_t> pattern(size_t length, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + seed);
  return bytes;
}

// Answers every family 16 packet by filling the reply area from `answer` (the rest zero) and
// shows "DUMP.ROM" as offset-derived bytes; the identity packet switches the status sector.
class AnsweringCartridge : public vdev::Cartridge {
 public:
  std::vector<uint8_t> answer;
  bool takes(uint8_t family) const override { return family == kFamilyN64; }
  void carry_out(const uint8_t* packet, vdev::SlotHost& host) override {
    if (packet[2] == kN64SubIdentity) host.set_identified();
    auto reply = host.reply();
    std::fill(reply.begin(), reply.end(), 0);
    std::copy_n(answer.begin(), std::min(answer.size(), reply.size()), reply.begin());
  }
  uint64_t dump_size() const override { return 0x4000000; }
  void dump(uint64_t offset, uint8_t* out, uint32_t count) override {
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((offset + i) * 3 + 1);
  }
};

class N64Test : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    reset_link();
    auto cart = std::make_unique<AnsweringCartridge>();
    cart_ = cart.get();
    device.insert(std::move(cart));
  }

  // The program at start, linked to the virtual device (root and key bytes found).
  void reset_link() {
    reset_program_state();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
    std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
  }

  // Identifies as `identity` and forgets what that sent.
  void identify_as(const std::string& identity) {
    device.config().identity = identity;
    n64_identify();
    device.clear_trace();
  }

  void answer_with(std::vector<uint8_t> bytes) { cart_->answer = std::move(bytes); }

  std::vector<vdev::TraceEvent> events(Kind kind) const {
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

  // The kinds of the trace in order: 'C' command file, 'R' reply read, 'D' window read.
  std::string trace_shape() const {
    std::string out;
    for (const auto& e : device.trace()) {
      out += e.kind == Kind::command_file ? 'C' : e.kind == Kind::reply_read ? 'R' : 'D';
    }
    return out;
  }

  AnsweringCartridge* cart_ = nullptr;
};

// Bytes of a packet from `from` up to (not including) `to`.
inline std::vector<uint8_t> slice(const std::vector<uint8_t>& packet, size_t from, size_t to) {
  return std::vector<uint8_t>(packet.begin() + from, packet.begin() + to);
}

}  // namespace n64_test
