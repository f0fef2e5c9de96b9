#include "nes/flash_id.h"

#include <cstring>

#include "nes/flash_job_parts.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"
#include "platform/print.h"

PrgProgramRoutine prg_program_routine = nullptr;
bool flash_is_29gl = false;
uint32_t flash_chip_size = 0;

namespace {

constexpr uint16_t kUnlock1 = 0x8AAA;
constexpr uint16_t kUnlock2 = 0x8555;
constexpr uint16_t kCfiAddress = 0x80AA;
constexpr uint16_t kChipStart = 0x8000;
constexpr uint16_t kIdReadLength = 1024;

constexpr uint8_t kReset = 0xF0;
constexpr uint8_t kAutoselect = 0x90;
constexpr uint8_t kCfiQuery = 0x98;

// Size codes of the CFI data that stand for a chip we can program: 512 KiB to 256 MiB.
constexpr uint8_t kSmallestSizeCode = 19;
constexpr uint8_t kLargestSizeCode = 28;

constexpr uint16_t kWorkRam = 0x6000;
constexpr uint16_t kWorkRamSize = 0x2000;
constexpr uint16_t kWorkRamEnable = 0x5002;
constexpr uint32_t kPatternArea = 0x8000;

uint32_t size_from_code(uint8_t code) {
  if (code < kSmallestSizeCode || code > kLargestSizeCode) return 0;
  return uint32_t{1} << code;
}

bool letters_at(const uint8_t* buffer, uint32_t first) {
  return buffer[first] == 'Q' && buffer[first + 2] == 'R' && buffer[first + 4] == 'Y';
}

// One pattern: written to the work RAM, read back, compared and reported.
bool ram_pattern(uint8_t value, const char* passed, const char* failed) {
  std::memset(g_image_buffer, value, kPatternArea);
  nes_cpu_write_block(kWorkRam, g_image_buffer, kWorkRamSize);
  uint8_t read_back[kWorkRamSize];
  nes_cpu_read_block(kWorkRam, read_back, kWorkRamSize);
  const bool equal = std::memcmp(read_back, g_image_buffer, kWorkRamSize) == 0;
  print_message("%s", equal ? passed : failed);
  flash_print_first_bytes(read_back);
  return equal;
}

}  // namespace

void flash_reset_state() {
  prg_program_routine = nullptr;
  flash_is_29gl = false;
  flash_chip_size = 0;
}

void identify_flash() {
  nes_cpu_write_byte(kUnlock1, kReset);
  nes_cpu_write_byte(kUnlock1, 0xAA);
  nes_cpu_write_byte(kUnlock2, 0x55);
  nes_cpu_write_byte(kUnlock1, kAutoselect);
  nes_cpu_read_block(kChipStart, g_image_buffer, kIdReadLength);
  for (int i = 0; i < 16; ++i) print_direct("%.2X ", g_image_buffer[i]);
  print_direct("\n");
  nes_cpu_write_byte(kUnlock1, kReset);

  prg_program_routine = nes_prg_program_block;
  if (g_image_buffer[0] == 0x01 && g_image_buffer[2] == 0x7E) flash_is_29gl = true;
  // Once seen, a 29GL chip keeps its 480-byte program command for the rest of the run.
  if (flash_is_29gl) {
    prg_program_routine = nes_prg_program_block_29gl;
    print_green("29GL\n");
  }

  // The query is made twice; the second answer is the one kept.
  for (int pass = 0; pass < 2; ++pass) {
    nes_cpu_write_byte(kCfiAddress, kCfiQuery);
    nes_cpu_read_block(kChipStart, g_image_buffer, kIdReadLength);
    nes_cpu_write_byte(kCfiAddress, kReset);
    flash_chip_size = cfi_chip_size(g_image_buffer);
  }
  print_green("Flash chip size: %d\n", static_cast<int>(flash_chip_size));
}

uint32_t cfi_chip_size(const uint8_t* buffer) {
  uint8_t code = 0;
  // Through an 8-bit bus the letters stand at odd or at even offsets; even ones win.
  if (letters_at(buffer, 0x21)) code = buffer[0x4F];
  if (letters_at(buffer, 0x20)) code = buffer[0x4E];
  return size_from_code(code);
}

uint32_t cfi_chip_size_interleaved(const uint8_t* buffer) {
  static constexpr uint8_t kSignature[6] = {0x00, 'Q', 0x00, 'R', 0x00, 'Y'};
  if (std::memcmp(buffer + 32, kSignature, sizeof kSignature) != 0) return 0;
  return size_from_code(buffer[0x4F]);
}

bool is_29gl_id(const uint8_t* buffer) {
  static constexpr uint8_t kForms[3][4] = {
      {0x00, 0x01, 0x22, 0x7E}, {0x01, 0x00, 0x7E, 0x22}, {0x01, 0x01, 0x7E, 0x7E}};
  for (const auto& form : kForms) {
    if (std::memcmp(buffer, form, 4) == 0) return true;
  }
  return false;
}

bool work_ram_test(const uint8_t* /*data*/, uint32_t /*length*/) {
  bool passed = true;
  // The messages name the result the board's test expects, not the patterns written.
  nes_cpu_write_byte(kWorkRamEnable, 2);
  passed &= ram_pattern(0x5A, "0xFF pass\n", "0xFF not pass\n");
  passed &= ram_pattern(0xA5, "0x00 pass\n", "0x00 not pass\n");
  std::memset(g_image_buffer, 0, kPatternArea);
  return passed;
}
