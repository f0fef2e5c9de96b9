// The NES dump: the board named by the user (an NES cartridge says nothing about itself), PRG
// and CHR sizes found where the banks start to repeat (a board's bank registers ignore the
// bits its ROM does not need), both read bank by bank into an iNES file.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "cartridge/dump.h"
#include "cartridge/io_check.h"
#include "cartridge/nes_banks.h"
#include "cartridge/read_vote.h"
#include "nes/nes_family.h"
#include "platform/hash.h"
#include "platform/print.h"

namespace {

constexpr const char* kUnstable = "reading the ";
constexpr const char* kAdvice = " to find their size failed: a byte did not read the same "
                                "twice, or the device did not answer; nothing was written: "
                                "clean the contacts and try again";

// Reads `length` bytes of the image (PRG, then CHR) from `offset`, bank by bank.
bool read_image(NesBanks& banks, uint64_t prg, uint64_t offset, uint8_t* out,
                uint32_t length) {
  for (uint64_t at = offset; at < offset + length;) {
    uint8_t* into = out + (at - offset);
    const uint64_t left = offset + length - at;
    if (at < prg) {
      const auto bank = static_cast<uint32_t>(at / kNesPrgBank);
      const auto within = static_cast<uint32_t>(at % kNesPrgBank);
      const auto n = static_cast<uint16_t>(std::min<uint64_t>({left, kNesPrgBank - within,
                                                               prg - at}));
      uint16_t address = 0;
      if (!banks.select_prg(bank, address)) return false;
      if (!cart_without_loss([&] {
            nes_cpu_read_block(static_cast<uint16_t>(address + within), into, n);
          })) {
        return false;
      }
      at += n;
    } else {
      const uint64_t chr_at = at - prg;
      const auto bank = static_cast<uint32_t>(chr_at / kNesChrBank);
      const auto within = static_cast<uint32_t>(chr_at % kNesChrBank);
      const auto n = static_cast<uint16_t>(std::min<uint64_t>(left, kNesChrBank - within));
      if (!banks.select_chr(bank)) return false;
      if (!cart_without_loss([&] { nes_ppu_read_block(static_cast<uint16_t>(within), into, n); })) {
        return false;
      }
      at += n;
    }
  }
  return true;
}

// The size of one memory: every bank up to the most the board reaches, and the smallest
// power-of-two count of banks that the rest repeats. False when a read failed or a bank did
// not read the same twice.
bool size_by_repetition(NesBanks& banks, bool chr, uint32_t most, uint64_t& size) {
  const uint32_t unit = chr ? kNesChrBank : kNesPrgBank;
  uint32_t count = most / unit;
  std::vector<uint8_t> bank(unit);
  std::vector<uint32_t> crcs(count);
  for (uint32_t b = 0; b < count; ++b) {
    // A latch with a bus conflict reaches only the bank numbers the PRG holds: those beyond
    // are no bank of this cartridge (its own code must select them the same way).
    if (!banks.can_select(chr, b)) {
      count = b;
      break;
    }
    // CHR banks are read as an image with no PRG in front; each until it settles, since a
    // wrong byte would hide where the banks repeat.
    const uint64_t prg = chr ? 0 : most;
    if (!read_settled(
            [&banks, prg](uint64_t at, uint8_t* out, uint32_t n) {
              return read_image(banks, prg, at, out, n);
            },
            uint64_t{b} * unit, bank.data(), unit)) {
      return false;
    }
    crcs[b] = plat_crc32(0, bank.data(), unit);
  }
  if (count == 0) return false;
  uint32_t period = 1;
  for (; period < count; period *= 2) {
    bool repeats = true;
    for (uint32_t b = period; b < count && repeats; ++b) repeats = crcs[b] == crcs[b % period];
    if (repeats) break;
  }
  size = uint64_t{std::min(period, count)} * unit;
  return true;
}

}  // namespace

