#include "tests/support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "families/n64.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "nes/flash_id.h"
#include "nes/image_buffer.h"
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

std::vector<std::string> TempDir::files_with(const std::string& part) const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    const std::string name = entry.path().filename().string();
    if (name.find(part) != std::string::npos) names.push_back(path(name));
  }
  return names;
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

std::string captured(const TempDir& dir, const std::function<void()>& body) {
  const std::string path = dir.path("out");
  std::fflush(stdout);
  const int saved = dup(1);
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(file, 1);
  close(file);
  body();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  auto bytes = read_whole_file(path);
  return std::string(bytes.begin(), bytes.end());
}

void VirtualDeviceTest::use_virtual_root() const {
  std::snprintf(g_link.root_path, sizeof g_link.root_path, "%s", kVirtualRoot);
}

void VirtualDeviceTest::copy_device_key() {
  std::memcpy(g_link.key_data, device.config().key.data(), sizeof g_link.key_data);
}

void VirtualDeviceTest::key_cipher() {
  copy_device_key();
  cipher_set_device_key();
}

std::vector<vdev::TraceEvent> VirtualDeviceTest::events(vdev::TraceEvent::Kind kind) const {
  std::vector<vdev::TraceEvent> out;
  for (const auto& e : device.trace()) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

std::vector<std::vector<uint8_t>> VirtualDeviceTest::sent_packets(size_t keep) const {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& file : command_files()) {
    for (size_t at = 0; at + kPacketSize <= file.data.size(); at += kPacketSize) {
      out.emplace_back(file.data.begin() + at, file.data.begin() + at + keep);
    }
  }
  return out;
}

void VirtualDeviceTest::expect_all_accepted() const {
  for (const auto& p : device.packets()) EXPECT_TRUE(p.accepted);
}
