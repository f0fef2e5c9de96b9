// cartlink's host time beside the I/O floor, on one mount of a (virtual) device: what the tool
// takes for a command and its answer, for bulk window reads and for building block writes,
// against bare system calls doing the same transfers on the same files in the same run.
// Usage: cartlink_bench_io MOUNTPOINT  (tools/bench.sh mounts cartlink-virtual and runs it)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "nes/nes_family.h"

namespace {

// Each figure is the best of this many rounds, the tool's and the floor's taken alternately: on
// a shared machine the best round is the one least disturbed by others.
constexpr int kRounds = 11;

// Runs `a` and `b` alternately, kRounds times each; the best seconds of each.
std::pair<double, double> alternate(const std::function<void()>& a,
                                    const std::function<void()>& b) {
  std::vector<double> ta, tb;
  for (int r = 0; r < kRounds; ++r) {
    double t0 = now_s();
    a();
    ta.push_back(now_s() - t0);
    t0 = now_s();
    b();
    tb.push_back(now_s() - t0);
  }
  return {best(ta), best(tb)};
}

// The bare floor: the system calls an unbuffered transfer needs, and nothing else.
struct Bare {
  std::string root;
  bool direct = true;  // O_DIRECT works on this mount
  uint8_t* aligned = nullptr;
  size_t aligned_size = 0;
  int counter = 0;

  explicit Bare(std::string r, size_t largest) : root(std::move(r)) {
    aligned_size = (largest + 8191) / 4096 * 4096;
    aligned = static_cast<uint8_t*>(std::aligned_alloc(4096, aligned_size));
    const int fd = open((root + "T-DRIVER.DMP").c_str(), O_RDONLY | O_DIRECT);
    direct = fd >= 0 && pread(fd, aligned, 4096, 0) >= 0;
    if (fd >= 0) close(fd);
  }
  ~Bare() { std::free(aligned); }

