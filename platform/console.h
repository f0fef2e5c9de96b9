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

// Whether standard error is a terminal (progress is shown only there).
bool plat_stderr_is_terminal();

// Ctrl-C (or a terminal's hang-up) ends the program at once with exit code 130, first removing
// `path` if it is not empty: the temporary file of an output still being written. A later call
// replaces the path; nullptr or "" clears it.
void plat_on_interrupt_remove(const char* path);
