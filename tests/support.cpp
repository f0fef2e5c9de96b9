#include "tests/support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/image_buffer.h"
#include "families/n64.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "nes/flash_id.h"
#include "nes/nes_family.h"
#include "platform/sleep.h"
#include "runner/runner.h"

void reset_program_state() {
  link_reset_state();
  cipher_reset_state();
  nes_reset_state();
  n64_reset_state();
  flash_reset_state();
  sfc_reset_state();
  wsc_reset_state();
  plat_install_sleep(nullptr);
  std::memset(g_image_buffer, 0, kImageBufferSize);
}

TempDir::TempDir() : TempDir(std::string()) {}

TempDir::TempDir(const std::string& parent) {
  std::error_code ignored;
  const std::filesystem::path base = !parent.empty() && std::filesystem::is_directory(parent, ignored)
                                         ? std::filesystem::path(parent)
                                         : std::filesystem::temp_directory_path();
  std::string pattern = (base / "cartlink-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  root_ = made ? std::string(made) + "/" : std::string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

std::vector<uint8_t> read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_whole_file(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

int run_cli(const std::vector<std::string>& args, std::string* out, std::string* err) {
  std::vector<std::string> words = {"cartlink-run"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int code = run_runner(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  const std::string o = testing::internal::GetCapturedStdout();
  const std::string e = testing::internal::GetCapturedStderr();
  if (out) *out = o;
  if (err) *err = e;
  return code;
}
