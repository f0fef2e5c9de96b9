// Console output of every job and family (messages through the C standard output stream, direct
// and coloured writes around it through the OS console) and the exit prompt.
#pragma once

#if defined(__GNUC__)
#define CARTLINK_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define CARTLINK_PRINTF(f, a)
#endif

// printf-style output through the C standard output stream; returns characters written.
int print_message(const char* format, ...) CARTLINK_PRINTF(1, 2);

// Straight to the console, around the C stream (which is flushed first so that the order of
// messages holds); text longer than 1023 characters is cut. Return the formatted length.
int print_direct(const char* format, ...) CARTLINK_PRINTF(1, 2);
int print_red(const char* format, ...) CARTLINK_PRINTF(1, 2);
int print_green(const char* format, ...) CARTLINK_PRINTF(1, 2);

// The exit prompt: "Please press any key to exit...", one character of input (end of input
// counts), exit code 0. The entry ends with it, and so does a library job that cannot go on.
[[noreturn]] void wait_key_and_exit();
