// The flash job of the sfc, n64 and wsc slots: the host's share of programming one MiB
// (building the batches, enciphering where the firmware wants it, the read-back's own work and
// the compare, with no device behind the drive), and what each sector costs at the drive,
// counted from the in-process virtual device's trace.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cartridge/flash_job.h"
#include "families/n64.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "link/cipher.h"
#include "link/discovery.h"
#include "link/link_state.h"
#include "platform/sleep.h"
#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/inprocess.h"

namespace {

constexpr uint32_t kMiB = 0x100000;
constexpr uint32_t kSector = 0x10000;
constexpr const char* kRoot = "/bench/E/";

struct SlotRun {
  const char* label;
  const FlashSlot& (*slot)();
  const char* cartridge;
  const char* identity;
  uint8_t family, program_sub;  // the first packet of a program command file
};

const SlotRun kRuns[] = {
    {"sfc", flash_slot_sfc, "sfc", "GEN_HWRKA_FW320", 15, 7},
    {"n64 plain", flash_slot_n64, "n64", "N64_HWRKB_FW400", 16, 5},
    {"n64 ciphered", flash_slot_n64, "n64", "N64_HWRKB_FW320", 16, 5},
    {"wsc plain", flash_slot_wsc, "wsc", "WSC_HWRKA_FW400", 10, 10},
    {"wsc ciphered", flash_slot_wsc, "wsc", "WSC_HWRKA_FW310", 10, 10},
};

// Finds the virtual device as the runner does and runs the slot's identity, so the family's
// state (table, level, cipher) is what a real run would have.
void start_on(vdev::Device& device, const SlotRun& run) {
  device.config().name = run.identity;
  device.config().identity = run.identity;
  std::string error;
  vdev::find_cartridge_kind(run.cartridge)->build(device, {{"chip-size", "1M"}}, error);
  vdev::attach({{kRoot, true, &device}});
  link_reset_state();
  n64_reset_state();
  sfc_reset_state();
  wsc_reset_state();
  open_device();
  run.slot().start();
}

std::vector<uint8_t> image_of(uint32_t size) {
  std::vector<uint8_t> image(size);
  for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
  return image;
}

// One MiB through flash_run with the device gone from the drive: every command file and read
// fails at once, so what is left is the host's work. The erase is the device's time alone and
// stays out; the link's failure flag is cleared after each step so the run goes on.
void BM_FlashHostPerMiB(benchmark::State& state) {
  const SlotRun& run = kRuns[state.range(0)];
  state.SetLabel(run.label);
  vdev::Device device;
  start_on(device, run);
  vdev::attach({{kRoot, true, nullptr}});
  static const FlashSlot* real;
  static const uint8_t* programmed;
  real = &run.slot();
  const auto image = image_of(kMiB);
  programmed = image.data();
  FlashSlot slot = *real;
  slot.erase_sector = [](uint32_t) { return true; };
  slot.program = [](uint32_t offset, const uint8_t* data, uint32_t length) {
    real->program(offset, data, length);
    g_link.io_failed = false;
    return true;
  };
  // The read's own work, then the bytes a device would have delivered, for the compare.
  slot.read = [](uint32_t offset, uint8_t* out, uint32_t length) {
    real->read(offset, out, length);
    std::memcpy(out, programmed + offset, length);
    g_link.io_failed = false;
  };
  const FlashPlan plan =
      flash_make_plan(flash_uniform_geometry(kMiB, kSector), image.size(), false);
  bool verified = true;
  for (auto _ : state) {
    g_link.io_failed = false;
    const FlashResult r =
        flash_run(slot, plan, image.data(), [](const char*, uint64_t, uint64_t) {});
    verified = verified && r.status == FlashStatus::done && r.command_files == 16;
  }
  state.counters["verified"] = verified ? 1 : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
  vdev::detach();
}
BENCHMARK(BM_FlashHostPerMiB)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// A whole 1 MiB run against the virtual cartridge; counters per sector from the trace: program
// command files and read-backs of a whole sector through "DUMP.ROM".
void BM_FlashDriveCostPerSector(benchmark::State& state) {
  const SlotRun& run = kRuns[state.range(0)];
  state.SetLabel(run.label);
  plat_install_sleep([](uint32_t) {});
  const auto image = image_of(kMiB);
  const FlashPlan plan =
      flash_make_plan(flash_uniform_geometry(kMiB, kSector), image.size(), false);
  double files = 0, reads = 0;
  bool verified = true;
  for (auto _ : state) {
    vdev::Device device;
    start_on(device, run);
    device.clear_trace();
    const FlashResult r =
        flash_run(run.slot(), plan, image.data(), [](const char*, uint64_t, uint64_t) {});
    verified = verified && r.status == FlashStatus::done;
    size_t program_files = 0, sector_reads = 0;
    for (const auto& e : device.trace()) {
      if (e.kind == vdev::TraceEvent::Kind::command_file && e.data.size() >= 512 &&
          e.data[1] == run.family && e.data[2] == run.program_sub) {
        ++program_files;
      }
      if (e.kind == vdev::TraceEvent::Kind::dump_read && e.count == kSector) ++sector_reads;
    }
    files = static_cast<double>(program_files) / plan.sectors.size();
    reads = static_cast<double>(sector_reads) / plan.sectors.size();
    vdev::detach();
  }
  plat_install_sleep(nullptr);
  state.counters["program_files_per_sector"] = files;
  state.counters["sector_reads_per_sector"] = reads;
  state.counters["verified"] = verified ? 1 : 0;
}
BENCHMARK(BM_FlashDriveCostPerSector)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
