#include "nes/rom_file.h"

#include "link/transport.h"
#include "nes/chr_flash.h"
#include "nes/flash_id.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"
#include "nes/prg_flash.h"
#include "platform/print.h"

namespace {

constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kPrgUnit = 0x4000;
constexpr uint32_t kChrUnit = 0x2000;
constexpr uint16_t kSerialRegister = 0x8000;

}  // namespace

RomFileLayout rom_file_layout(const uint8_t* image, uint32_t n) {
  RomFileLayout layout{n % 256 != 0, 0, 0, true};
  if (!layout.header) return layout;
  if (n < kHeaderSize) {
    layout.usable = false;
    return layout;
  }
  layout.prg = image[4] * kPrgUnit;
  layout.chr = image[5] * kChrUnit;
  // The header is trusted for its two sizes, but never past the bytes that were loaded.
  layout.usable = layout.prg != 0 && n >= kHeaderSize + layout.prg + layout.chr;
  return layout;
}

RomFileResult flash_rom_file_run(const char* file_name) {
  const char* name = file_name != nullptr ? file_name : kRomFileDefault;
  identify_flash();
  const uint32_t n = read_file_at(name, g_image_buffer, kRomFileMax, 0);
  if (n == 0) {
    print_message("read error.");
    return RomFileResult::read_error;
  }
  if (n == kRomFileMax && file_size(name) > kRomFileMax) {
    print_message("%s is larger than %u bytes: only its first %u bytes are used.\n", name,
                  kRomFileMax, kRomFileMax);
  }
  const RomFileLayout layout = rom_file_layout(g_image_buffer, n);
  // A size that is a multiple of 256 means no header: the file is not programmed.
  if (!layout.header) {
    return work_ram_test(g_image_buffer, n) ? RomFileResult::ram_tested : RomFileResult::ram_failed;
  }

  const uint32_t prg = layout.prg;
  const uint32_t chr = layout.chr;
  print_message("PRG: %d CHR: %d\n", static_cast<int>(prg), static_cast<int>(chr));
  if (prg == 0) {
    print_message("The header gives no PRG data; nothing erased.\n");
    return RomFileResult::refused;
  }
  if (!layout.usable) {
    print_message(
        "The file holds %u bytes, but its header needs %u (16 + PRG %u + CHR %u); "
        "nothing erased.\n",
        n, kHeaderSize + prg + chr, prg, chr);
    return RomFileResult::refused;
  }
  bool verified = prg_flash_5116_window(g_image_buffer + kHeaderSize, prg);
  if (chr != 0) verified &= chr_flash_5120_1k(g_image_buffer + kHeaderSize + prg, chr);
  return verified ? RomFileResult::programmed : RomFileResult::verify_failed;
}

int flash_rom_file(const char* file_name) {
  if (flash_rom_file_run(file_name) == RomFileResult::read_error) wait_key_and_exit();
  return 1;
}

int misc_byte_probe() {
  nes_cpu_write_byte(kSerialRegister, 0x80);
  for (uint8_t v = 0; v < 4; ++v) {
    // Five writes carry v's bits in their bit 0, lowest first.
    for (int shift = 0; shift < 5; ++shift) {
      nes_cpu_write_byte(kSerialRegister, static_cast<uint8_t>(v >> shift));
    }
    print_message("Misc byte: %.2X\n", nes_read_misc_byte());
  }
  print_message("Misc byte: %.2X\n", nes_read_misc_byte());
  return 1;
}
