// A 4 MiB SFC ROM read through the window (one half select, one "DUMP.ROM" read) against a
// bare unbuffered read of the same size from the same drive: the family should add nothing
// that shows. The drive is a temporary folder, or the root in CARTLINK_BENCH_ROOT (for
// example a mounted cartlink-virtual with an sfc cartridge).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "families/sfc.h"
#include "link/link_state.h"
#include "link/transport.h"

namespace {

constexpr uint32_t kRomSize = 0x400000;

// The drive root to read from; a temporary folder gets a "DUMP.ROM" and a "T-DRIVER.DMP".
std::string bench_root() {
  if (const char* root = std::getenv("CARTLINK_BENCH_ROOT")) return root;
  const std::string root =
      (std::filesystem::temp_directory_path() / "cartlink-bench-sfc").string() + "/";
  std::filesystem::create_directories(root);
  const std::pair<const char*, size_t> files[] = {{"DUMP.ROM", 0x800000}, {"T-DRIVER.DMP", 9216}};
  for (const auto& [name, size] : files) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    std::FILE* f = std::fopen((root + name).c_str(), "wb");
    if (!f) continue;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return root;
}

void use_root(const std::string& root) {
  link_reset_state();
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", root.c_str());
}

void BM_SfcWindowRead4M(benchmark::State& state) {
  use_root(bench_root());
  sfc_protocol_level = static_cast<uint32_t>(state.range(0));
  std::vector<uint8_t> rom(kRomSize);
  for (auto _ : state) {
    sfc_read_block(0, rom.data(), kRomSize);
    benchmark::DoNotOptimize(rom.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRomSize);
}
// 308: a half select and the read; 320: the read alone.
BENCHMARK(BM_SfcWindowRead4M)->Arg(308)->Arg(320)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareUnbufferedRead4M(benchmark::State& state) {
  const std::string root = bench_root();
  use_root(root);
  const std::string name = root + "DUMP.ROM";
  std::vector<uint8_t> rom(kRomSize);
  for (auto _ : state) {
    read_file_unbuffered(name.c_str(), rom.data(), kRomSize, 0);
    benchmark::DoNotOptimize(rom.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRomSize);
}
BENCHMARK(BM_BareUnbufferedRead4M)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
