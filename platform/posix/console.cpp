// Console on POSIX: direct writes to file descriptor 1, colours as ANSI sequences on a terminal.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
