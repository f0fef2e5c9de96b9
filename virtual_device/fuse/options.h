// cartlink-virtual's command line: the device settings, the cartridge kind and its options,
// the mount point, and saving the cartridge's memories at unmount.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"

inline constexpr const char* kProgram = "cartlink-virtual";

// Everything the command line asks for, checked before anything is mounted.
struct Options {
  vdev::DeviceConfig config;
  std::string kind = "f90";
  vdev::CartridgeOptions cartridge_options;
  std::optional<std::string> trace_file, save_dir;
  std::string mountpoint;
  uint32_t delay_ms = 0;
  uint32_t read_speed = 0;  // MiB/s of reads from the device's files; 0: no pace
  bool foreground = false;
  bool fuse_debug = false;
};

// A message on standard error, prefixed with the program's name; false.
bool fail(const std::string& message);
// Reads the command line into `o`; false (with a message) when it is unusable.
bool parse_options(int argc, char** argv, Options& o);
// The mount point must be an empty directory that nothing is mounted on yet: mounting over
// files would hide them, and a second device on one point would hide the first.
bool check_mountpoint(std::string& mountpoint);
// Saves each memory of the cartridge as DIR/NAME.bin, written whole before it takes the name.
void save_memories(vdev::Device& device, const std::string& dir);
