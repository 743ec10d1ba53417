// Character classes of the highlighting rules, on bytes.
//
// The rules were written for an 8-bit character set; here every class holds ASCII
// bytes only, so a byte of a multi-byte UTF-8 character is never a blank, a letter,
// a digit or a symbol, and any byte sequence is safe to classify.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qb::hlchars {

enum : uint8_t {
  kBlank = 1,       // line feed, carriage return, space (not tab)
  kIdentStart = 2,  // A-Z a-z _
  kIdentChar = 4,   // identifier start and 0-9
  kDigit = 8,       // 0-9
  kHexDigit = 16,   // 0-9 A-F a-f
  kSymbol = 32,     // # % ' ( ) * + , - . / : ; < = > @ [ \ ] ^ { } ~
  kTokenGap = 64,   // what is skipped when looking for the next character: tab, LF, CR, space
};

inline constexpr std::array<uint8_t, 256> kTable = [] {
  std::array<uint8_t, 256> t{};
  t['\n'] |= kBlank | kTokenGap;
  t['\r'] |= kBlank | kTokenGap;
  t[' '] |= kBlank | kTokenGap;
  t['\t'] |= kTokenGap;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kIdentStart | kIdentChar;
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= kIdentStart | kIdentChar;
  t['_'] |= kIdentStart | kIdentChar;
  for (int c = '0'; c <= '9'; ++c) t[c] |= kIdentChar | kDigit | kHexDigit;
  for (int c = 'A'; c <= 'F'; ++c) t[c] |= kHexDigit;
  for (int c = 'a'; c <= 'f'; ++c) t[c] |= kHexDigit;
  for (char c : std::string_view("#%'()*+,-./:;<=>@[\\]^{}~")) t[static_cast<uint8_t>(c)] |= kSymbol;
  return t;
}();

constexpr bool Is(char c, uint8_t cls) {
  return (kTable[static_cast<uint8_t>(c)] & cls) != 0;
}

// Whether the whole text is an identifier: an identifier start, then identifier characters.
constexpr bool IsIdentifier(std::string_view s) {
  if (s.empty() || !Is(s[0], kIdentStart)) return false;
  for (char c : s)
    if (!Is(c, kIdentChar)) return false;
  return true;
}

// Length of the character starting at i: a UTF-8 lead byte with the continuation
// bytes that follow it (at most as many as it announces), or a single byte.
constexpr size_t CharLength(std::string_view s, size_t i) {
  const auto lead = static_cast<uint8_t>(s[i]);
  size_t want = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF8 ? 3 : 0;
  size_t n = 1;
  while (want-- > 0 && i + n < s.size() && (static_cast<uint8_t>(s[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

constexpr char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace qb::hlchars
