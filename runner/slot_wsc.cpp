// The WSC slot as cartlink-run sees it: the 1 MiB space, read straight from the window when
// address and length are whole kilobytes and in reply-file chunks otherwise, written with the
// per-packet block write and read back, and erased with the family's sequences.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "families/wsc.h"
#include "platform/print.h"
#include "platform/sleep.h"
#include "runner/runner.h"

namespace runner_wsc {

namespace {
constexpr uint32_t kKilobyte = 1024;
// A whole chip may take minutes to erase.
constexpr uint32_t kChipPolls = 3000;
constexpr uint32_t kPollPauseMs = 100;
}  // namespace

bool start() {
  wsc_identify();
  return true;
}

bool read(uint64_t address, uint8_t* out, uint32_t length) {
  const auto at = static_cast<uint32_t>(address);
  if (at % kKilobyte == 0 && length % kKilobyte == 0) {
    wsc_read_rom(at, out, length);
  } else {
    wsc_read_block(at, out, length);
  }
  return true;
}

// Flash keeps only the bits an erase left set, and a protected chip keeps nothing: such a write
// does not take, so it is read back and a difference fails the write.
bool write(uint64_t address, const uint8_t* data, uint32_t length) {
  wsc_write_block(static_cast<uint32_t>(address), data, length);
  std::vector<uint8_t> back(length);
  read(address, back.data(), length);
  const auto diff = std::mismatch(back.begin(), back.end(), data);
  if (diff.first == back.end()) return true;
  const auto at = static_cast<uint32_t>(diff.first - back.begin());
  runner_error("wsc at 0x%X reads back 0x%.2X, not 0x%.2X", static_cast<uint32_t>(address) + at,
               back[at], data[at]);
  return false;
}

int erase(bool whole_chip, uint64_t sector) {
  if (!whole_chip) return wsc_erase_sector(static_cast<uint32_t>(sector)) ? kExitDone : kExitFailed;
  wsc_erase_chip();
  for (uint32_t poll = 0; poll <= kChipPolls; ++poll) {
    if (poll != 0) plat_sleep_ms(kPollPauseMs);
    if (wsc_read_byte(0) == 0xFF) return kExitDone;
  }
  return kExitFailed;
}

int identify_job(const std::vector<std::string>&) {
  wsc_identify();
  if (wsc_cipher_flag) {
    print_message("WSC cipher flag: on (protected writes enciphered with the device key)\n");
  } else {
    print_message("WSC cipher flag: off (protected writes in plain)\n");
  }
  return kExitDone;
}

}  // namespace runner_wsc
