// Console on Windows: formatted with wvsprintfA and written with WriteFile straight to the
// standard output handle; colours through the console's text attribute.
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace {
constexpr WORD kBrightRed = 12;
constexpr WORD kBrightGreen = 10;
}  // namespace

int plat_console_vprint(ConsoleColour colour, const char* format, va_list args) {
  char text[kDirectPrintSize];
  // wvsprintfA stops at 1024 characters; the buffer holds that many with the terminator cut.
  int length = wvsprintfA(text, format, args);
  if (length < 0) return 0;
  if (length >= static_cast<int>(sizeof text)) length = static_cast<int>(sizeof text) - 1;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  bool coloured = colour != ConsoleColour::unchanged && GetConsoleScreenBufferInfo(out, &info);
  if (coloured) {
    SetConsoleTextAttribute(out, colour == ConsoleColour::bright_red ? kBrightRed : kBrightGreen);
  }
  DWORD written = 0;
  WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr);
  if (coloured) SetConsoleTextAttribute(out, info.wAttributes);
  return length;
}

int plat_console_read_char() { return std::getchar(); }

bool plat_stderr_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {
char g_interrupt_path[MAX_PATH];
volatile LONG g_interrupt_path_set = 0;

// Runs on a thread of its own when Ctrl-C or Ctrl-Break arrives.
BOOL WINAPI on_interrupt(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  if (g_interrupt_path_set) DeleteFileA(g_interrupt_path);
  ExitProcess(130);
}
}  // namespace

void plat_on_interrupt_remove(const char* path) {
  static bool installed = false;
  if (!installed) {
    SetConsoleCtrlHandler(on_interrupt, TRUE);
    installed = true;
  }
  InterlockedExchange(&g_interrupt_path_set, 0);
  if (!path || !*path || lstrlenA(path) >= static_cast<int>(sizeof g_interrupt_path)) return;
  lstrcpynA(g_interrupt_path, path, sizeof g_interrupt_path);
  InterlockedExchange(&g_interrupt_path_set, 1);
}
