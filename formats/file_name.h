// Output file names made from text found on a cartridge or in a known-good list.
#pragma once
#include <string>
#include <string_view>

// The text with characters unsafe in a file name on Windows or Linux (control characters,
// < > : " / \ | ? *, bytes that are not well-formed UTF-8, and trailing dots) replaced by '_',
// surrounding spaces cut, a Windows device name (CON, NUL, COM1, ... before the first dot)
// given a '_' after it, cut to 200 bytes (room for an extension and ".tmp"); `fallback` when
// nothing but '_', '.' and spaces is left.
std::string safe_file_name(std::string_view text, std::string_view fallback);
