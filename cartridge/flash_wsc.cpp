// The WSC flash cartridge: a 16-bit chip filling the 1 MiB space from address 0 (a smaller chip
// repeats, so its last byte is at 0xFFFFF). The console starts at 0xFFFF0 and finds the
// footer in the last 16 bytes, so an image goes at the chip's top. Command cycles
// go as word writes into the segment at 0xF0000 (0xF0AAA and 0xF0555 are the chip's word
// addresses 0x555 and 0x2AA there, 0xF00AA its CFI query address 0x55); batches go as the
// protected block write of 500-byte packets, the family's batched form (one command file).
#include <iterator>

#include "cartridge/flash_slot.h"
#include "families/wsc.h"
#include "platform/sleep.h"

namespace {

constexpr uint32_t kSegment = 0xF0000;
constexpr uint32_t kUnlock1 = 0xF0AAA;
constexpr uint32_t kUnlock2 = 0xF0555;
constexpr uint32_t kCfiAddress = 0xF00AA;
constexpr uint32_t kReach = 0x100000;

void start() { wsc_identify(); }

// Word n of the chip at bytes 2n (low) and 2n + 1 of the segment.
template <size_t N>
void read_words(uint16_t (&words)[N]) {
  uint8_t bytes[2 * N] = {};
  wsc_read_block(kSegment, bytes, sizeof bytes);
  for (size_t i = 0; i < N; ++i) {
    words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
}

void query(FlashQuery& out) {
  wsc_write_word(kUnlock1, 0x00F0);
  wsc_write_word(kUnlock1, 0x00AA);
  wsc_write_word(kUnlock2, 0x0055);
  wsc_write_word(kUnlock1, 0x0090);
  read_words(out.autoselect);
  wsc_write_word(kUnlock1, 0x00F0);
  wsc_write_word(kCfiAddress, 0x0098);
  read_words(out.cfi);
  wsc_write_word(kUnlock1, 0x00F0);
}

bool erase_sector(uint32_t offset) { return wsc_erase_sector(offset); }

bool erase_chip() {
  wsc_erase_chip();
  for (uint32_t poll = 0; poll <= kFlashChipPolls; ++poll) {
    if (poll != 0) plat_sleep_ms(kFlashPollMs);
    if (wsc_read_byte(0) == 0xFF) return true;
  }
  return false;
}

bool program(uint32_t offset, const uint8_t* data, uint32_t length) {
  wsc_write_block_sub10(offset, data, length);
  return true;
}

void read(uint32_t offset, uint8_t* out, uint32_t length) { wsc_read_rom(offset, out, length); }

}  // namespace

const FlashSlot& flash_slot_wsc() {
  static const FlashSlot slot{"wsc",         0,        kReach, kWscProtectedChunk,
                              "the protected block write of 500-byte packets (sub-command 10)",
                              1,             start,    query,  erase_sector,
                              erase_chip,    program,  read,
                              false,         true};
  return slot;
}
