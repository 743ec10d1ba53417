// Code pages: the single-byte code pages the program meets, and UTF-8.
//
// In memory every text is UTF-8. Entry names inside an archive are code page 437
// (the ZIP default) unless the entry's UTF-8 flag is set; byte strings that turn out
// not to be valid UTF-8 are read as Windows-1252, so texts written on Windows keep
// their letters.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qb::codepage {

// True when text is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
// Decodes the UTF-8 sequence at text[i] (i < text.size()) and moves i past it; for
// a malformed sequence returns kNotUtf8 and leaves i where it was.
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;
char32_t NextCodePoint(std::string_view text, size_t& i);
// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t code_point);

// Code page 437 <-> UTF-8. Cp437ToUtf8 is total; Utf8ToCp437 fails when a character
// has no place in code page 437 (or the input is not valid UTF-8).
std::string Cp437ToUtf8(std::string_view bytes);
std::optional<std::string> Utf8ToCp437(std::string_view text);
// Code page 437 for text that must be written whatever it holds (OEM text): a
// character without a place in code page 437 becomes '?', and so does each byte
// that starts no valid UTF-8 character (the bytes after it are read afresh).
std::string Utf8ToCp437Lossy(std::string_view text);

// Windows-1252 -> UTF-8; the five unassigned bytes map to the C1 controls of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-8 when already valid, otherwise read as Windows-1252.
std::string BytesToUtf8(std::string_view bytes);

// ASCII-only case folding, as every name comparison of the program uses.
char AsciiUpper(char c);
char AsciiLower(char c);
std::string AsciiLowerCase(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace qb::codepage
