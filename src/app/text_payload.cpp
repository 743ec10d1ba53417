#include "app/text_payload.h"

#include <optional>

#include "platform/codepage.h"

namespace qb {

namespace {

constexpr long long kOemTextFormat = 7;

// The length of the UTF-8 sequence that lead starts (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  return 1;
}

std::string Utf8ToOem(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = SequenceLength(lead);
    if (i + length > text.size()) length = text.size() - i;
    std::optional<std::string> converted = codepage::Utf8ToCp437(text.substr(i, length));
    out += converted && converted->size() == 1 ? *converted : std::string("?");
    i += length;
  }
  return out;
}

}  // namespace

std::vector<std::string> TextPayloadLines(std::string_view payload, long long format) {
  if (size_t zero = payload.find('\0'); zero != std::string_view::npos) payload = payload.substr(0, zero);
  const std::string text =
      format == kOemTextFormat ? codepage::Cp437ToUtf8(payload) : codepage::BytesToUtf8(payload);
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string TextPayloadFromLines(const std::vector<std::string>& lines, long long format) {
  std::string out;
  for (const std::string& line : lines) {
    out += format == kOemTextFormat ? Utf8ToOem(line) : line;
    out += "\r\n";
  }
  return out;
}

}  // namespace qb
