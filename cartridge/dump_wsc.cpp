// The WSC dump: the footer in the last 16 bytes of the slot's space (the cartridge maps the end
// of its ROM at the top), the ROM read from its start, and the footer's checksum, which covers
// every byte but its own two. Those two are the image's last, so they are checked as well:
// the image confirms only when it sums to the checksum that it holds itself.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "cartridge/dump.h"
#include "cartridge/identify.h"
#include "families/wsc.h"
#include "platform/print.h"

namespace {

struct Sum {
  uint32_t all = 0;
  uint32_t last_two = 0;  // the checksum's own bytes, left out of the sum
  uint16_t stored = 0;    // those bytes as the image holds them (little-endian)
};

const char* save_text(const WscSave& save) {
  switch (save.kind) {
    case WscSaveKind::none: return "none";
    case WscSaveKind::sram: return "SRAM";
    case WscSaveKind::eeprom: return "EEPROM";
  }
  return "?";
}

}  // namespace

DumpResult dump_wsc(const DumpRequest& request) {
  wsc_identify();
  WscFooter footer{};
  if (!cart_wsc_footer(footer)) {
    return dump_stop(DumpStatus::failed, "the footer did not read the same twice (or the "
                                         "device did not answer): clean the contacts and try "
                                         "again");
  }
  uint64_t size = request.size;
  if (size == 0) {
    size = wsc_rom_size(footer.rom_size_code);
    char text[240];
    if (size == 0) {
      std::snprintf(text, sizeof text,
                    "the footer's ROM size code 0x%02X is none a cartridge has: is a cartridge "
                    "in the slot? Clean the contacts and try again, or give --size",
                    footer.rom_size_code);
      return dump_stop(DumpStatus::failed, text);
    }
    if (size > kWscSpace) {
      std::snprintf(text, sizeof text,
                    "the footer gives a ROM of %s, but the WSC slot reaches only the last "
                    "%s of a cartridge, so it cannot be dumped whole; nothing was read "
                    "(--size 1M dumps that last MiB alone)",
                    dump_size_text(size).c_str(), dump_size_text(kWscSpace).c_str());
      return dump_stop(DumpStatus::failed, text);
    }
  }
  const WscSave save = wsc_save(footer.save_type);
  print_message("Colour: %s\n", (footer.color & 1) ? "yes (WonderSwan Color)" : "no");
  print_message("Publisher %02X, game %02X, version %u\n", footer.publisher, footer.game_id,
                static_cast<unsigned>(footer.version));
  print_message("ROM size: %s%s\n", dump_size_text(size).c_str(),
                request.size ? " (--size)" : "");
  if (save.kind == WscSaveKind::none) {
    print_message("Save: none\n");
  } else {
    print_message("Save: %s, %s\n", save_text(save), dump_size_text(save.size).c_str());
  }

  const uint64_t first = kWscSpace - size;
  // Battery SRAM shows at 0x10000-0x1FFFF, over whatever ROM the top-mapping would put there:
  // those bytes cannot come from the ROM, so a copy with them would be wrong however often it
  // read the same.
  if (save.kind == WscSaveKind::sram && first < kWscSramWindowEnd) {
    const uint64_t hidden_from = std::max<uint64_t>(kWscSramWindow, first) - first;
    const uint64_t hidden_to = kWscSramWindowEnd - first;
    char text[320];
    std::snprintf(text, sizeof text,
                  "the cartridge's SRAM shows at 0x%05X-0x%05X, where bytes 0x%05llX-0x%05llX "
                  "of its %s ROM would be, so the WSC slot cannot read this ROM whole; nothing "
                  "was read (--size %uK dumps the ROM's last %u KiB alone)",
                  kWscSramWindow, kWscSramWindowEnd - 1,
                  static_cast<unsigned long long>(hidden_from),
                  static_cast<unsigned long long>(hidden_to - 1), dump_size_text(size).c_str(),
                  (kWscSpace - kWscSramWindowEnd) / 1024, (kWscSpace - kWscSramWindowEnd) / 1024);
    return dump_stop(DumpStatus::failed, text);
  }
  auto sum = std::make_shared<Sum>();
  DumpPlan plan;
  plan.extension = wsc_extension(footer);
  plan.size = size;
  plan.read = [first](uint64_t offset, uint8_t* out, uint32_t length) {
    return cart_wsc_read(static_cast<uint32_t>(first + offset), out, length);
  };
  plan.checker.reset = [sum] { *sum = {}; };
  plan.checker.add = [sum, size](uint64_t offset, const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
      sum->all += data[i];
      const uint64_t at = offset + i;
      if (at + 2 >= size) {
        sum->last_two += data[i];
        sum->stored = static_cast<uint16_t>(
            at + 1 == size ? (sum->stored & 0x00FF) | (data[i] << 8) : (sum->stored & 0xFF00) | data[i]);
      }
    }
  };
  const uint16_t expected = footer.checksum;
  const bool code_zero = footer.rom_size_code == 0 && request.size == 0;
  plan.verdict = [sum, expected, code_zero, size] {
    const auto computed = static_cast<uint16_t>(sum->all - sum->last_two);
    CheckVerdict verdict;
    char text[240];
    // The footer read at identification and the image's own last two bytes must both agree:
    // a bit the first pass got wrong there is left out of the sum.
    verdict.confirms = size >= 2 && computed == expected && sum->stored == expected;
    if (verdict.confirms) {
      std::snprintf(text, sizeof text, "Checksum: %04X, as the footer says", computed);
    } else if (code_zero) {
      // A footer of zeros is no footer: the size it gives was a guess.
      verdict.nonsense = true;
      std::snprintf(text, sizeof text,
                    "the footer makes no sense (ROM size code 0, checksum %04X where the ROM "
                    "sums to %04X): is a cartridge in the slot? Clean the contacts and try "
                    "again, or give --size; nothing was written",
                    expected, computed);
    } else if (computed == expected) {
      std::snprintf(text, sizeof text,
                    "Checksum: %04X, as the footer says, but the image's last two bytes hold "
                    "%04X",
                    computed, sum->stored);
    } else {
      std::snprintf(text, sizeof text, "Checksum: %04X; the footer says %04X", computed,
                    expected);
    }
    verdict.line = text;
    return verdict;
  };
  plan.describe = [first](uint64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(first + offset));
    return std::string(text);
  };
  return run_dump(request, plan);
}
