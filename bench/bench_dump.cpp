// One verified pass of a dump beside the I/O floor, on one mounted (virtual) device: the dump
// as cartlink-run runs it (identification, reads through the slot's map, hashing, the output
// written and synced) against bare system calls reading the same bytes unbuffered into a file
// in the same folder, synced; and the host CPU the hashes take per MiB.
// Usage: cartlink_bench_dump sfc|n64 MOUNTPOINT OUTDIR  (tools/bench.sh mounts and runs it)
//   sfc: a 4 MiB LoROM cartridge (identity SFC_Q3V8_FW412): 128 window reads of 32 KiB halves
//   n64: a 64 MiB cartridge (identity N64_HWRKB_FW320): the whole ROM window
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "cartridge/dump.h"
#include "families/n64.h"
#include "formats/dat.h"
#include "formats/sfc_header.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "platform/hash.h"

namespace {

constexpr int kRounds = 7;
constexpr uint32_t kSfcSize = 0x400000;
constexpr uint32_t kSfcRun = 0x8000;
constexpr uint32_t kN64Size = 0x4000000;
constexpr uint32_t kN64Piece = 0x400000;

// The floor: unbuffered reads of `spans` (file offset, length) of DUMP.ROM, each written on
// into `out` as it comes, then the file synced.
bool bare_copy(const std::string& root, const std::vector<std::pair<off_t, size_t>>& spans,
               const std::string& out, uint8_t* buffer) {
  const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) return false;
  off_t at = 0;
  bool ok = true;
  for (const auto& [offset, length] : spans) {
    int fd = open((root + "DUMP.ROM").c_str(), O_RDONLY | O_DIRECT);
    if (fd < 0) fd = open((root + "DUMP.ROM").c_str(), O_RDONLY);
    ok = ok && fd >= 0 && pread(fd, buffer, length, offset) == static_cast<ssize_t>(length);
    if (fd >= 0) close(fd);
    ok = ok && pwrite(file, buffer, length, at) == static_cast<ssize_t>(length);
    at += static_cast<off_t>(length);
  }
  ok = fsync(file) == 0 && ok;
  return close(file) == 0 && ok;
}

// The tool's dump with its printing sent nowhere; false when it did not verify.
bool tool_dump(bool sfc, const std::string& out, const Dat* dat) {
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  DumpRequest request;
  request.outfile = out;
  request.force = true;
  request.dat = dat;
  const DumpResult result = sfc ? dump_sfc(request) : dump_n64(request);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return result.status == DumpStatus::verified;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[1]) != "sfc" && std::string(argv[1]) != "n64")) {
    std::fprintf(stderr, "usage: %s sfc|n64 MOUNTPOINT OUTDIR\n", argv[0]);
    return 2;
  }
  const bool sfc = std::string(argv[1]) == "sfc";
  std::string root = argv[2];
  if (root.back() != '/') root += '/';
  const std::string dir = argv[3];
  link_reset_state();
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", root.c_str());
  identify_device();

  std::vector<std::pair<off_t, size_t>> spans;
  if (sfc) {
    for (uint32_t at = 0; at < kSfcSize; at += kSfcRun) {
      spans.emplace_back(sfc_rom_bus_address(SfcMap::lorom, at), kSfcRun);
    }
  } else {
    for (uint32_t at = 0; at < kN64Size; at += kN64Piece) spans.emplace_back(at, kN64Piece);
  }
  const size_t largest = sfc ? kSfcRun : kN64Piece;
  auto* buffer = static_cast<uint8_t*>(std::aligned_alloc(4096, largest));
  const double mib = (sfc ? kSfcSize : kN64Size) / 1048576.0;

  // One verified pass: the SFC checksum covers the whole ROM; an N64 dump needs a known-good
  // list for that (else it reads the image twice), made here from a bare copy.
  Dat dat;
  if (!sfc) {
    if (!bare_copy(root, spans, dir + "/floor.bin", buffer)) {
      std::fprintf(stderr, "bench: the bare copy failed\n");
      return 1;
    }
    std::vector<uint8_t> image(kN64Size);
    const int fd = open((dir + "/floor.bin").c_str(), O_RDONLY);
    const bool whole = fd >= 0 && pread(fd, image.data(), kN64Size, 0) == kN64Size;
    if (fd >= 0) close(fd);
    ImageHash hash;
    DatRom rom;
    rom.game = "Bench";
    rom.size = kN64Size;
    rom.has_sha1 = true;
    if (!whole || !plat_hash_begin(hash)) return 1;
    plat_hash_update(hash, image.data(), image.size());
    plat_hash_end(hash, rom.crc32, rom.sha1);
    dat.roms.push_back(rom);
  }
  std::vector<double> tool, floor, tool_cpu;
  bool ok = true;
  for (int r = 0; r < kRounds && ok; ++r) {
    const double c0 = cpu_s();
    double t0 = now_s();
    ok = tool_dump(sfc, dir + "/tool.bin", sfc ? nullptr : &dat);
    tool.push_back(now_s() - t0);
    tool_cpu.push_back(cpu_s() - c0);
    t0 = now_s();
    ok = bare_copy(root, spans, dir + "/floor.bin", buffer) && ok;
    floor.push_back(now_s() - t0);
  }
  std::free(buffer);
  if (!ok) {
    std::fprintf(stderr, "bench: a dump or the bare copy failed\n");
    return 1;
  }

  // Hashing alone: CRC-32 and SHA-1 of 64 MiB, host CPU per MiB.
  std::vector<uint8_t> data(0x100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  std::vector<double> hash_cpu;
  for (int r = 0; r < kRounds; ++r) {
    ImageHash hash;
    plat_hash_begin(hash);
    const double c0 = cpu_s();
    for (int i = 0; i < 64; ++i) plat_hash_update(hash, data.data(), data.size());
    hash_cpu.push_back((cpu_s() - c0) / 64 * 1e3);
    uint32_t crc;
    uint8_t sha1[kSha1Size];
    plat_hash_end(hash, crc, sha1);
  }

  std::printf("cartlink_bench_dump %s on %s, output in %s (best of %d)\n", argv[1], root.c_str(),
              dir.c_str(), kRounds);
  std::printf("%-46s %10s %10s %7s   %s\n", "", "dump", "floor", "ratio", "goal");
  std::printf("%-46s %10.1f %10.1f %7.3f   %s\n",
              sfc ? "SFC 4 MiB LoROM, one verified pass (MiB/s)" : "N64 64 MiB, one pass with a DAT (MiB/s)",
              mib / best(tool), mib / best(floor), best(floor) / best(tool), ">= 0.95");
  std::printf("%-46s %10.2f %21s   %s\n", "dump, host CPU (ms/MiB, all threads)",
              best(tool_cpu) / mib * 1e3, "", "");
  std::printf("%-46s %10.2f %21s   %s\n", "CRC-32 + SHA-1 (host CPU ms/MiB)", best(hash_cpu), "",
              "<= 5");
  return 0;
}
