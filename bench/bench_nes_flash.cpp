// The host's share of programming a flash cartridge: per MiB, building and enciphering the
// block-program packets, the verify read's own work and the compare, with no device behind the
// drive; and the command files each bank costs, counted from a virtual device's trace.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/cipher.h"
#include "link/link_state.h"
#include "nes/chr_flash.h"
#include "nes/flash_id.h"
#include "nes/nes_family.h"
#include "nes/prg_flash.h"
#include "platform/sleep.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/inprocess.h"

namespace {

constexpr uint32_t kMiB = 0x100000;
constexpr uint32_t kBank = 0x2000;

// One MiB the way a PRG job's program loop handles it: per 8 KiB bank one block-program
// command, the verify read and the compare. Argument: protocol level (400 enciphers).
void BM_ProgramLoopPerMiB(benchmark::State& state) {
  link_reset_state();
  vdev::attach({{"/bench/E/", true, nullptr}});
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "/bench/E/");
  g_link.protocol_level = static_cast<int32_t>(state.range(0));
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  cipher_set_key(key, sizeof key);
  std::vector<uint8_t> image(kMiB);
  for (uint32_t i = 0; i < kMiB; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
  std::vector<uint8_t> read_back(kBank);
  const auto program = state.range(1) ? nes_prg_program_block_29gl : nes_prg_program_block;
  for (auto _ : state) {
    int differing = 0;
    for (uint32_t at = 0; at < kMiB; at += kBank) {
      program(0x8000, image.data() + at, kBank);
      nes_cpu_read_block(0x8000, read_back.data(), kBank);
      differing += std::memcmp(read_back.data(), image.data() + at, kBank) != 0;
    }
    benchmark::DoNotOptimize(differing);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
  vdev::detach();
}
BENCHMARK(BM_ProgramLoopPerMiB)
    ->Args({400, 0})
    ->Args({403, 0})
    ->Args({400, 1})
    ->Args({403, 1})
    ->Unit(benchmark::kMillisecond);

struct TraceJob {
  const char* cartridge;
  bool chr;
  bool (*run)(const uint8_t*, uint32_t);
};

const TraceJob kTraceJobs[] = {
    {"prg-flash-8001-one-sector", false, prg_flash_8001_one_sector},
    {"prg-flash-5116-window", false, prg_flash_5116_window},
    {"chr-flash-5120-1k", true, chr_flash_5120_1k},
    {"chr-flash-4k-upper", true, chr_flash_4k_upper},
};

// A whole job against its virtual board at level 403; counters: command files and window
// reads per bank of the program loop (the files after the program setup, over the banks).
void BM_JobCommandFilesPerBank(benchmark::State& state) {
  const TraceJob& job = kTraceJobs[state.range(0)];
  state.SetLabel(job.cartridge);
  const uint32_t bank = std::string(job.cartridge).find("4k") != std::string::npos ? 0x1000 : kBank;
  const uint32_t banks = 8;
  std::vector<uint8_t> image(banks * bank + 0x4000, 0x3C);
  double files_per_bank = 0, reads_per_bank = 0;
  plat_install_sleep([](uint32_t) {});
  // The jobs' console output is not what is measured: it goes to /dev/null meanwhile.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  for (auto _ : state) {
    vdev::Device device;
    device.config().identity = "NES_HWRKA_FW403";
    std::string error;
    vdev::find_cartridge_kind(job.cartridge)->build(device, {{"erase-polls", "0"}}, error);
    vdev::attach({{"/bench/E/", true, &device}});
    link_reset_state();
    flash_reset_state();
    std::snprintf(g_link.root_path, sizeof g_link.root_path, "/bench/E/");
    g_link.protocol_level = 403;
    if (!job.chr) identify_flash();
    device.clear_trace();
    job.run(image.data(), banks * bank);
    // From the program setup on: what the program loop cost.
    size_t files = 0, reads = 0;
    bool loop = false;
    for (const auto& e : device.trace()) {
      if (e.kind == vdev::TraceEvent::Kind::command_file && e.data.size() >= 512 &&
          e.data[2] == 11) {
        loop = true;
        continue;
      }
      if (!loop) continue;
      if (e.kind == vdev::TraceEvent::Kind::command_file) ++files;
      if (e.kind == vdev::TraceEvent::Kind::dump_read) ++reads;
    }
    const double counted =
        std::string(job.cartridge) == "prg-flash-5116-window" ? banks + 1 : banks;
    files_per_bank = static_cast<double>(files) / counted;
    reads_per_bank = static_cast<double>(reads) / counted;
    vdev::detach();
  }
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  plat_install_sleep(nullptr);
  state.counters["command_files_per_bank"] = files_per_bank;
  state.counters["window_reads_per_bank"] = reads_per_bank;
}
BENCHMARK(BM_JobCommandFilesPerBank)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
