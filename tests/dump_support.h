// Shared parts of the dump tests: a retail cartridge from the virtual device's table put into
// the in-process device, the run of `cartlink-run dump` in a folder of its own, and a DAT that
// lists an image.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/hash.h"
#include "tests/support.h"
#include "virtual_device/cartridges.h"

class DumpTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    home_ = here;
    // Files named from a header land in the working folder.
    ASSERT_EQ(chdir(folder.root().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(home_.c_str()), 0);
    VirtualDeviceTest::TearDown();
  }

  // Puts a cartridge of `kind` into the device, which answers as `identity`.
  void insert(const std::string& kind, const std::string& identity,
              const vdev::CartridgeOptions& options = {}) {
    device.config().name = identity;
    device.config().identity = identity;
    const vdev::CartridgeKind* k = vdev::find_cartridge_kind(kind);
    ASSERT_NE(k, nullptr) << kind;
    std::string error;
    ASSERT_TRUE(k->build(device, options, error)) << error;
  }

  // Writes `image` as a file of the folder and gives its path.
  std::string file(const std::string& name, const std::vector<uint8_t>& image) {
    write_whole_file(folder.path(name), image);
    return folder.path(name);
  }

  // Runs cartlink-run dump with `args`; keeps what it printed.
  int dump(std::vector<std::string> args) {
    args.insert(args.begin(), "dump");
    out.clear();
    err.clear();
    return run_cli(args, &out, &err);
  }

  bool printed(const std::string& text) const { return out.find(text) != std::string::npos; }
  bool complained(const std::string& text) const {
    return err.find(text) != std::string::npos;
  }
  // Whether anything was sent to the device (a refusal sends nothing).
  bool anything_sent() const { return !command_files().empty(); }
  // The folder holds exactly these names (no temporary file is left behind).
  std::vector<std::string> names() const;

  TempDir folder;
  std::string out, err;

 private:
  std::string home_;
};

struct Digest {
  uint32_t crc32 = 0;
  std::string sha1;  // 40 lower-case hex digits
};
Digest digest_of(const std::vector<uint8_t>& bytes);

// A DAT file listing one game whose rom is `bytes`.
std::string dat_text(const std::string& game, const std::vector<uint8_t>& bytes);
