// The slots of families 20, 19, 2, 17, 7 and 3, and the command-port jobs, for cartlink-run.
#include <algorithm>
#include <cstdio>

#include "families/fam17.h"
#include "families/fam19.h"
#include "families/fam2.h"
#include "families/fam20.h"
#include "families/fam3.h"
#include "families/fam7.h"
#include "families/port.h"
#include "runner/runner.h"

namespace runner_fams {

namespace {

// Reply reads of families 2 and 3 carry at most this much per command.
constexpr uint32_t kReplyStep = 8192;
// fam17_write_bytes sends one packet per byte: this many bytes keep a command file at 512 KiB.
constexpr uint32_t kFam17WriteStep = 1024;
constexpr uint32_t kWindowUnit = 1024;

// Reads in reply-sized commands; false when a reply read delivers less than asked.
bool read_in_steps(uint32_t (*read)(uint32_t, uint8_t*, uint32_t), uint64_t address, uint8_t* out,
                   uint32_t length) {
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(kReplyStep, length - done);
    if (read(static_cast<uint32_t>(address + done), out + done, n) != n) return false;
    done += n;
  }
  return true;
}

uint32_t fam2_read_at(uint32_t address, uint8_t* out, uint32_t length) {
  return fam2_read_block(static_cast<uint16_t>(address), out, length);
}

}  // namespace

bool fam20_start_slot() {
  fam20_start();
  return true;
}

bool fam20_read(uint64_t address, uint8_t* out, uint32_t length) {
  fam20_read_block(static_cast<uint32_t>(address), out, length);
  return true;
}

bool fam20_write(uint64_t address, const uint8_t* data, uint32_t length) {
  fam20_write_block_addr32(static_cast<uint32_t>(address), data, length);
  return true;
}

bool fam19_start_slot() {
  fam19_start();
  return true;
}

bool fam19_read(uint64_t address, uint8_t* out, uint32_t length) {
  fam19_read_block(static_cast<uint32_t>(address), out, length);
  return true;
}

// The slot's addresses are byte addresses; the family writes by word. The runner has refused
// odd addresses and lengths already.
bool fam19_write(uint64_t address, const uint8_t* data, uint32_t length) {
  if (address % 2 != 0 || length % 2 != 0) return false;
  fam19_write_block(static_cast<uint32_t>(address / 2), data, length);
  return true;
}

bool fam2_start_slot() {
  fam2_start();
  return true;
}

bool fam2_read(uint64_t address, uint8_t* out, uint32_t length) {
  if (address % kWindowUnit == 0 && length % kWindowUnit == 0) {
    fam2_read_window(static_cast<uint16_t>(address), out, length);
    return true;
  }
  return read_in_steps(fam2_read_at, address, out, length);
}

bool fam2_write(uint64_t address, const uint8_t* data, uint32_t length) {
  fam2_write_block(static_cast<uint16_t>(address), data, length);
  return true;
}

bool fam17_start_slot() {
  fam17_start();
  return true;
}

bool fam17_read(uint64_t address, uint8_t* out, uint32_t length) {
  fam17_read_block(static_cast<uint32_t>(address), out, length);
  return true;
}

bool fam17_write(uint64_t address, const uint8_t* data, uint32_t length) {
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(kFam17WriteStep, length - done);
    fam17_write_bytes(static_cast<uint32_t>(address + done), data + done, n);
    done += n;
  }
  return true;
}

bool fam7_start_slot() {
  fam7_start();
  return true;
}

bool fam7_read(uint64_t address, uint8_t* out, uint32_t length) {
  fam7_read_block(static_cast<uint32_t>(address), out, length);
  return true;
}

bool fam3_start_slot() {
  fam3_start();
  return true;
}

bool fam3_read(uint64_t address, uint8_t* out, uint32_t length) {
  return read_in_steps(fam3_read_block, address, out, length);
}

int port_wake_job(const std::vector<std::string>&) {
  const bool awake = port_wake();
  std::printf("port_wake: %s\n", awake ? "true" : "false");
  return awake ? kExitDone : kExitFailed;
}

int port_check_job(const std::vector<std::string>&) {
  const bool answered = port_check();
  std::printf("port_check: %s\n", answered ? "true" : "false");
  return answered ? kExitDone : kExitFailed;
}

}  // namespace runner_fams
