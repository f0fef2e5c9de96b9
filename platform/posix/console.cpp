// Console on POSIX: direct writes to file descriptor 1, colours as ANSI sequences on a terminal.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace {
void write_all(const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(STDOUT_FILENO, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}
}  // namespace

int plat_console_vprint(ConsoleColour colour, const char* format, va_list args) {
  char text[kDirectPrintSize];
  int length = std::vsnprintf(text, sizeof text, format, args);
  if (length < 0) return 0;
  size_t shown = static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length)
                                                            : sizeof text - 1;
  bool tty = colour != ConsoleColour::unchanged && isatty(STDOUT_FILENO);
  if (tty) write_all(colour == ConsoleColour::bright_red ? "\x1b[91m" : "\x1b[92m", 5);
  write_all(text, shown);
  if (tty) write_all("\x1b[0m", 4);
  return static_cast<int>(shown);
}

int plat_console_read_char() { return std::getchar(); }

bool plat_stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

namespace {
// Written before the handler can run and read only by it: a fixed buffer, no allocation, and a
// flag that says whether the name in it is whole.
char g_interrupt_path[4096];
volatile sig_atomic_t g_interrupt_path_set = 0;

extern "C" void on_interrupt(int) {
  if (g_interrupt_path_set) unlink(g_interrupt_path);
  _exit(130);
}
}  // namespace

void plat_on_interrupt_remove(const char* path) {
  static bool installed = false;
  if (!installed) {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    installed = true;
  }
  g_interrupt_path_set = 0;
  if (!path || !*path || std::strlen(path) >= sizeof g_interrupt_path) return;
  std::memcpy(g_interrupt_path, path, std::strlen(path) + 1);
  g_interrupt_path_set = 1;
}
