// Cartridge headers and footers as a dump or a ROM file hands them over: SFC header places and
// the internal checksum, the N64 header, byte orders and CRC pair, the WSC footer and checksum,
// the iNES header, and file names made from any of their text. Each parser gets a buffer of
// exactly the size it is given, so one byte more is caught; results are held to what their
// headers promise.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/file_name.h"
#include "formats/ines.h"
#include "formats/n64_header.h"
#include "formats/sfc_header.h"
#include "formats/wsc_footer.h"
#include "fuzz/fake_drive.h"

namespace {

// A heap copy of exactly `count` bytes (at least one allocated, so empty inputs still work).
std::unique_ptr<uint8_t[]> exact(const std::vector<uint8_t>& from, size_t count) {
  auto out = std::unique_ptr<uint8_t[]>(new uint8_t[count == 0 ? 1 : count]);
  for (size_t i = 0; i < count; ++i) out[i] = i < from.size() ? from[i] : 0;
  return out;
}

void check(bool holds) {
  if (!holds) std::abort();
}

void sfc(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<uint8_t[]> blocks[kSfcMapCount];
  const uint8_t* places[kSfcMapCount];
  for (uint32_t i = 0; i < kSfcMapCount; ++i) {
    const size_t from = i * kSfcHeaderBlock;
    std::vector<uint8_t> part;
    if (from < bytes.size()) part.assign(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
    blocks[i] = exact(part, kSfcHeaderBlock);
    places[i] = blocks[i].get();
  }
  const SfcDetection d = sfc_detect(places);
  check(d.found == (d.score >= kSfcHeaderMinScore));
  check(std::strlen(d.header.title) <= 21);
  const uint32_t rom = sfc_rom_size(d.header, d.map);
  check(rom <= sfc_map_rom_limit(d.map) && (rom & (rom - 1)) == 0);
  check(rom == 0 || rom > sfc_header_rom_offset(d.map));
  const uint32_t ram = sfc_ram_size(d.header);
  check(ram <= 0x40000 && (ram & (ram - 1)) == 0);
  for (uint32_t m = 0; m < kSfcMapCount; ++m) {
    const auto map = static_cast<SfcMap>(m);
    const uint32_t offset = static_cast<uint32_t>(d.score) * 0x9A3B1 + bytes.size();
    check(sfc_rom_bus_address(map, offset) < 0x1000000);
    check(sfc_ram_bus_address(map, offset) < 0x1000000);
    SfcMap back = SfcMap::lorom;
    check(sfc_map_from_name(sfc_map_name(map), back) && back == map);
  }
  const auto whole = exact(bytes, bytes.size());
  sfc_checksum(whole.get(), static_cast<uint32_t>(bytes.size()));
}

void n64(const std::vector<uint8_t>& bytes, bool full_span) {
  const auto head = exact(bytes, kN64HeaderSize);
  const N64Header header = n64_parse_header(head.get());
  check(std::strlen(header.title) <= 20 && std::strlen(header.game_code) <= 4);
  n64_byte_order(head.get());

  const auto whole = exact(bytes, bytes.size());
  const auto size = static_cast<uint32_t>(bytes.size());
  n64_to_z64(whole.get(), size, n64_byte_order(head.get()));
  check(!n64_check_crc(whole.get(), size, header).matched);  // always short of the span

  if (!full_span || !n64_header_plausible(header)) return;
  // The input repeated over the whole span, with its own first 64 bytes as the header.
  const auto image = std::unique_ptr<uint8_t[]>(new uint8_t[kN64CrcEnd]);
  for (uint32_t at = 0; at < kN64CrcEnd; at += static_cast<uint32_t>(bytes.size())) {
    std::memcpy(image.get() + at, bytes.data(), std::min<size_t>(bytes.size(), kN64CrcEnd - at));
  }
  const N64CrcCheck result = n64_check_crc(image.get(), kN64CrcEnd, header);
  if (result.matched) {
    uint32_t crc1 = 0;
    uint32_t crc2 = 0;
    check(n64_compute_crc(image.get(), kN64CrcEnd, result.chip, crc1, crc2));
    check(crc1 == header.crc1 && crc2 == header.crc2);
  }
}

void wsc(const std::vector<uint8_t>& bytes) {
  const auto whole = exact(bytes, bytes.size());
  wsc_checksum(whole.get(), static_cast<uint32_t>(bytes.size()));
  if (bytes.size() < kWscFooterSize) return;
  const std::vector<uint8_t> last(bytes.end() - kWscFooterSize, bytes.end());
  const WscFooter footer = wsc_parse_footer(exact(last, kWscFooterSize).get());
  const uint32_t rom = wsc_rom_size(footer.rom_size_code);
  check(rom <= 0x1000000);
  const WscSave save = wsc_save(footer.save_type);
  check((save.kind == WscSaveKind::none) == (save.size == 0));
  wsc_extension(footer);
}

void ines(const std::vector<uint8_t>& bytes) {
  const auto whole = exact(bytes, bytes.size());
  InesHeader header{};
  if (!ines_parse_header(whole.get(), static_cast<uint32_t>(bytes.size()), header)) return;
  check(ines_prg_offset(whole.get()) >= kInesHeaderSize);
  uint8_t built[kInesHeaderSize];
  if (!ines_build_header(header, built)) return;
  InesHeader back{};
  check(ines_parse_header(built, kInesHeaderSize, back));
  check(back.mapper == header.mapper && back.prg_size == header.prg_size &&
        back.chr_size == header.chr_size && back.mirroring == header.mirroring &&
        back.battery == header.battery);
}

void file_name(const std::vector<uint8_t>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  const std::string name = safe_file_name(text, "cartridge");
  check(!name.empty() && name.size() <= 200);
  check(name.back() != '.' && name.back() != ' ' && name.front() != ' ');
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    check(u >= 0x20 && u != 0x7F && std::string_view("<>:\"/\\|?*").find(c) == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const std::vector<uint8_t> bytes = in.bytes(0x10000);
  sfc(bytes);
  // The whole CRC span costs tens of milliseconds under the sanitizers: only with settings
  // byte 1 and a retail header's first word.
  n64(bytes, settings == 1);
  wsc(bytes);
  ines(bytes);
  file_name(bytes);
  return 0;
}