DumpResult dump_nes(const DumpRequest& request) {
  const NesMapperKind* kind = nes_mapper_kind(request.mapper);
  if (!kind) return dump_stop(DumpStatus::refused, "mapper " + std::to_string(request.mapper) +
                                                       " is none that dump nes switches");
  auto banks = std::make_shared<NesBanks>(*kind);
  if (!banks->begin()) return dump_stop(DumpStatus::failed, banks->error());

  uint64_t prg = request.prg;
  if (!request.prg_given && !size_by_repetition(*banks, false, kind->prg_max, prg)) {
    return dump_stop(DumpStatus::failed, banks->error().empty()
                                             ? kUnstable + std::string("PRG banks") + kAdvice
                                             : "reading the PRG banks failed: " + banks->error());
  }
  uint64_t chr = request.chr;
  bool chr_ram = false;
  if (!request.chr_given) {
    if (!banks->chr_is_ram(chr_ram)) {
      return dump_stop(DumpStatus::failed, "testing the CHR memory failed: " + banks->error());
    }
    if (!chr_ram && !size_by_repetition(*banks, true, kind->chr_max, chr)) {
      return dump_stop(DumpStatus::failed, banks->error().empty()
                                               ? kUnstable + std::string("CHR banks") + kAdvice
                                               : "reading the CHR banks failed: " + banks->error());
    }
    if (chr_ram) chr = 0;
  }
  InesHeader ines{};
  ines.mapper = kind->number;
  ines.prg_size = static_cast<uint32_t>(prg);
  ines.chr_size = static_cast<uint32_t>(chr);
  ines.mirroring = request.mirroring;
  ines.battery = false;
  std::vector<uint8_t> prefix(kInesHeaderSize);
  if (!ines_build_header(ines, prefix.data())) {
    return dump_stop(DumpStatus::refused, "PRG " + dump_size_text(prg) + " and CHR " +
                                              dump_size_text(chr) +
                                              " do not fit an iNES header");
  }
  const bool vertical = request.mirroring == NesMirroring::vertical;
  print_message("Mapper: %u (%s)\n", static_cast<unsigned>(kind->number), kind->name);
  print_message("PRG: %s (%s)\n", dump_size_text(prg).c_str(),
                request.prg_given ? "--prg" : "where the banks start to repeat");
  if (chr == 0) {
    print_message("CHR: none (%s)\n", request.chr_given ? "--chr" : "the board has CHR RAM");
  } else {
    print_message("CHR: %s (%s)\n", dump_size_text(chr).c_str(),
                  request.chr_given ? "--chr" : "where the banks start to repeat");
  }
  print_message("Mirroring: %s in the iNES header (--mirroring %s for %s)\n",
                vertical ? "vertical" : "horizontal", vertical ? "h" : "v",
                vertical ? "horizontal" : "vertical");

  DumpPlan plan;
  plan.extension = ".nes";
  plan.size = prg + chr;
  plan.prefix = std::move(prefix);
  plan.read = [banks, prg](uint64_t offset, uint8_t* out, uint32_t length) {
    return read_image(*banks, prg, offset, out, length);
  };
  // NROM and CNROM show all 32 KiB of PRG at once; the others one 16 KiB bank at $8000.
  const uint32_t window = kind->prg_max == 0x8000 ? 0x8000 : kNesPrgBank;
  plan.describe = [prg, window](uint64_t offset) {
    char text[48];
    if (offset < prg) {
      std::snprintf(text, sizeof text, "PRG 0x%05X (bank %u, $%04X)",
                    static_cast<unsigned>(offset), static_cast<unsigned>(offset / kNesPrgBank),
                    static_cast<unsigned>(0x8000 + offset % window));
    } else {
      std::snprintf(text, sizeof text, "CHR 0x%05X (bank %u, PPU $%04X)",
                    static_cast<unsigned>(offset - prg),
                    static_cast<unsigned>((offset - prg) / kNesChrBank),
                    static_cast<unsigned>((offset - prg) % kNesChrBank));
    }
    return std::string(text);
  };
  return run_dump(request, plan);
}
