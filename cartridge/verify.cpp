#include "cartridge/verify.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cartridge/aligned_buffer.h"

namespace {

// One task at a time beside the calling thread: the hashes of a block are computed while the
// device delivers the next one, so a dump takes about as long as its reads (two of these share
// a block: SHA-1 on one, CRC-32 and the slot's checksum on the other, so that a device faster
// than one core's hashing is not held up either). Only the block's own bytes, the hash states
// and the slot's checker are touched there; every file and device call stays on the calling
// thread.
class BlockWorker {
 public:
  BlockWorker() : thread_([this] { loop(); }) {}
  ~BlockWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  BlockWorker(const BlockWorker&) = delete;
  BlockWorker& operator=(const BlockWorker&) = delete;

  // Starts `task`; the previous one has ended (the caller waited for it).
  void run(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task_ = std::move(task);
      busy_ = true;
    }
    wake_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
  }

 private:
  void loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || busy_; });
      if (!busy_) return;
      std::function<void()> task = std::move(task_);
      lock.unlock();
      task();
      lock.lock();
      busy_ = false;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::function<void()> task_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: started once everything it uses is there
};

uint32_t piece(uint64_t offset, uint64_t end, uint32_t most) {
  return static_cast<uint32_t>(std::min<uint64_t>(most, end - offset));
}

}  // namespace

uint32_t dump_block_size(uint64_t image_size) {
  uint64_t block = kDumpBlockMin;
  while (block < kDumpBlockMax && block * 16 < image_size) block *= 2;
  return static_cast<uint32_t>(block);
}

ImageVerifier::ImageVerifier(SpanReader read, uint64_t size, ImageOutput& output,
                             std::vector<uint8_t> prefix)
    : read_(std::move(read)),
      size_(size),
      output_(output),
      prefix_(std::move(prefix)),
      block_(dump_block_size(size)) {}

bool ImageVerifier::begin_hashes() {
  if (!plat_hash_begin(image_hash_)) return false;
  if (!prefix_.empty()) {
    if (!plat_hash_begin(file_hash_)) {
      end_hashes();
      return false;
    }
    plat_hash_update(file_hash_, prefix_.data(), prefix_.size());
  }
  if (checker_.reset) checker_.reset();
  return true;
}

void ImageVerifier::end_hashes() {
  plat_hash_end(image_hash_, image_digest_.crc32, image_digest_.sha1);
  if (file_hash_.started) plat_hash_end(file_hash_, file_digest_.crc32, file_digest_.sha1);
}

void ImageVerifier::take_sha1(const uint8_t* data, uint32_t length) {
  plat_hash_update_sha1(image_hash_, data, length);
  if (!prefix_.empty()) plat_hash_update_sha1(file_hash_, data, length);
}

void ImageVerifier::take_sums(uint64_t offset, const uint8_t* data, uint32_t length) {
  plat_hash_update_crc32(image_hash_, data, length);
  if (!prefix_.empty()) plat_hash_update_crc32(file_hash_, data, length);
  if (checker_.add) checker_.add(offset, data, length);
}

const std::vector<uint32_t>& ImageVerifier::unit_crcs() {
  if (!unit_crcs_.empty() || size_ == 0) return unit_crcs_;
  // From the output file, where the first pass left its bytes: most dumps never need them, so
  // the first pass does not spend its time on them.
  std::vector<uint32_t> crcs;
  AlignedBuffer buffer;
  if (!buffer.allocate(block_)) return unit_crcs_;
  for (uint64_t offset = 0; offset < size_;) {
    const uint32_t length = piece(offset, size_, block_);
    if (!output_.read(prefix_.size() + offset, buffer.data(), length)) return unit_crcs_;
    for (uint32_t at = 0; at < length; at += kDumpUnit) {
      crcs.push_back(plat_crc32(0, buffer.data() + at, std::min(kDumpUnit, length - at)));
    }
    offset += length;
  }
  unit_crcs_ = std::move(crcs);
  return unit_crcs_;
}

bool ImageVerifier::first_pass() {
  failed_at_ = 0;
  write_failed_ = false;
  unit_crcs_.clear();
  AlignedBuffer buffers[2];
  const auto block = static_cast<size_t>(std::min<uint64_t>(block_, size_));
  if (!buffers[0].allocate(block) || !buffers[1].allocate(block)) return false;
  if (!prefix_.empty() &&
      !output_.write(0, prefix_.data(), static_cast<uint32_t>(prefix_.size()))) {
    write_failed_ = true;
    return false;
  }
  if (!begin_hashes()) return false;

  BlockWorker sha1_worker, sums_worker;
  // The block the workers have (or had last): written out once they are done with it.
  bool pending = false;
  uint64_t pending_offset = 0;
  uint32_t pending_length = 0;
  int pending_buffer = 0;
  auto write_pending = [&] {
    sha1_worker.wait();
    sums_worker.wait();
    if (!pending) return true;
    pending = false;
    if (output_.write(prefix_.size() + pending_offset, buffers[pending_buffer].data(),
                      pending_length)) {
      return true;
    }
    write_failed_ = true;
    failed_at_ = pending_offset;
    return false;
  };

  int next = 0;
  for (uint64_t offset = 0; offset < size_;) {
    const uint32_t length = piece(offset, size_, block_);
    uint8_t* data = buffers[next].data();
    if (!read_(offset, data, length)) {
      failed_at_ = offset;
      write_pending();
      end_hashes();
      return false;
    }
    if (!write_pending()) {
      end_hashes();
      return false;
    }
    sha1_worker.run([this, data, length] { take_sha1(data, length); });
    sums_worker.run([this, offset, data, length] { take_sums(offset, data, length); });
    pending = true;
    pending_offset = offset;
    pending_length = length;
    pending_buffer = next;
    next = 1 - next;
    offset += length;
    if (progress_) progress_(1, offset, size_);
  }
  const bool written = write_pending();
  end_hashes();
  return written;
}

