#include "cartridge/flash_job.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "formats/n64_header.h"
#include "link/link_state.h"

namespace {

constexpr uint16_t kProtected = 1;  // autoselect word 2 of a protected sector

FlashResult fault(FlashStatus status, uint32_t offset, const FlashResult& so_far) {
  FlashResult r = so_far;
  r.status = status;
  r.offset = offset;
  return r;
}

}  // namespace

FlashChipInfo flash_identify(const FlashSlot& slot) {
  FlashChipInfo info;
  slot.start();
  FlashQuery q;
  slot.query(q);
  info.manufacturer = q.autoselect[0];
  info.device = q.autoselect[1];
  info.first_sector_protected = (q.autoselect[2] & 0xFF) == kProtected;
  FlashGeometry geometry;
  info.has_geometry = flash_decode_cfi(q.cfi, kFlashCfiWords, geometry, info.problem);
  if (info.has_geometry) {
    info.chip_size = geometry.size;
    info.geometry = flash_clip_geometry(geometry, slot.reach);
  }
  return info;
}

FlashResult flash_run(const FlashSlot& slot, const FlashPlan& plan, const uint8_t* image,
                      const FlashProgress& progress) {
  FlashResult result;
  uint64_t total = 0;
  for (const auto& s : plan.sectors) total += s.length;

  // Erase first, so that every batch meets erased flash.
  if (plan.chip_erase) {
    progress("erase", 0, 1);
    if (!slot.erase_chip()) return fault(FlashStatus::erase_failed, 0, result);
    if (g_link.io_failed) return fault(FlashStatus::not_taken, 0, result);
    progress("erase", 1, 1);
  } else {
    uint64_t done = 0;
    for (const auto& s : plan.sectors) {
      if (!slot.erase_sector(s.offset)) return fault(FlashStatus::erase_failed, s.offset, result);
      if (g_link.io_failed) return fault(FlashStatus::not_taken, s.offset, result);
      done += s.length;
      progress("erase", done, total);
    }
  }

  std::vector<uint8_t> back;
  uint64_t done = 0;
  for (size_t i = 0; i < plan.batches.size() && i < plan.sectors.size(); ++i) {
    const FlashSpan& batch = plan.batches[i];
    const FlashSpan& sector = plan.sectors[i];
    // Batches are at chip offsets; the image's first byte is at plan.image_at, and a batch
    // may start inside its sector (the image's first sector when it ends at the top).
    const uint8_t* data = image + (batch.offset - plan.image_at);
    if (!slot.program(batch.offset, data, batch.length) || g_link.io_failed) {
      return fault(FlashStatus::not_taken, batch.offset, result);
    }
    ++result.command_files;
    back.assign(sector.length, 0);
    slot.read(sector.offset, back.data(), sector.length);
    if (g_link.io_failed) return fault(FlashStatus::not_taken, sector.offset, result);
    ++result.sectors_read;
    const auto in_sector = static_cast<std::ptrdiff_t>(batch.offset - sector.offset);
    const auto diff = std::mismatch(data, data + batch.length, back.begin() + in_sector);
    if (diff.first != data + batch.length) {
      const auto at = static_cast<uint32_t>(diff.first - data);
      FlashResult r = fault(FlashStatus::verify_failed, batch.offset + at, result);
      r.got = *diff.second;
      r.want = data[at];
      return r;
    }
    done += sector.length;
    progress("program", done, total);
  }
  return result;
}

const FlashSlot* flash_slot(std::string_view name) {
  for (const FlashSlot* slot : {&flash_slot_sfc(), &flash_slot_n64(), &flash_slot_wsc()}) {
    if (name == slot->name) return slot;
  }
  return nullptr;
}

bool flash_prepare_image(const FlashSlot& slot, std::vector<uint8_t>& image, std::string& note,
                         std::string& problem) {
  note.clear();
  problem.clear();
  if (slot.n64_byte_orders && image.size() >= 4) {
    const N64ByteOrder order = n64_byte_order(image.data());
    if (order == N64ByteOrder::z64) {
      note = "Byte order: .z64, the bus order.";
    } else if (order == N64ByteOrder::unknown) {
      note = "Byte order: not told by the first word (no retail header); taken as .z64.";
    } else {
      const char* kind = order == N64ByteOrder::v64 ? ".v64" : ".n64";
      if (image.size() % 4 != 0) {
        problem = std::string("a ") + kind + " image of " + std::to_string(image.size()) +
                  " bytes is not whole 32-bit words";
        return false;
      }
      n64_to_z64(image.data(), static_cast<uint32_t>(image.size()), order);
      note = std::string("Byte order: ") + kind +
             (order == N64ByteOrder::v64 ? " (byte pairs swapped)" : " (words little-endian)") +
             ", put into the bus order (.z64).";
    }
  }
  // Erased flash reads 0xFF, so padding a word bus's last word with it programs nothing.
  if (slot.word > 1 && image.size() % slot.word != 0) {
    while (image.size() % slot.word != 0) image.push_back(0xFF);
    note += std::string(note.empty() ? "" : " ") + "The last word is filled with 0xFF.";
  }
  return true;
}
