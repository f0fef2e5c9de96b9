#include "platform/print.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

namespace {
int print_coloured(ConsoleColour colour, const char* format, va_list args) {
  // The direct write goes around the C stream: what is still buffered there was printed first.
  std::fflush(stdout);
  return plat_console_vprint(colour, format, args);
}
}  // namespace

int print_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vprintf(format, args);
  va_end(args);
  return n;
}

int print_direct(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = print_coloured(ConsoleColour::unchanged, format, args);
  va_end(args);
  return n;
}

int print_red(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = print_coloured(ConsoleColour::bright_red, format, args);
  va_end(args);
  return n;
}

int print_green(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = print_coloured(ConsoleColour::bright_green, format, args);
  va_end(args);
  return n;
}

void wait_key_and_exit() {
  print_message("Please press any key to exit...\n");
  std::fflush(stdout);
  plat_console_read_char();
  std::exit(0);
}
