// cartlink-run's command line: numbers and sizes, and the whole program with fuzzed words
// (split at zero bytes) against no device. Input files are served from memory: "in.bin" holds
// the input's own bytes, so a write command gets as far as the device search.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fake_drive.h"
#include "link/link_state.h"
#include "runner/args.h"
#include "runner/runner.h"

namespace {
constexpr size_t kWordsMax = 8;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = {"cartlink-run"};
  std::string word;
  for (size_t i = 0; i < size && words.size() <= kWordsMax; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (words.size() <= kWordsMax) words.push_back(word);

  for (size_t i = 1; i < words.size(); ++i) {
    uint64_t value = 0, again = 0;
    // What was read back is a number that reads back as itself.
    if (parse_number(words[i], value) &&
        (!parse_number(std::to_string(value), again) || again != value)) {
      std::abort();
    }
    if (parse_size(words[i], value) &&
        (!parse_size(std::to_string(value), again) || again != value)) {
      std::abort();
    }
  }

  link_reset_state();
  fuzz::FakeDrive drive;
  drive.roots.clear();  // no device anywhere
  drive.files["in.bin"].assign(data, data + size);
  fuzz::install(&drive);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const int code = run_runner(static_cast<int>(words.size()), argv.data());
  if (code < kExitDone || code > kExitNoDevice) std::abort();
  // No device: nothing may ever be written.
  if (drive.files.size() != 1) std::abort();
  fuzz::install(nullptr);
  return 0;
}
