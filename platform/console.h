// The console: direct writes (around the C stream) and reading one character.
#pragma once
#include <cstdarg>
#include <cstddef>

enum class ConsoleColour { unchanged, bright_red, bright_green };

// Largest formatted text of one direct write, terminator included.
inline constexpr size_t kDirectPrintSize = 1024;

// Formats into a buffer of kDirectPrintSize bytes (longer text is cut) and writes it
// straight to standard output in the given colour. Returns the formatted length.
int plat_console_vprint(ConsoleColour colour, const char* format, va_list args);

// Reads one character from standard input; -1 at end of input.
int plat_console_read_char();