  void write_command(const uint8_t* packet, size_t length) {
    const std::string name = root + "CMD" + std::to_string(counter) + ".CMD";
    counter = (counter + 1) % 4;
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, packet, length) != static_cast<ssize_t>(length) || fsync(fd) != 0) {
      std::fprintf(stderr, "bench: bare command write failed\n");
      std::exit(1);
    }
    close(fd);
  }

  size_t read(const char* file, off_t offset, size_t count) {
    const int fd = open((root + file).c_str(), direct ? O_RDONLY | O_DIRECT : O_RDONLY);
    if (fd < 0) return 0;
    if (!direct) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    size_t done = 0;
    while (done < count) {
      const ssize_t n = pread(fd, aligned + done, count - done, offset + static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    return done;
  }
};

void read_packet(uint8_t* packet) {
  std::memset(packet, 0, kPacketSize);
  packet[1] = kFamilyNes;
  packet[2] = kNesSubCpuRead;
  packet[4] = 0x00;
  packet[5] = 0x80;  // $8000
  packet[8] = 1;     // one byte
}

void line(const char* what, double tool, double floor, const char* goal) {
  std::printf("%-44s %10.3f %10.3f %7.3f   %s\n", what, tool, floor, tool / floor, goal);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MOUNTPOINT (a mounted cartlink-virtual with identity "
                         "NES_HWRKA_FW403)\n", argv[0]);
    return 2;
  }
  std::string root = argv[1];
  if (root.back() != '/') root += '/';
  link_reset_state();
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", root.c_str());
  g_link.protocol_level = kNesFastLevel;
  constexpr size_t kBig = 4u << 20;
  Bare bare(root, kBig + 4096);
  std::vector<uint8_t> out(kBig + 4096);

  std::printf("cartlink_bench_io on %s (%s reads)\n", root.c_str(),
              bare.direct ? "O_DIRECT" : "page-cache-dropping");
  std::printf("%-44s %10s %10s %7s   %s\n", "", "cartlink", "floor", "ratio", "goal");

  // 1. One command and its answer.
  constexpr int kCommands = 300;
  uint8_t packet[kPacketSize];
  auto [tool_cmd, bare_cmd] = alternate(
      [&] {
        for (int i = 0; i < kCommands; ++i) {
          read_packet(packet);
          send_command(packet, kPacketSize);
          read_reply(0, out.data(), kPacketSize);
        }
      },
      [&] {
        for (int i = 0; i < kCommands; ++i) {
          read_packet(packet);
          packet[0] = kPacketMarker;
          const uint16_t crc = packet_crc16(packet, kPacketSize);
          packet[510] = static_cast<uint8_t>(crc >> 8);
          packet[511] = static_cast<uint8_t>(crc);
          bare.write_command(packet, kPacketSize);
          bare.read("T-DRIVER.DMP", 0, kReplyBlock);
        }
      });
  line("command + reply (us each)", tool_cmd / kCommands * 1e6, bare_cmd / kCommands * 1e6,
       "ratio <= 1.05");

  // 2. Bulk reads through the window: the NES CPU bus at level 403, 64 KiB at a time.
  constexpr int kBlocks = 64;  // 4 MiB
  auto [tool_nes, bare_nes] = alternate(
      [&] {
        for (int i = 0; i < kBlocks; ++i) nes_cpu_read_block(0, out.data(), 0xFFFF);
      },
      [&] {
        for (int i = 0; i < kBlocks; ++i) bare.read("DUMP.ROM", 0, 0x10000);
      });
  const double mib_nes = kBlocks * 0xFFFF / 1048576.0;
  line("NES CPU bus, 64 KiB blocks (MiB/s)", mib_nes / tool_nes, mib_nes / bare_nes,
       "ratio >= 0.95");

  // 3. A 4 MiB window read at an odd offset, and at a whole-sector one.
  constexpr int kDumps = 4;
  auto [tool_odd, bare_odd] = alternate(
      [&] {
        for (int i = 0; i < kDumps; ++i) read_dump(0x12345, out.data(), kBig);
      },
      [&] {
        for (int i = 0; i < kDumps; ++i) bare.read("DUMP.ROM", 0x12200, kBig + 512);
      });
  auto [tool_whole, bare_whole] = alternate(
      [&] {
        for (int i = 0; i < kDumps; ++i) read_dump(0x12200, out.data(), kBig);
      },
      [&] {
        for (int i = 0; i < kDumps; ++i) bare.read("DUMP.ROM", 0x12200, kBig);
      });
  const double mib_dump = kDumps * 4.0;
  line("read_dump 4 MiB at an odd offset (MiB/s)", mib_dump / tool_odd,
       mib_dump / bare_odd, "ratio >= 0.95");
  line("read_dump 4 MiB, whole sectors (MiB/s)", mib_dump / tool_whole,
       mib_dump / bare_whole, "ratio >= 0.95");
  line("odd offset vs whole sectors (MiB/s)", mib_dump / tool_odd,
       mib_dump / tool_whole, "ratio >= 0.95");

  // 4. Host CPU per MiB of NES block writes (packets built, framed, written), with the cipher
  // (below level 403) and without.
  std::vector<uint8_t> data(0xFFFF);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
  const uint8_t key[8] = {0x3A, 0x91, 0x5C, 0x07, 0xE2, 0x48, 0xB6, 0x1F};
  cipher_set_key(key, sizeof key);
  constexpr int kWrites = 16;  // 1 MiB
  auto cpu_per_mib = [&](int32_t level) {
    g_link.protocol_level = level;
    std::vector<double> v;
    for (int r = 0; r < kRounds; ++r) {
      const double c0 = cpu_s();
      for (int i = 0; i < kWrites; ++i) {
        nes_prg_program_block(0x8000, data.data(), static_cast<uint16_t>(data.size()));
      }
      v.push_back((cpu_s() - c0) / (kWrites * 0xFFFF / 1048576.0) * 1e3);
    }
    return best(v);
  };
  const double ciphered = cpu_per_mib(400);
  const double plain = cpu_per_mib(kNesFastLevel);
  std::printf("%-44s %10.3f %21s   %s\n", "NES block writes, ciphered (CPU ms/MiB)", ciphered, "",
              "<= 5");
  std::printf("%-44s %10.3f %21s   %s\n", "NES block writes, plain (CPU ms/MiB)", plain, "",
              "<= 5");
  return 0;
}
