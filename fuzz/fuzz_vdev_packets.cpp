// The virtual device's packet decoder, the model every test trusts: fuzzed command files into
// a device holding each kind of cartridge, then its reply file and window read back. Input: one
// byte of settings (cartridge kind, firmware, whether to frame the packets with a good marker
// and CRC so that they reach the decoders), one byte choosing the file name (and bit 6 the
// upper half of the kinds), then the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fake_drive.h"
#include "link/transport.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"

namespace {

constexpr const char* kNames[] = {"CMD0.CMD", "cmd3.cmd", "CMD4.CMD", "T-DRIVER.DMP",
                                  "DUMP.ROM", "NOTES.TXT"};

void frame(std::vector<uint8_t>& file) {
  for (size_t at = 0; at + kPacketSize <= file.size(); at += kPacketSize) {
    uint8_t* packet = file.data() + at;
    packet[0] = kPacketMarker;
    const uint16_t crc = packet_crc16(packet, kPacketSize);
    packet[510] = static_cast<uint8_t>(crc >> 8);
    packet[511] = static_cast<uint8_t>(crc);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const uint8_t name_choice = in.u8();
  std::vector<uint8_t> file = in.rest();
  if (settings & 0x80) frame(file);

  vdev::DeviceConfig config;
  if (settings & 0x40) config.identity = "NES_HWRKA_FW403";
  if (settings & 0x20) config.key_source = vdev::KeySource::request;
  vdev::Device device(config);
  const auto& kinds = vdev::cartridge_kinds();
  // Five bits of the settings and one of the name byte: room for 64 kinds.
  const auto& kind = kinds[((settings & 0x1Fu) | ((name_choice & 0x40u) >> 1)) % kinds.size()];
  std::string error;
  if (!kind.build(device, {}, error)) std::abort();  // every kind builds with its defaults

  const char* name = kNames[name_choice % std::size(kNames)];
  device.take_command_file(name, file.data(), file.size());
  // Renaming onto a command name hands a stored file over as a command file.
  if (name_choice & 0x80) device.rename(name, "CMD1.CMD");

  uint8_t block[kReplyBlock];
  for (const char* read : {"T-DRIVER.DMP", "DUMP.ROM"}) {
    const uint64_t end = device.size(read);
    for (uint64_t at : {uint64_t{0}, uint64_t{kStatusSectorOffset}, end - 512, end}) {
      if (device.read(read, at, block, sizeof block) > sizeof block) std::abort();
    }
  }
  device.memories();
  return 0;
}
