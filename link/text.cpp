#include "link/text.h"

#include <cstring>

int32_t parse_decimal(const uint8_t* text, size_t length) {
  size_t i = 0;
  while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

void copy_text(char* dest, size_t max_chars, const uint8_t* source, size_t source_length) {
  size_t n = 0;
  while (n < max_chars && n < source_length && source[n] != 0) ++n;
  std::memcpy(dest, source, n);
  dest[n] = '\0';
}
