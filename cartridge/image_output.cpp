#include "cartridge/image_output.h"

#include <climits>

#include "platform/console.h"
#include "platform/files.h"

namespace {
// File offsets travel as 32-bit signed values below the platform seam.
constexpr uint64_t kOffsetEnd = static_cast<uint64_t>(INT32_MAX) + 1;

bool fits(uint64_t offset, uint32_t count) {
  return offset <= kOffsetEnd && count <= kOffsetEnd - offset;
}
}  // namespace

std::string image_output_temporary(const std::string& name) { return name + ".tmp"; }

ImageOutput::~ImageOutput() { discard(); }

bool ImageOutput::open(const std::string& name) {
  discard();
  temporary_ = image_output_temporary(name);
  // Ctrl-C from here on leaves no half-written file behind.
  plat_on_interrupt_remove(temporary_.c_str());
  open_ = plat_resize_file(temporary_.c_str(), 0);
  if (!open_) {
    plat_remove_file(temporary_.c_str());
    plat_on_interrupt_remove(nullptr);
  }
  return open_;
}

bool ImageOutput::write(uint64_t offset, const uint8_t* data, uint32_t count) {
  if (!open_ || !fits(offset, count)) return false;
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = plat_write_at(temporary_.c_str(), data + done, count - done,
                                     static_cast<int32_t>(offset + done));
    if (n == 0) return false;
    done += n;
  }
  return true;
}

bool ImageOutput::read(uint64_t offset, uint8_t* data, uint32_t count) const {
  if (!open_ || !fits(offset, count)) return false;
  return plat_read_at(temporary_.c_str(), data, count, static_cast<int32_t>(offset), false) ==
         count;
}

bool ImageOutput::resize(uint64_t size) {
  return open_ && size < kOffsetEnd &&
         plat_resize_file(temporary_.c_str(), static_cast<uint32_t>(size));
}

bool ImageOutput::commit(const std::string& name) {
  if (!open_) return false;
  const bool done = plat_sync_file(temporary_.c_str()) &&
                    plat_replace_file(temporary_.c_str(), name.c_str());
  if (!done) {
    discard();
    return false;
  }
  open_ = false;
  temporary_.clear();
  plat_on_interrupt_remove(nullptr);
  return true;
}

void ImageOutput::discard() {
  if (temporary_.empty()) return;
  plat_remove_file(temporary_.c_str());
  plat_on_interrupt_remove(nullptr);
  temporary_.clear();
  open_ = false;
}
