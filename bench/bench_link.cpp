// What the host adds per command: framing, ciphering, the command file and the reply read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "nes/nes_family.h"
#include "virtual_device/inprocess.h"

namespace {

void BM_PacketCrc(benchmark::State& state) {
  uint8_t packet[kPacketSize] = {};
  for (uint32_t i = 0; i < kPacketSize; ++i) packet[i] = static_cast<uint8_t>(i);
  for (auto _ : state) benchmark::DoNotOptimize(packet_crc16(packet, kPacketSize));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 510);
}
BENCHMARK(BM_PacketCrc);

void BM_CipherKeySchedule(benchmark::State& state) {
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (auto _ : state) cipher_set_key(key, sizeof key);
}
BENCHMARK(BM_CipherKeySchedule);

// Building a whole 64 KiB block-program below level 403: 132 ciphered, framed packets for one
// command file. The drive has no device, so only the host's own work is measured.
void BM_BlockProgramCiphered(benchmark::State& state) {
  link_reset_state();
  vdev::attach({{"/bench/E/", true, nullptr}});
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "/bench/E/");
  g_link.protocol_level = 400;
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  cipher_set_key(key, sizeof key);
  std::vector<uint8_t> data(65535, 0x5A);
  for (auto _ : state) {
    nes_prg_program_block(0x8000, data.data(), static_cast<uint16_t>(data.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 65535);
  vdev::detach();
}
BENCHMARK(BM_BlockProgramCiphered);

// One command file and one reply read on a real folder, as the main job does 128 times.
void BM_CommandAndReplyOnDisk(benchmark::State& state) {
  link_reset_state();
  std::string root = (std::filesystem::temp_directory_path() / "cartlink-bench").string() + "/";
  std::filesystem::create_directories(root);
  std::vector<uint8_t> reply(9216, 0);
  std::FILE* f = std::fopen((root + "T-DRIVER.DMP").c_str(), "wb");
  std::fwrite(reply.data(), 1, reply.size(), f);
  std::fclose(f);
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", root.c_str());
  for (auto _ : state) {
    uint8_t packet[kPacketSize] = {};
    packet[1] = 14;
    packet[2] = 4;
    send_command(packet, kPacketSize);
    uint8_t answer[kPacketSize];
    read_reply(0, answer, kPacketSize);
  }
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_CommandAndReplyOnDisk)->Unit(benchmark::kMicrosecond);

}  // namespace
