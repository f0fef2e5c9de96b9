// The N64 flash cartridge: a 16-bit chip in the cartridge ROM window from 0x10000000, reached
// through the operation table. Command cycles are word writes with the command in the low half
// (the chip's word addresses 0x555, 0x2AA and 0x55 are bus bytes 0xAAA, 0x555 and 0xAA above
// the base); batches go as the device's program command of 500-byte packets (sub-command 5,
// ciphered where the firmware wants it), one command file each.
#include "cartridge/flash_slot.h"
#include "families/n64.h"
#include "platform/sleep.h"

namespace {

constexpr uint32_t kUnlock1 = kN64RomBase + 0xAAA;
constexpr uint32_t kUnlock2 = kN64RomBase + 0x555;
constexpr uint32_t kCfiAddress = kN64RomBase + 0xAA;
constexpr uint32_t kReach = kN64RomEnd - kN64RomBase;

void start() { n64_identify(); }

// Word n of the chip at bus bytes 2n (high) and 2n + 1: the bus is big-endian.
template <size_t N>
void read_words(uint16_t (&words)[N]) {
  uint8_t bytes[2 * N] = {};
  n64_read_block(kN64RomBase, bytes, sizeof bytes);
  for (size_t i = 0; i < N; ++i) {
    words[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  }
}

void query(FlashQuery& out) {
  n64_write_word(kUnlock1, 0x00F0);
  n64_write_word(kUnlock1, 0x00AA);
  n64_write_word(kUnlock2, 0x0055);
  n64_write_word(kUnlock1, 0x0090);
  read_words(out.autoselect);
  n64_write_word(kUnlock1, 0x00F0);
  n64_write_word(kCfiAddress, 0x0098);
  read_words(out.cfi);
  n64_write_word(kUnlock1, 0x00F0);
}

bool erase_sector(uint32_t offset) { return n64_erase_sector(kN64RomBase + offset); }

bool erase_chip() {
  n64_erase_chip();
  for (uint32_t poll = 0; poll <= kFlashChipPolls; ++poll) {
    if (poll != 0) plat_sleep_ms(kFlashPollMs);
    if (n64_read_word(kN64RomBase) == 0xFFFF) return true;
  }
  return false;
}

bool program(uint32_t offset, const uint8_t* data, uint32_t length) {
  return n64_write_block_sub5(kN64RomBase + offset, data, length);
}

void read(uint32_t offset, uint8_t* out, uint32_t length) {
  n64_read_block(kN64RomBase + offset, out, length);
}

}  // namespace

const FlashSlot& flash_slot_n64() {
  static const FlashSlot slot{"n64",        kN64RomBase, kReach, kN64WriteChunk,
                              "the program command of 500-byte packets (sub-command 5)",
                              2,            start,       query,  erase_sector,
                              erase_chip,   program,     read,   true};
  return slot;
}
