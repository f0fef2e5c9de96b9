// What every fuzz target stands on: files held in memory behind the platform seam, so that a
// fuzzed input reaches the program exactly as a device drive or a user's file would hand it
// over, and no fuzzed path ever touches the real file system.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fuzz {

inline constexpr const char* kRoot = "/fuzz/";

struct FakeDrive {
  std::vector<std::string> roots = {kRoot};           // listed as removable drives
  std::map<std::string, std::vector<uint8_t>> files;  // whole path -> contents
  // Called after a whole-file write (a command file) has been stored.
  std::function<void(const std::string& path, const uint8_t* data, uint32_t count)> on_write;
};

// Serves every file and drive call from `drive`; nullptr gives the operating system back.
void install(FakeDrive* drive);

// Sends the C streams' output nowhere: the programs under test print messages on purpose, and
// the sanitizers write their reports to the file descriptor itself, which stays open.
void silence_output();

// Takes bytes off the front of a fuzzed input; past its end everything reads as zero.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
  // Up to `count` bytes (fewer when the input ends).
  std::vector<uint8_t> bytes(size_t count);
  std::vector<uint8_t> rest() { return bytes(size_ - at_); }
  bool empty() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace fuzz
