// The NES family's operations that interpret reply bytes: byte reads, block reads through the
// reply file or the window, the write list and the queued reads, at both protocol levels. The
// reply file and the window hold fuzzed bytes of fuzzed length; a little script of operations
// (op, address, length) comes first. Each destination is exactly as long as the read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fake_drive.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "nes/nes_family.h"

namespace {

constexpr int kOpsMax = 6;
constexpr uint16_t kLengthMax = 0x3000;

std::unique_ptr<uint8_t[]> room(uint16_t length) {
  return std::unique_ptr<uint8_t[]>(new uint8_t[length ? length : 1]);
}

void run_op(fuzz::Input& in) {
  const uint8_t op = in.u8();
  const uint16_t address = in.u16();
  const auto length = static_cast<uint16_t>(in.u16() % (kLengthMax + 1));
  auto out = room(length);
  switch (op % 10) {
    case 0: nes_cpu_read_byte(address); break;
    case 1: nes_ppu_read_byte(address); break;
    case 2: nes_cpu_read_block(address, out.get(), length); break;
    case 3: nes_ppu_read_block(address, out.get(), length); break;
    case 4: nes_read_misc_byte(); break;
    case 5: nes_read_misc_byte_short(); break;
    case 6: {
      const uint8_t count = in.u8();  // past the list's room on purpose: it must be cut
      uint16_t addresses[256] = {};
      uint8_t values[256] = {};
      nes_write_list_read(address, length ? out.get() : nullptr, length, addresses, values,
                          static_cast<uint8_t>(count % (kNesListMax + 1)));
      break;
    }
    case 7: nes_set_queue_mode(static_cast<uint8_t>(in.u8() % 3)); break;
    case 8: nes_queue_write(address, static_cast<uint8_t>(length)); break;
    default:
      if (op & 0x10) nes_queued_ppu_read_block(address, out.get(), length);
      else nes_queued_cpu_read_block(address, out.get(), length);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t flags = in.u8();
  const int ops = 1 + (flags & 7) % kOpsMax;
  std::vector<uint8_t> script = in.bytes(static_cast<size_t>(ops) * 6);
  const uint32_t reply_size = in.u16() % 0x4000;
  const std::vector<uint8_t> bytes = in.rest();

  link_reset_state();
  nes_reset_state();
  std::strcpy(g_link.root_path, fuzz::kRoot);
  g_link.protocol_level = (flags & 0x80) ? kNesFastLevel : 400;
  fuzz::FakeDrive drive;
  auto& reply = drive.files[std::string(fuzz::kRoot) + "T-DRIVER.DMP"];
  reply.assign(reply_size, 0);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), reply.size()), reply.begin());
  drive.files[std::string(fuzz::kRoot) + "DUMP.ROM"] = bytes;
  fuzz::install(&drive);

  fuzz::Input steps(script.data(), script.size());
  for (int i = 0; i < ops; ++i) run_op(steps);
  if (queue_count > kNesListMax) std::abort();
  fuzz::install(nullptr);
  return 0;
}
