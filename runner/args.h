// Numbers on cartlink-run's command line.
#pragma once
#include <cstdint>
#include <string_view>

// Decimal or 0x hex, all of the text; false on anything else or past 64 bits.
bool parse_number(std::string_view text, uint64_t& out);
// A number as above, or a decimal one with a K or M suffix (KiB, MiB).
bool parse_size(std::string_view text, uint64_t& out);
