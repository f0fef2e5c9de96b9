// Output file names made from text found on a cartridge or in a known-good list.
#pragma once
#include <string>
#include <string_view>

// The text with characters unsafe in a file name on Windows or Linux (control characters,
// < > : " / \ | ? * and trailing dots or spaces) replaced by '_', surrounding spaces cut;
// `fallback` when nothing usable is left.
std::string safe_file_name(std::string_view text, std::string_view fallback);
