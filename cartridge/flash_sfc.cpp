// The SFC flash cartridge: a byte-mode chip from bus address 0 whose command addresses 0xAAA
// and 0x555 answer at 0x8AAA and 0x8555 (where the family's erase sequences send them) and
// whose CFI query address 0xAA answers at 0x80AA. Batches go as the 496-byte block write, the
// largest packet the family's block writes carry, all packets of a batch in one command file.
#include "cartridge/flash_slot.h"
#include "families/sfc.h"
#include "platform/sleep.h"

namespace {

constexpr uint32_t kUnlock1 = 0x8AAA;
constexpr uint32_t kUnlock2 = 0x8555;
constexpr uint32_t kCfiAddress = 0x80AA;
constexpr uint32_t kReach = 0x800000;  // the flash decodes the lower half of the bus

void start() { sfc_identify(); }

void query(FlashQuery& out) {
  sfc_write_byte(kUnlock1, 0xF0);
  sfc_write_byte(kUnlock1, 0xAA);
  sfc_write_byte(kUnlock2, 0x55);
  sfc_write_byte(kUnlock1, 0x90);
  // A byte-mode chip answers word n at byte 2n.
  uint8_t id[2 * kFlashAutoselectWords] = {};
  sfc_read_block(0, id, sizeof id);
  sfc_write_byte(kUnlock1, 0xF0);
  for (size_t i = 0; i < kFlashAutoselectWords; ++i) out.autoselect[i] = id[2 * i];

  sfc_write_byte(kCfiAddress, 0x98);
  uint8_t cfi[2 * kFlashCfiWords] = {};
  sfc_read_block(0, cfi, sizeof cfi);
  sfc_write_byte(kUnlock1, 0xF0);
  for (size_t i = 0; i < kFlashCfiWords; ++i) out.cfi[i] = cfi[2 * i];
}

bool poll_erased(uint32_t address, uint32_t polls) {
  for (uint32_t poll = 0; poll <= polls; ++poll) {
    if (poll != 0) plat_sleep_ms(kFlashPollMs);
    if (sfc_read_status(address) == 0xFF) return true;
  }
  return false;
}

bool erase_sector(uint32_t offset) {
  sfc_sector_erase(offset);
  return poll_erased(offset, kFlashSectorPolls);
}

bool erase_chip() {
  sfc_chip_erase();
  return poll_erased(0, kFlashChipPolls);
}

bool program(uint32_t offset, const uint8_t* data, uint32_t length) {
  sfc_write_block_496(offset, data, length);
  return true;
}

void read(uint32_t offset, uint8_t* out, uint32_t length) { sfc_read_block(offset, out, length); }

}  // namespace

const FlashSlot& flash_slot_sfc() {
  static const FlashSlot slot{"sfc",         0,        kReach, kSfcChunk496,
                              "the 496-byte block write (sub-command 7)",
                              1,             start,    query,  erase_sector,
                              erase_chip,    program,  read};
  return slot;
}
