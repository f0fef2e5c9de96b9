// The SFC slot as cartlink-run sees it: the whole 24-bit bus, read through the window where
// address and length allow, written with the 480-byte batched block write and read back, and
// erased with the family's sequences followed by polling the status until it reads erased.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "families/sfc.h"
#include "platform/print.h"
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

namespace {
// Flash keeps only the bits an erase left set, and a protected chip keeps nothing: such a write
// does not take, so every batch is read back and a difference fails the write.
bool reads_back(uint32_t address, const uint8_t* data, uint32_t length) {
  std::vector<uint8_t> back(length);
  sfc_read_block(address, back.data(), length);
  const auto diff = std::mismatch(back.begin(), back.end(), data);
  if (diff.first == back.end()) return true;
  const auto at = static_cast<uint32_t>(diff.first - back.begin());
  runner_error("sfc at 0x%X reads back 0x%.2X, not 0x%.2X", address + at, back[at], data[at]);
  return false;
}
}  // namespace

bool write(uint64_t address, const uint8_t* data, uint32_t length) {
  // Batches of 128 packets keep each command file small while the device programs it.
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(kWriteBatch, length - done);
    const auto at = static_cast<uint32_t>(address + done);
    sfc_write_block_480(at, data + done, n);
    if (!reads_back(at, data + done, n)) return false;
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
