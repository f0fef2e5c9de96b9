// The SFC slot as cartlink-run sees it: the whole 24-bit bus, read through the window where
// address and length allow, written with the 480-byte batched block write, and erased with the
// family's sequences followed by polling the status until the chip reads back erased.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/console.h"
#include "families/sfc.h"
#include "platform/sleep.h"
#include "runner/runner.h"

namespace runner_sfc {

namespace {
// A sector erase ends within seconds; a whole chip may take minutes.
constexpr uint32_t kSectorPolls = 100;
constexpr uint32_t kChipPolls = 3000;
constexpr uint32_t kPollPauseMs = 100;
constexpr uint32_t kWriteBatch = 128 * kSfcChunk480;
}  // namespace

bool start() {
  sfc_identify();
  return true;
}

bool read(uint64_t address, uint8_t* out, uint32_t length) {
  sfc_read_block(static_cast<uint32_t>(address), out, length);
  return true;
}

bool write(uint64_t address, const uint8_t* data, uint32_t length) {
  // Batches of 128 packets keep each command file small while the device programs it.
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(kWriteBatch, length - done);
    sfc_write_block_480(static_cast<uint32_t>(address + done), data + done, n);
    done += n;
  }
  return true;
}

int erase(bool whole_chip, uint64_t sector) {
  const auto address = static_cast<uint32_t>(sector);
  if (whole_chip) {
    sfc_chip_erase();
  } else {
    sfc_sector_erase(address);
  }
  const uint32_t polls = whole_chip ? kChipPolls : kSectorPolls;
  for (uint32_t poll = 0; poll <= polls; ++poll) {
    if (poll != 0) plat_sleep_ms(kPollPauseMs);
    if (sfc_read_status(address) == 0xFF) return kExitDone;
  }
  return kExitFailed;
}

int identify_job(const std::vector<std::string>&) {
  sfc_identify();
  print_message("SFC level: %u\n", sfc_protocol_level);
  if (sfc_protocol_level < kSfcWholeWindowLevel) {
    print_message("Window: one 8 MiB half at a time, chosen by sub-command 4\n");
  } else {
    print_message("Window: the whole 16 MiB bus\n");
  }
  return kExitDone;
}

}  // namespace runner_sfc
