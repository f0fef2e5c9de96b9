// The FUSE operations of cartlink-virtual's drive: the device's files in its root, command
// files carried out when their writer closes them.
#pragma once
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "virtual_device/device.h"

// One open of a command file: its own buffer, carried out once when the writer closes it.
struct OpenCommand {
  std::string name;
  std::vector<uint8_t> data;
  bool pending = false;  // written, created or truncated since the last flush
};

struct Drive {
  Drive(const vdev::DeviceConfig& config, uint32_t delay, uint32_t speed)
      : device(config), delay_ms(delay), read_speed(speed) {}
  vdev::Device device;
  std::map<std::string, std::vector<uint8_t>> command_files;  // last contents per name
  // Open command files by handle; the drive owns them, so an unmount that cuts off a writer
  // before its release frees them all the same.
  std::map<uint64_t, std::unique_ptr<OpenCommand>> opens;
  uint64_t next_handle = 1;
  uint32_t delay_ms = 0;
  uint32_t read_speed = 0;  // MiB/s; 0: as fast as the host serves them
  uid_t uid = getuid();
  gid_t gid = getgid();
  timespec mounted{};
};

// The one mounted drive that the operations serve; set by main before the loop starts.
extern Drive* g_drive;

fuse_operations make_operations();
