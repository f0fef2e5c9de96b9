#include "cartridge/identify.h"

#include <algorithm>

#include "cartridge/io_check.h"
#include "cartridge/read_vote.h"
#include "families/n64.h"
#include "families/sfc.h"
#include "families/wsc.h"

namespace {
constexpr uint32_t kKilobyte = 1024;

bool whole_kilobytes(uint64_t address, uint32_t length) {
  return address % kKilobyte == 0 && length % kKilobyte == 0;
}
}  // namespace

bool cart_sfc_read(uint32_t address, uint8_t* out, uint32_t length) {
  return cart_without_loss([&] { sfc_read_block(address, out, length); });
}

bool cart_n64_read(uint32_t address, uint8_t* out, uint32_t length) {
  uint32_t got = 0;
  const bool whole = cart_without_loss([&] { got = n64_read_block(address, out, length); });
  return whole && got == length;
}

bool cart_wsc_read(uint32_t address, uint8_t* out, uint32_t length) {
  if (address > kWscSpace || length > kWscSpace - address) return false;
  return cart_without_loss([&] {
    if (whole_kilobytes(address, length)) {
      wsc_read_rom(address, out, length);
    } else {
      wsc_read_block(address, out, length);
    }
  });
}

bool cart_sfc_read_rom(SfcMap map, uint64_t offset, uint8_t* out, uint32_t length) {
  const uint64_t end = offset + length;
  if (end > sfc_map_rom_limit(map)) return false;
  const uint32_t run = sfc_rom_run(map);
  return cart_without_loss([&] {
    bool selected = false;
    uint32_t half = 0;
    for (uint64_t at = offset; at < end;) {
      const uint64_t run_end = std::min<uint64_t>(end, (at / run + 1) * run);
      const auto n = static_cast<uint32_t>(run_end - at);
      const uint32_t bus = sfc_rom_bus_address(map, static_cast<uint32_t>(at));
      uint8_t* into = out + (at - offset);
      if (whole_kilobytes(bus, n)) {
        // Below level 320 the window shows one half of the bus: choose it when it changes.
        if (!selected || (bus & kSfcWindowHalf) != half) {
          sfc_select_half(bus);
          selected = true;
          half = bus & kSfcWindowHalf;
        }
        sfc_read_window(bus, into, n);
      } else {
        sfc_read_block(bus, into, n);
      }
      at = run_end;
    }
  });
}

namespace {
// A header block as the window shows it: the whole kilobyte it ends, read until it settles (a
// window read sends no command from level 320 on).
bool sfc_header_block(SfcMap map, uint8_t* block) {
  uint8_t kilobyte[kKilobyte] = {};
  const uint32_t address = sfc_header_bus_address(map);
  const uint32_t first = address / kKilobyte * kKilobyte;
  if (!read_settled(
          [](uint64_t a, uint8_t* o, uint32_t n) {
            return cart_sfc_read(static_cast<uint32_t>(a), o, n);
          },
          first, kilobyte, kKilobyte)) {
    return false;
  }
  std::copy(kilobyte + (address - first), kilobyte + (address - first) + kSfcHeaderBlock, block);
  return true;
}
}  // namespace

bool cart_sfc_detect(SfcDetection& out, uint8_t (*blocks)[kSfcHeaderBlock]) {
  uint8_t read[kSfcMapCount][kSfcHeaderBlock] = {};
  const uint8_t* places[kSfcMapCount];
  for (uint32_t i = 0; i < kSfcMapCount; ++i) {
    if (!sfc_header_block(static_cast<SfcMap>(i), read[i])) return false;
    places[i] = read[i];
    if (blocks) std::copy(read[i], read[i] + kSfcHeaderBlock, blocks[i]);
  }
  out = sfc_detect(places);
  return true;
}

bool cart_sfc_header_at(SfcMap map, SfcHeader& out) {
  uint8_t block[kSfcHeaderBlock] = {};
  if (!sfc_header_block(map, block)) return false;
  out = sfc_parse_header(block);
  return true;
}

bool cart_wsc_footer(WscFooter& out) {
  // The last kilobyte through the window, of which the footer is the end.
  uint8_t top[kKilobyte] = {};
  if (!read_settled(
          [](uint64_t a, uint8_t* o, uint32_t n) {
            return cart_wsc_read(static_cast<uint32_t>(a), o, n);
          },
          kWscSpace - kKilobyte, top, kKilobyte)) {
    return false;
  }
  out = wsc_parse_footer(top + kKilobyte - kWscFooterSize);
  return true;
}

bool cart_n64_header(N64Header& out) {
  uint8_t header[kN64HeaderSize] = {};
  if (!read_settled(
          [](uint64_t a, uint8_t* o, uint32_t n) {
            return cart_n64_read(static_cast<uint32_t>(a), o, n);
          },
          kN64RomBase, header, kN64HeaderSize)) {
    return false;
  }
  out = n64_parse_header(header);
  return true;
}
