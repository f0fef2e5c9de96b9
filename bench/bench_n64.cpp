// The N64 ROM window read as cartlink-run reads it (the operation table at firmware 320, in
// 4 MiB pieces) against one bare unbuffered read of "DUMP.ROM" of the same size, on a mounted
// device: CARTLINK_BENCH_DRIVE names its root (with a trailing '/'); skipped without it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "families/n64.h"
#include "link/link_state.h"
#include "link/transport.h"

namespace {

constexpr uint32_t kLength = 8 * 1024 * 1024;
constexpr uint32_t kPiece = 4 * 1024 * 1024;

bool use_drive(benchmark::State& state) {
  const char* root = std::getenv("CARTLINK_BENCH_DRIVE");
  if (!root || !*root) {
    state.SkipWithError("set CARTLINK_BENCH_DRIVE to the root of a mounted N64 device");
    return false;
  }
  link_reset_state();
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", root);
  return true;
}

void BM_N64RomRead8M(benchmark::State& state) {
  if (!use_drive(state)) return;
  n64_reset_state();
  n64_identify();
  std::vector<uint8_t> out(kLength);
  for (auto _ : state) {
    for (uint32_t done = 0; done < kLength; done += kPiece) {
      n64_read_block(kN64RomBase + done, out.data() + done, kPiece);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(BM_N64RomRead8M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareDumpRead8M(benchmark::State& state) {
  if (!use_drive(state)) return;
  const std::string name = std::string(g_link.root_path) + "DUMP.ROM";
  std::vector<uint8_t> out(kLength);
  for (auto _ : state) {
    read_file_unbuffered(name.c_str(), out.data(), kLength, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(BM_BareDumpRead8M)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
