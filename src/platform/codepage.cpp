#include "platform/codepage.h"

#include <array>
#include <cstdint>

namespace qb::codepage {
namespace {

// Upper halves of the two code pages, as Unicode code points.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
constexpr std::array<char16_t, 32> kCp1252C1 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i, or
// returns U+FFFFFFFF (and leaves i) when the sequence is malformed.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  constexpr char32_t kBad = 0xFFFFFFFF;
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t b0 = byte(i);
  if (b0 < 0x80) return ++i, b0;
  int extra;
  char32_t cp, min;
  if ((b0 & 0xE0) == 0xC0)
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  else if ((b0 & 0xF0) == 0xE0)
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  else if ((b0 & 0xF8) == 0xF0)
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  else
    return kBad;
  if (text.size() - i <= static_cast<size_t>(extra)) return kBad;
  for (int k = 1; k <= extra; ++k) {
    uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) return kBad;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kBad;
  i += extra + 1;
  return cp;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();)
    if (DecodeUtf8(text, i) == 0xFFFFFFFF) return false;
  return true;
}

char32_t NextCodePoint(std::string_view text, size_t& i) {
  return DecodeUtf8(text, i);
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    uint8_t b = static_cast<uint8_t>(c);
    AppendUtf8(out, b < 0x80 ? char32_t(b) : char32_t(kCp437High[b - 0x80]));
  }
  return out;
}

std::optional<std::string> Utf8ToCp437(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = DecodeUtf8(text, i);
    if (cp == 0xFFFFFFFF) return std::nullopt;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    size_t k = 0;
    while (k < kCp437High.size() && kCp437High[k] != cp) ++k;
    if (k == kCp437High.size()) return std::nullopt;
    out += static_cast<char>(0x80 + k);
  }
  return out;
}

std::string Utf8ToCp437Lossy(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    const size_t start = i;
    if (NextCodePoint(text, i) == kNotUtf8) {
      out += '?';
      i = start + 1;
      continue;
    }
    const std::optional<std::string> converted = Utf8ToCp437(text.substr(start, i - start));
    out += converted && converted->size() == 1 ? *converted : std::string("?");
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    uint8_t b = static_cast<uint8_t>(c);
    char32_t cp = (b >= 0x80 && b < 0xA0) ? char32_t(kCp1252C1[b - 0x80]) : char32_t(b);
    AppendUtf8(out, cp);
  }
  return out;
}

std::string BytesToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace qb::codepage
