#include "app/window_placement.h"

#include <charconv>

namespace qb {

std::string_view FormSectionName(TFormClass form) {
  switch (form) {
    case TFormClass::MainForm:
      return "TMainForm";
    case TFormClass::DockableForm:
      return "TDockableForm";
    case TFormClass::ViewerForm:
      return "TViewerForm";
    case TFormClass::NoteForm:
      return "TNoteForm";
  }
  return "TMainForm";
}

std::string FormatFourInts(int a, int b, int c, int d) {
  return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," + std::to_string(d);
}

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// One decimal integer in the range of int, optional sign, nothing else.
std::optional<int> ParseInt(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> ReadInt(const TIniFile& ini, std::string_view section, std::string_view key) {
  return ParseInt(ini.ReadString(section, key, ""));
}

bool WithinReach(int value) {
  return value >= -kMaxCoordinate && value <= kMaxCoordinate;
}

}  // namespace

std::optional<std::vector<int>> ParseFourInts(std::string_view text) {
  std::vector<int> values;
  for (;;) {
    const size_t comma = text.find(',');
    std::optional<int> value = ParseInt(text.substr(0, comma));
    if (!value || values.size() == 4) return std::nullopt;  // junk, or a fifth part
    values.push_back(*value);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (values.size() != 4) return std::nullopt;
  return values;
}

std::optional<TWindowPlacement> ReadPlacement(const TIniFile& ini, std::string_view section) {
  using namespace placement_keys;
  if (!ini.SectionExists(section)) return std::nullopt;
  const std::optional<std::vector<int>> norm = ParseFourInts(ini.ReadString(section, kNormPos, ""));
  if (!norm) return std::nullopt;
  TWindowPlacement p;
  p.Left = (*norm)[0];
  p.Top = (*norm)[1];
  p.Right = (*norm)[2];
  p.Bottom = (*norm)[3];
  for (int v : *norm)
    if (!WithinReach(v)) return std::nullopt;
  if (p.Right <= p.Left || p.Bottom <= p.Top) return std::nullopt;

  p.Flags = ReadInt(ini, section, kFlags).value_or(0);
  const int show = ReadInt(ini, section, kShowCmd).value_or(kSwShowNormal);
  p.ShowCmd = show == kSwShowMaximized ? kSwShowMaximized : kSwShowNormal;
  const int ppi = ReadInt(ini, section, kPixelsPerInch).value_or(kDefaultPixelsPerInch);
  p.PixelsPerInch = ppi >= 24 && ppi <= 1000 ? ppi : kDefaultPixelsPerInch;
  if (const std::optional<std::vector<int>> minmax = ParseFourInts(ini.ReadString(section, kMinMaxPos, ""))) {
    bool sane = true;
    for (int v : *minmax) sane = sane && WithinReach(v);
    if (sane) {
      p.MinX = (*minmax)[0];
      p.MinY = (*minmax)[1];
      p.MaxX = (*minmax)[2];
      p.MaxY = (*minmax)[3];
    }
  }
  p.FormVersion = ReadInt(ini, section, kFormVersion).value_or(0);
  return p;
}

void WritePlacement(TIniFile& ini, std::string_view section, const TWindowPlacement& p) {
  using namespace placement_keys;
  ini.WriteInteger(section, kFlags, p.Flags);
  ini.WriteInteger(section, kShowCmd, p.ShowCmd);
  ini.WriteInteger(section, kPixelsPerInch, p.PixelsPerInch);
  ini.WriteString(section, kMinMaxPos, FormatFourInts(p.MinX, p.MinY, p.MaxX, p.MaxY));
  ini.WriteString(section, kNormPos, FormatFourInts(p.Left, p.Top, p.Right, p.Bottom));
  ini.WriteInteger(section, kFormVersion, p.FormVersion);
}

}  // namespace qb
