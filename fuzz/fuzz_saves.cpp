// The save jobs' readings of outside data: a restore's file against every save shape of every
// slot (its size and padding) with the backup name made from the same bytes as a file name; and
// the N64 save detection on fuzzed answers (the probe's selector and identification, the bus
// bytes at 0x08000000, the banks, the flash save's status), followed by a read of the area it
// found. Each command file the tool writes turns the reply file to the next fuzzed answer.
// Input: one settings byte, then the bytes (the file, then the answers).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cartridge/save.h"
#include "cartridge/save_n64.h"
#include "cartridge/save_slots.h"
#include "families/n64.h"
#include "fuzz/fake_drive.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/sleep.h"

namespace {

constexpr size_t kAnswer = 64;      // fuzzed bytes per reply
constexpr size_t kFileMax = 0x21000;  // past the largest padded size (128 KiB)

void no_sleep(uint32_t) {}

void files(const std::vector<uint8_t>& file, uint8_t settings) {
  const char* slots[] = {"sfc", "n64", "wsc", "nes"};
  for (const char* slot : slots) {
    SaveRequest request;
    request.slot = slot;
    std::string why;
    const auto shapes = save_request_shapes(request);
    save_size_possible(shapes, file.size(), why);
    for (const auto& shape : shapes) {
      const SaveFileMatch m = save_match_file(shape, file);
      if (m.accepted && m.data.size() != shape.size) std::abort();
    }
  }
  const std::string name(file.begin(), file.begin() + static_cast<long>(std::min<size_t>(
                                                          file.size(), 300)));
  const std::string stamp = "20250101-000000";
  const std::string backup =
      save_backup_name(name, stamp, [settings](const std::string& n) {
        return (n.size() + settings) % 3 == 0;
      });
  if (!backup.empty() && backup.find(".before-restore-" + stamp) == std::string::npos) {
    std::abort();
  }
}

void detection(const std::vector<uint8_t>& answers, uint8_t settings) {
  link_reset_state();
  n64_reset_state();
  plat_install_sleep(no_sleep);
  std::strcpy(g_link.root_path, fuzz::kRoot);
  fuzz::FakeDrive drive;
  const std::string reply_name = std::string(fuzz::kRoot) + "T-DRIVER.DMP";
  auto& reply = drive.files[reply_name];
  reply.assign(kStatusSectorOffset + kStatusSectorSize, 0);
  const char* identity = (settings & 1) ? "N64_HWRKB_FW400" : "N64_HWRKB_FW319";
  std::memcpy(reply.data() + kStatusSectorOffset, identity, std::strlen(identity));
  size_t next = 0;
  drive.on_write = [&](const std::string& path, const uint8_t*, uint32_t) {
    if (path == reply_name) return;
    for (size_t i = 0; i < kAnswer; ++i) {
      reply[i] = next < answers.size() ? answers[next++] : 0xFF;
    }
  };
  fuzz::install(&drive);
  n64_identify();
  const N64SaveFind found = n64_find_save();
  if (found.found != (found.type != N64SaveType::none)) std::abort();
  SaveArea area;
  std::string error;
  if (n64_save_area(found.found ? found.type : N64SaveType::sram, found.found, area, error)) {
    std::vector<uint8_t> some(64);
    area.read(0, some.data(), static_cast<uint32_t>(some.size()));
    if (area.address(area.shape.size - 1).empty()) std::abort();
  }
  fuzz::install(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  if (settings & 0x80) {
    files(in.bytes(kFileMax), settings);
  } else {
    detection(in.rest(), settings);
  }
  return 0;
}
