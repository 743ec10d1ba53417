#include "clipboard/text_payload.h"

#include "platform/codepage.h"

namespace qb {

namespace {

constexpr long long kOemTextFormat = 7;

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

TTextLayout TextPayloadLayout(std::string_view payload) {
  if (size_t zero = payload.find('\0'); zero != std::string_view::npos) payload = payload.substr(0, zero);
  TTextLayout layout;
  if (payload.empty()) return layout;
  if (const size_t at = payload.find_first_of("\r\n"); at != std::string_view::npos) {
    if (payload[at] == '\n')
      layout.LineBreak = "\n";
    else if (at + 1 < payload.size() && payload[at + 1] == '\n')
      layout.LineBreak = "\r\n";
    else
      layout.LineBreak = "\r";
  }
  layout.FinalBreak = payload.back() == '\r' || payload.back() == '\n';
  return layout;
}

std::string TextPayloadFromLines(const std::vector<std::string>& lines, long long format,
                                 const TTextLayout& layout) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += layout.LineBreak;
    out += format == kOemTextFormat ? codepage::Utf8ToCp437Lossy(lines[i]) : lines[i];
  }
  if (layout.FinalBreak && !lines.empty()) out += layout.LineBreak;
  return out;
}

}  // namespace qb
