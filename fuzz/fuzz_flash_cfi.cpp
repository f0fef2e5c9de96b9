// The flash job's chip identification: the CFI decoder on fuzzed query words of any count, the
// plan made from whatever map it accepts (clipped to a slot's reach, for an image of any size),
// and flash_identify of each slot with the reply and window files holding the fuzzed bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cartridge/flash_job.h"
#include "cartridge/flash_plan.h"
#include "fuzz/fake_drive.h"
#include "link/link_state.h"

namespace {

// The batches are the image, without a gap, each inside its sector; at the top the image ends
// at the chip's last byte.
void check_plan(const FlashGeometry& geometry, uint32_t reach, uint64_t image, bool at_top) {
  const FlashGeometry clipped = flash_clip_geometry(geometry, reach);
  if (clipped.size > reach || !flash_geometry_valid(clipped)) std::abort();
  const FlashPlan plan = flash_make_plan(clipped, image, false, at_top);
  if (plan.batches.size() != plan.sectors.size()) std::abort();
  uint64_t next = plan.image_at;
  for (size_t i = 0; i < plan.sectors.size(); ++i) {
    const FlashSpan& b = plan.batches[i];
    const FlashSpan& s = plan.sectors[i];
    if (b.offset != next || b.offset < s.offset ||
        uint64_t{b.offset} + b.length > uint64_t{s.offset} + s.length) {
      std::abort();
    }
    next += b.length;
  }
  if (!plan.sectors.empty() && (next - plan.image_at != image ||
                                (at_top && next != clipped.size))) {
    std::abort();
  }
  flash_describe_plan(plan, 0x10000000, 500);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t settings = in.u8();
  const uint32_t image = in.u32();
  const std::vector<uint8_t> bytes = in.bytes(4 * kFlashCfiWords);

  // Exactly as many words as the input gives: a read past them is caught.
  const size_t count = std::min<size_t>(bytes.size() / 2, kFlashCfiWords);
  std::vector<uint16_t> words(count);
  for (size_t i = 0; i < count; ++i) {
    words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  FlashGeometry geometry;
  std::string problem;
  if (flash_decode_cfi(words.data(), count, geometry, problem)) {
    if (!flash_geometry_valid(geometry)) std::abort();
    check_plan(geometry, 0x800000, image % 0x1000000, (settings & 0x80) != 0);
  } else if (problem.empty()) {
    std::abort();
  }

  // The whole identification of one slot, its reads answered by the fuzzed bytes.
  link_reset_state();
  std::strcpy(g_link.root_path, fuzz::kRoot);
  fuzz::FakeDrive drive;
  std::vector<uint8_t> file(16384, 0);
  std::copy(bytes.begin(), bytes.end(), file.begin());
  drive.files[std::string(fuzz::kRoot) + "T-DRIVER.DMP"] = file;
  drive.files[std::string(fuzz::kRoot) + "DUMP.ROM"] = file;
  fuzz::install(&drive);
  const FlashSlot* slots[] = {&flash_slot_sfc(), &flash_slot_n64(), &flash_slot_wsc()};
  const FlashChipInfo chip = flash_identify(*slots[settings % 3]);
  if (chip.has_geometry && (chip.geometry.size > slots[settings % 3]->reach ||
                            !flash_geometry_valid(chip.geometry))) {
    std::abort();
  }
  fuzz::install(nullptr);
  return 0;
}