bool ImageVerifier::settle_unit(uint64_t unit_offset, uint32_t length, const uint8_t* second,
                                SecondPass& result) {
  // The first pass's bytes of this unit are in the output file.
  std::vector<uint8_t> first(length);
  if (!output_.read(prefix_.size() + unit_offset, first.data(), length)) {
    result.write_failed = true;
    return false;
  }
  uint32_t low = length, high = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (first[i] == second[i]) continue;
    low = std::min(low, i);
    high = i + 1;
  }
  if (low == length) return true;  // only the CRC differed: nothing to settle
  ++result.units_reread;
  const uint32_t from = low / kDumpRereadAlign * kDumpRereadAlign;
  const uint32_t to = std::min(length, (high + kDumpRereadAlign - 1) / kDumpRereadAlign *
                                           kDumpRereadAlign);
  std::vector<uint8_t> settled(to - from);
  const SettleResult r = settle_span(read_, unit_offset + from, to - from, first.data() + from,
                                     second + from, settled.data());
  if (r.read_failed) {
    result.read_failed = true;
    result.failed_at = unit_offset + from;
    return false;
  }
  for (uint32_t p : r.unsettled) result.unsettled.push_back(unit_offset + from + p);
  if (!r.unsettled.empty()) return false;
  uint64_t changed = 0;
  for (uint32_t i = 0; i < to - from; ++i) changed += settled[i] != first[from + i];
  if (changed == 0) return true;
  result.bytes_corrected += changed;
  if (!output_.write(prefix_.size() + unit_offset + from, settled.data(), to - from)) {
    result.write_failed = true;
    return false;
  }
  std::copy(settled.begin(), settled.end(), first.begin() + from);
  unit_crcs_[unit_offset / kDumpUnit] = plat_crc32(0, first.data(), length);
  return true;
}

SecondPass ImageVerifier::second_pass() {
  SecondPass result;
  if (unit_crcs().size() != (size_ + kDumpUnit - 1) / kDumpUnit) {
    result.write_failed = true;  // the first pass's bytes could not be read back
    return result;
  }
  AlignedBuffer buffer;
  if (!buffer.allocate(static_cast<size_t>(std::min<uint64_t>(block_, size_)))) {
    result.read_failed = true;
    return result;
  }
  for (uint64_t offset = 0; offset < size_;) {
    const uint32_t length = piece(offset, size_, block_);
    if (!read_(offset, buffer.data(), length)) {
      result.read_failed = true;
      result.failed_at = offset;
      return result;
    }
    for (uint32_t at = 0; at < length; at += kDumpUnit) {
      const uint32_t n = std::min(kDumpUnit, length - at);
      const uint64_t unit = offset + at;
      if (plat_crc32(0, buffer.data() + at, n) == unit_crcs_[unit / kDumpUnit]) continue;
      if (!settle_unit(unit, n, buffer.data() + at, result)) return result;
    }
    offset += length;
    if (progress_) progress_(2, offset, size_);
  }
  return result;
}

bool ImageVerifier::rehash(uint64_t size) {
  AlignedBuffer buffer;
  if (size > size_ || !buffer.allocate(block_) || !begin_hashes()) return false;
  bool ok = true;
  for (uint64_t offset = 0; offset < size && ok;) {
    const uint32_t length = piece(offset, size, block_);
    ok = output_.read(prefix_.size() + offset, buffer.data(), length);
    if (!ok) break;
    plat_hash_update(image_hash_, buffer.data(), length);
    if (!prefix_.empty()) plat_hash_update(file_hash_, buffer.data(), length);
    if (checker_.add) checker_.add(offset, buffer.data(), length);
    offset += length;
  }
  end_hashes();
  return ok;
}

bool ImageVerifier::shrink(uint64_t size) {
  if (size > size_ || size % kDumpUnit != 0 || !output_.resize(prefix_.size() + size)) {
    return false;
  }
  size_ = size;
  if (!unit_crcs_.empty()) unit_crcs_.resize(size / kDumpUnit);
  return true;
}
