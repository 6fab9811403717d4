// Conversion between Windows-1251 bytes (the program's files) and UTF-8 (the
// program's texts in memory).
#pragma once

#include <string>
#include <string_view>

// UTF-8 of Windows-1251 bytes; the one byte without a character (0x98)
// becomes "?".
std::string Cp1251ToUtf8(std::string_view text);

// Windows-1251 of UTF-8 text; a character Windows-1251 lacks, or a byte that
// is not valid UTF-8, becomes "?".
std::string Utf8ToCp1251(std::string_view text);

// True when every byte is below 0x80, so both encodings agree.
bool IsAscii(std::string_view text);
