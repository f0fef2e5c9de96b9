// Reading texts that the device presents: bounded, never past the buffer they lie in.
#pragma once
#include <cstddef>
#include <cstdint>

// Parses a signed decimal number at the start of `text` (at most `length` bytes): leading white
// space, an optional sign, then digits up to the first non-digit; 0 when there are none.
// Values beyond the 32-bit range are held at its ends.
int32_t parse_decimal(const uint8_t* text, size_t length);

// Copies the text at `source` (at most `source_length` bytes, up to its first zero byte) into
// `dest` as a zero-terminated text of at most `max_chars` characters; `dest` must hold
// max_chars + 1 bytes.
void copy_text(char* dest, size_t max_chars, const uint8_t* source, size_t source_length);
