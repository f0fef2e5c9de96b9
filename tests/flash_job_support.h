// Support for the NES flash job tests: a virtual device with a cartridge from the registry,
// standard output captured, poll pauses recorded instead of slept, and the Part's output rules.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"
#include "platform/sleep.h"
#include "tests/support.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/flash_board.h"

// Pauses asked for through the platform's sleep while a FlashJobTest runs.
inline std::vector<uint32_t>& recorded_pauses() {
  static std::vector<uint32_t> pauses;
  return pauses;
}

class FlashJobTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
    // Firmware from 403 on takes block-program data in plain.
    device.config().name = device.config().identity = "NES_HWRKA_FW403";
    g_link.protocol_level = 403;
    recorded_pauses().clear();
    plat_install_sleep([](uint32_t ms) { recorded_pauses().push_back(ms); });
  }
  void TearDown() override {
    plat_install_sleep(nullptr);
    VirtualDeviceTest::TearDown();
  }

  // Firmware below 403: the tool enciphers block-program payloads, the device deciphers.
  void use_old_firmware() {
    device.config().identity = "NES_HWRKA_FW400";
    device.config().firmware = 400;
    g_link.protocol_level = 400;
    std::copy(device.config().key.begin(), device.config().key.end(), g_link.key_data);
    cipher_set_device_key();
  }

  // Inserts the registry's cartridge `name` with `options`.
  void insert(const std::string& name, const vdev::CartridgeOptions& options = {}) {
    const vdev::CartridgeKind* kind = vdev::find_cartridge_kind(name);
    ASSERT_NE(kind, nullptr) << name;
    std::string error;
    ASSERT_TRUE(kind->build(device, options, error)) << error;
  }

  // The inserted cartridge's memory `name` ("prg", "chr").
  std::vector<uint8_t>& memory(const std::string& name) {
    for (auto& m : device.memories()) {
      if (m.name == name) return *m.bytes;
    }
    ADD_FAILURE() << "no memory " << name;
    static std::vector<uint8_t> none;
    return none;
  }

  // Runs `body` with standard output going to a file; returns what it wrote.
  template <typename Body>
  std::string captured(Body body) {
    const std::string path = out_dir_.path("out");
    std::fflush(stdout);
    const int saved = dup(1);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(file, 1);
    close(file);
    body();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    auto bytes = read_whole_file(path);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  TempDir out_dir_;
};

// An image whose banks all differ, so a bank programmed in the wrong place shows.
inline std::vector<uint8_t> flash_image(size_t length, uint8_t seed = 0x11) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<uint8_t>((i * 13) ^ (i >> 9) ^ (i >> 13) * 29 ^ seed);
  }
  return bytes;
}

// 16 bytes as the jobs print them: "%.2X " each, then a line feed.
inline std::string hex_line(const uint8_t* bytes) {
  std::string out;
  char piece[4];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(piece, sizeof piece, "%.2X ", bytes[i]);
    out += piece;
  }
  return out + "\n";
}

inline std::string repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// What an autoselect read of a byte-mode chip shows in its first 16 bytes: each identification
// word's low byte twice, the protection state as word 2.
inline std::string id_line(std::vector<uint16_t> id, bool is_protected) {
  uint8_t bytes[16] = {};
  for (int n = 0; n < 16; ++n) {
    const size_t word = static_cast<size_t>(n / 2);
    bytes[n] =
        word == 2 ? (is_protected ? 1 : 0) : static_cast<uint8_t>(word < id.size() ? id[word] : 0);
  }
  return hex_line(bytes);
}
