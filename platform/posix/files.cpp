// Files on POSIX systems. Reply reads bypass the page cache (O_DIRECT through an aligned bounce
// buffer) so that each read sees what the device presents at that moment.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/os.h"

namespace {

// Alignment that O_DIRECT accepts on every common block device and file system.
constexpr size_t kDirectAlign = 4096;

bool write_all(int fd, const uint8_t* data, uint32_t count, off_t offset, uint32_t* written) {
  *written = 0;
  while (*written < count) {
    ssize_t n = pwrite(fd, data + *written, count - *written, offset + *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    *written += static_cast<uint32_t>(n);
  }
  return true;
}

// Reads until `count` bytes, end of file or an error; returns what arrived (-1 if nothing did
// and the first read failed).
ssize_t read_all(int fd, uint8_t* buffer, size_t count, off_t offset) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Up to this size the aligned bounce is kept from one read to the next: a fresh one for every
// reply and window read costs page faults that show beside the device's own pace.
constexpr size_t kKeptBounceMax = 0x800000;

// An aligned bounce of at least `size` bytes: the kept one when it fits, else a fresh one that
// the caller frees (`fresh` is set).
void* aligned_bounce(size_t size, bool& fresh) {
  static void* kept = nullptr;
  static size_t kept_size = 0;
  fresh = false;
  if (size <= kept_size) return kept;
  if (size <= kKeptBounceMax) {
    void* grown = std::aligned_alloc(kDirectAlign, kKeptBounceMax);
    if (grown) {
      std::free(kept);
      kept = grown;
      kept_size = kKeptBounceMax;
      return kept;
    }
  }
  fresh = true;
  return std::aligned_alloc(kDirectAlign, size);
}

// Direct read through an aligned bounce buffer (or straight into `buffer` when it is aligned
// itself); -1 when the file system refuses direct I/O.
ssize_t read_direct(const char* name, uint8_t* buffer, uint32_t count, int32_t offset) {
  int fd = open(name, O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return errno == EINVAL ? -1 : -2;
  if (reinterpret_cast<uintptr_t>(buffer) % kDirectAlign == 0 && count % kDirectAlign == 0 &&
      count > 0) {
    ssize_t n = read_all(fd, buffer, count, offset);
    int read_errno = errno;
    close(fd);
    if (n < 0) return read_errno == EINVAL ? -1 : -2;
    return n;
  }
  size_t rounded = (static_cast<size_t>(count) + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
  if (rounded == 0) rounded = kDirectAlign;
  bool fresh = false;
  void* bounce = aligned_bounce(rounded, fresh);
  if (!bounce) {
    close(fd);
    return -2;
  }
  ssize_t n = read_all(fd, static_cast<uint8_t*>(bounce), count, offset);
  int read_errno = errno;
  if (n > 0) std::memcpy(buffer, bounce, static_cast<size_t>(n));
  if (fresh) std::free(bounce);
  close(fd);
  if (n < 0) return read_errno == EINVAL ? -1 : -2;
  return n;
}

// Where direct I/O is refused (tmpfs, some FUSE mounts): drop the cached pages first.
ssize_t read_uncached(const char* name, uint8_t* buffer, uint32_t count, int32_t offset) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -2;
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ssize_t n = read_all(fd, buffer, count, offset);
  close(fd);
  return n < 0 ? -2 : n;
}

}  // namespace

uint32_t os_write_file(const char* name, const uint8_t* data, uint32_t count) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  uint32_t written = 0;
  bool ok = write_all(fd, data, count, 0, &written) && fsync(fd) == 0;
  // close() is what makes a device carry the command out; its failure means the file is lost.
  if (close(fd) != 0) ok = false;
  return ok ? written : 0;
}

uint32_t os_read_at(const char* name, uint8_t* buffer, uint32_t count, int32_t offset,
                    bool unbuffered) {
  if (!buffer || offset < 0) return 0;
  if (!unbuffered) {
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ssize_t n = read_all(fd, buffer, count, offset);
    close(fd);
    return n < 0 ? 0 : static_cast<uint32_t>(n);
  }
  ssize_t n = read_direct(name, buffer, count, offset);
  if (n == -1) n = read_uncached(name, buffer, count, offset);
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

uint32_t os_write_at(const char* name, const uint8_t* data, uint32_t count, int32_t offset) {
  if (offset < 0) return 0;
  int fd = open(name, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint32_t written = 0;
  write_all(fd, data, count, offset, &written);
  close(fd);
  return written;
}

uint32_t os_file_size(const char* name) {
  struct stat st {};
  if (stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) & 0xFFFFFFFFu);
}

bool os_replace_file(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  // Make the rename itself durable: sync the folder that holds the file.
  std::string folder(to);
  size_t slash = folder.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

bool os_remove_file(const char* name) { return unlink(name) == 0; }

bool os_resize_file(const char* name, uint32_t size) {
  int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  int result;
  do {
    result = ftruncate(fd, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  const bool ok = result == 0;
  return close(fd) == 0 && ok;
}

bool os_sync_file(const char* name) {
  int fd = open(name, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

bool os_file_exists(const char* name) {
  struct stat st {};
  return name && stat(name, &st) == 0;
}
