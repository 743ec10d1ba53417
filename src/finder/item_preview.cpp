#include "finder/item_preview.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "platform/codepage.h"
#include "platform/picture.h"
#include "store/item_metadata.h"

namespace qb::finder {

namespace {

// Enough for every header read below (a JPEG's size may stand behind its EXIF
// block, which is at most 64 KiB).
constexpr uint64_t kHeaderPrefix = 96 * 1024;

// Registered names of textual formats besides "text/...".
constexpr std::string_view kTextualApplicationTypes[] = {
    "application/json",       "application/xml",  "application/xhtml+xml",
    "application/javascript", "application/x-sh", "application/sql",
};

uint32_t U32(std::string_view b, size_t at) {
  if (at + 4 > b.size()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t I32(std::string_view b, size_t at) {
  return static_cast<int32_t>(U32(b, at));
}
uint16_t U16(std::string_view b, size_t at) {
  if (at + 2 > b.size()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::string Size(long long width, long long height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

std::string Bytes(uint64_t size) {
  return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

// "Picture W x H" from a BMP file image's info header.
std::string BitmapPreview(std::string_view b) {
  if (b.size() < 26 || b.substr(0, 2) != "BM") return "Picture";
  const uint32_t header = U32(b, 14);
  if (header == 12) return "Picture " + Size(U16(b, 18), U16(b, 20));
  if (header < 40) return "Picture";
  const long long width = I32(b, 18), height = I32(b, 22);
  if (width <= 0 || height == 0 || height == INT32_MIN) return "Picture";
  return "Picture " + Size(width, height < 0 ? -height : height);
}

// An enhanced metafile's frame, in millimetres.
std::string MetafilePreview(std::string_view b) {
  if (b.size() < 88 || U32(b, 0) != 1 || b.substr(40, 4) != " EMF") return "Metafile";
  const long long width = static_cast<long long>(I32(b, 32)) - I32(b, 24);
  const long long height = static_cast<long long>(I32(b, 36)) - I32(b, 28);
  if (width <= 0 || height <= 0) return "Metafile";
  return "Metafile " + Size((width + 50) / 100, (height + 50) / 100) + " mm";
}

// The largest image of an icon's directory.
std::string IconPreview(std::string_view b) {
  if (b.size() < 6 || U16(b, 0) != 0 || U16(b, 2) != 1) return "Icon";
  const size_t count = U16(b, 4);
  int width = 0, height = 0;
  for (size_t i = 0; i < count && 6 + 16 * (i + 1) <= b.size(); ++i) {
    const int w = static_cast<unsigned char>(b[6 + 16 * i]), h = static_cast<unsigned char>(b[7 + 16 * i]);
    if ((w ? w : 256) * (h ? h : 256) > width * height) width = w ? w : 256, height = h ? h : 256;
  }
  return width ? "Icon " + Size(width, height) : "Icon";
}

// "Wave 3.2 s": the data chunk's length over the format's bytes per second. The
// data chunk's declared length counts as far as the payload has bytes for it.
std::string WavePreview(std::string_view b, uint64_t size) {
  if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE") return "Wave";
  uint32_t byte_rate = 0;
  for (uint64_t at = 12; at + 8 <= b.size();) {
    const std::string_view id = b.substr(static_cast<size_t>(at), 4);
    const uint64_t length = U32(b, static_cast<size_t>(at) + 4);
    if (id == "fmt " && length >= 16) byte_rate = U32(b, static_cast<size_t>(at) + 16);
    if (id == "data") {
      if (byte_rate == 0) return "Wave";
      const uint64_t available = size > at + 8 ? size - at - 8 : 0;
      const double seconds = static_cast<double>(std::min(length, available)) / byte_rate;
      char text[48];
      std::snprintf(text, sizeof text, "Wave %.1f s", seconds);
      return text;
    }
    at += 8 + length + (length & 1);
  }
  return "Wave";
}

// A "Delphi Picture": a picture file image of any type.
std::string PicturePreview(std::string_view b) {
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  switch (RecognizePictureFile(bytes)) {
    case TPictureFileType::Bmp:
      return BitmapPreview(b);
    case TPictureFileType::Ico:
      return IconPreview(b);
    case TPictureFileType::Emf:
      return MetafilePreview(b);
    case TPictureFileType::Wmf:
      return "Metafile";
    case TPictureFileType::Png:
    case TPictureFileType::Jpeg:
    case TPictureFileType::Gif:
      if (auto size = ForeignPictureSize(bytes)) return "Picture " + Size(size->first, size->second);
      return "Picture";
    case TPictureFileType::Unknown:
      break;
  }
  return "Picture";
}

std::string PalettePreview(std::string_view b) {
  try {
    const TLogPalette palette =
        ReadRiffPalette(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(b.data()), b.size()));
    return "Palette of " + std::to_string(palette.size()) + (palette.size() == 1 ? " colour" : " colours");
  } catch (const Exception&) {
    return "Palette";
  }
}

bool IsLineBreakOrControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

bool IsSpace(char32_t c) {
  return c == ' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
         c == 0x3000 || c == 0xFEFF || IsLineBreakOrControl(c);
}

}  // namespace

bool IsTextFormat(std::optional<long long> format, const TClipboardFormatRegistry& registry) {
  if (!format) return false;
  if (*format == store::kFormatText || *format == store::kFormatOemText) return true;
  if (*format < TClipboardFormatRegistry::kFirstNumber || *format > TClipboardFormatRegistry::kLastNumber)
    return false;
  const std::optional<std::string> name = registry.NameOf(static_cast<uint32_t>(*format));
  if (!name) return false;
  const std::string lower = codepage::AsciiLowerCase(*name);
  if (lower.starts_with("text/")) return true;
  const std::string_view type = std::string_view(lower).substr(0, lower.find(';'));
  return std::find(std::begin(kTextualApplicationTypes), std::end(kTextualApplicationTypes), type) !=
         std::end(kTextualApplicationTypes);
}

std::optional<std::string> ItemText(std::optional<long long> format, std::string_view payload,
                                    const TClipboardFormatRegistry& registry) {
  if (!IsTextFormat(format, registry)) return std::nullopt;
  const std::string_view text = payload.substr(0, std::min(payload.find('\0'), payload.size()));
  if (*format == store::kFormatOemText) return codepage::Cp437ToUtf8(text);
  if (codepage::IsAscii(text) || codepage::IsValidUtf8(text)) return std::string(text);
  return codepage::Cp1252ToUtf8(text);
}

uint64_t PreviewPrefix(std::optional<long long> format, uint64_t size,
                       const TClipboardFormatRegistry& registry) {
  return IsTextFormat(format, registry) ? size : std::min(size, kHeaderPrefix);
}

std::string TextPreview(std::string_view utf8, size_t max_chars) {
  std::string out;
  size_t chars = 0;
  bool pending_space = false;
  for (size_t i = 0; i < utf8.size();) {
    const size_t start = i;
    char32_t c = codepage::NextCodePoint(utf8, i);
    if (c == codepage::kNotUtf8) {
      c = 0xFFFD;
      i = start + 1;
    }
    if (IsSpace(c)) {
      pending_space = !out.empty();
      continue;
    }
    if (chars + (pending_space ? 1 : 0) >= max_chars) {
      out += "...";
      return out;
    }
    if (pending_space) {
      out += ' ';
      ++chars;
      pending_space = false;
    }
    if (c == 0xFFFD && i == start + 1)
      codepage::AppendUtf8(out, c);
    else
      out.append(utf8.substr(start, i - start));
    ++chars;
  }
  return out;
}

std::string TextOpening(std::string_view utf8, size_t max_lines, size_t max_chars) {
  std::string out;
  size_t lines = 1, chars = 0;
  bool cut = false;
  size_t pending_breaks = 0;
  for (size_t i = 0; i < utf8.size();) {
    const size_t start = i;
    char32_t c = codepage::NextCodePoint(utf8, i);
    if (c == codepage::kNotUtf8) {
      c = 0xFFFD;
      i = start + 1;
    }
    if (c == '\r' || c == '\n' || c == 0x2028 || c == 0x2029) {
      if (c == '\r' && i < utf8.size() && utf8[i] == '\n') ++i;
      if (!out.empty()) ++pending_breaks;
      continue;
    }
    if (pending_breaks > 0) {
      if (lines + pending_breaks > max_lines) {
        cut = true;
        break;
      }
      out.append(pending_breaks, '\n');
      lines += pending_breaks;
      pending_breaks = 0;
    }
    if (chars >= max_chars) {
      cut = true;
      break;
    }
    if (c == '\t' || IsLineBreakOrControl(c))
      out += ' ';
    else if (c == 0xFFFD && i == start + 1)
      codepage::AppendUtf8(out, c);
    else
      out.append(utf8.substr(start, i - start));
    ++chars;
  }
  while (!out.empty() && (out.back() == ' ')) out.pop_back();
  if (cut) out += "...";
  return out;
}

std::string ItemPreview(std::optional<long long> format, std::string_view payload, uint64_t size,
                        const TClipboardFormatRegistry& registry) {
  if (std::optional<std::string> text = ItemText(format, payload, registry)) {
    std::string preview = TextPreview(*text);
    return preview.empty() ? "Empty text" : preview;
  }
  if (!format) return "No format, " + Bytes(size);
  switch (*format) {
    case store::kFormatBitmap:
      return BitmapPreview(payload);
    case store::kFormatMetafilePicture:
    case store::kFormatEnhancedMetafile:
      return MetafilePreview(payload);
    case store::kFormatPalette:
      return PalettePreview(payload);
    case store::kFormatWave:
      return WavePreview(payload, size);
    default:
      break;
  }
  const auto name =
      *format >= TClipboardFormatRegistry::kFirstNumber && *format <= TClipboardFormatRegistry::kLastNumber
          ? registry.NameOf(static_cast<uint32_t>(*format))
          : std::nullopt;
  if (name == kDelphiPictureFormatName) return PicturePreview(payload);
  if (name == kDelphiIconFormatName) return IconPreview(payload);
  if (name == kDelphiComponentFormatName) return "Component, " + Bytes(size);
  if (name) return TextPreview(*name, 40) + ", " + Bytes(size);
  return "Format " + std::to_string(*format) + ", " + Bytes(size);
}

}  // namespace qb::finder
