// cartlink-virtual: mounts one virtual device as a FUSE file system, so that the unchanged
// cartlink (and cartlink.exe under wine) finds it as a removable drive. The drive's root holds
// "T-DRIVER.DMP", "DUMP.ROM" and the command files; a command file is carried out when its
// writer closes it, which is when the kernel sends the flush request.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "virtual_device/cartridges.h"
#include "virtual_device/fuse/drive_fs.h"
#include "virtual_device/fuse/options.h"

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, options)) return 2;
  Drive drive(options.config, options.delay_ms, options.read_speed);
  std::string error;
  if (!vdev::find_cartridge_kind(options.kind)->build(drive.device, options.cartridge_options,
                                                       error)) {
    fail(error);
    return 2;
  }
  if (!check_mountpoint(options.mountpoint)) return 2;

  std::FILE* trace = nullptr;
  if (options.trace_file) {
    if (*options.trace_file == "-") {
      trace = stderr;
    } else {
      // Opened before going to the background, so a relative name means the caller's folder.
      trace = std::fopen(options.trace_file->c_str(), "w");
      if (!trace) {
        fail("cannot write the trace file " + *options.trace_file + ": " + std::strerror(errno));
        return 2;
      }
    }
    std::setvbuf(trace, nullptr, _IOLBF, 0);
  }

  clock_gettime(CLOCK_REALTIME, &drive.mounted);
  drive.device.set_trace_log(trace);
  g_drive = &drive;

  std::vector<std::string> args_text = {
      kProgram, "-o", "fsname=cartlink-virtual,subtype=cartlink-virtual"};
  if (options.fuse_debug) args_text.push_back("-d");
  std::vector<char*> args_ptrs;
  for (auto& a : args_text) args_ptrs.push_back(a.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(args_ptrs.size()), args_ptrs.data());

  fuse_operations ops = make_operations();
  fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr);
  if (!fs) {
    fuse_opt_free_args(&args);
    std::fprintf(stderr, "%s: cannot set up the file system\n", kProgram);
    return 1;
  }
  // A stop signal that comes as soon as the mount shows (a script that mounts and unmounts at
  // once) is held until the handlers that unmount are in place, instead of killing the
  // program and leaving a dead mount behind.
  sigset_t stop_signals, before;
  sigemptyset(&stop_signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, signal);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &before);
  if (fuse_mount(fs, options.mountpoint.c_str()) != 0) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    std::fprintf(stderr, "%s: cannot mount on %s (is /dev/fuse there and fusermount3 installed?)\n",
                 kProgram, options.mountpoint.c_str());
    fuse_destroy(fs);
    fuse_opt_free_args(&args);
    return 1;
  }
  fuse_session* session = fuse_get_session(fs);
  int status = 1;
  // A shell starts background jobs with SIGINT ignored, and libfuse leaves ignored signals
  // alone; an interrupt sent on purpose must still unmount.
  std::signal(SIGINT, SIG_DFL);
  const bool handled = fuse_set_signal_handlers(session) == 0;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (!handled) {
    std::fprintf(stderr, "%s: cannot install the signal handlers\n", kProgram);
  } else if (fuse_daemonize(options.foreground ? 1 : 0) != 0) {
    std::fprintf(stderr, "%s: cannot go to the background\n", kProgram);
    fuse_remove_signal_handlers(session);
  } else {
    // One thread: the device model serves one request at a time, as the real device does.
    status = fuse_loop(fs) < 0 ? 1 : 0;
    fuse_remove_signal_handlers(session);
  }
  fuse_unmount(fs);
  fuse_destroy(fs);
  fuse_opt_free_args(&args);
  drive.device.set_trace_log(nullptr);
  if (options.save_dir) save_memories(drive.device, *options.save_dir);
  if (trace && trace != stderr) std::fclose(trace);
  g_drive = nullptr;
  return status;
}
