// Conversion between Windows-1251 bytes (the program's files and the
// exchange's texts) and UTF-8 (the program's texts in memory).
#pragma once

#include <string>
#include <string_view>

// UTF-8 of Windows-1251 bytes; the one byte without a character (0x98)
// becomes "?".
std::string Cp1251ToUtf8(std::string_view text);

// Windows-1251 of UTF-8 text. A character Windows-1251 lacks becomes one "?";
// so does each byte that does not begin a well-formed UTF-8 sequence, and an
// incomplete sequence at the end. The text after either is kept.
std::string Utf8ToCp1251(std::string_view text);

// True when every byte is below 0x80, so both encodings agree.
bool IsAscii(std::string_view text);

// True when the text is well-formed UTF-8 throughout (no overlong form, no
// surrogate, nothing past U+10FFFF, no cut sequence at the end).
bool IsUtf8(std::string_view text);
