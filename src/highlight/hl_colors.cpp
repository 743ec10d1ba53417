#include "highlight/hl_colors.h"

#include <array>

namespace qb {

std::string_view HighLighterName(THighLighter mode) {
  static constexpr std::array<std::string_view, kHighLighterCount> kNames = {
      "hlNone", "hlPascal", "hlCBuilder", "hlSql", "hlPython", "hlJava", "hlVB", "hlHtml", "hlPerl", "hlIni"};
  return mode < kHighLighterCount ? kNames[mode] : kNames[0];
}

std::string_view ColorClassName(TColorClass cls) {
  static constexpr std::array<std::string_view, kColorClassCount> kNames = {
      "Comment", "Number",       "Strings",     "Symbol",    "Reserved", "Identifer",
      "Preproc", "FunctionCall", "Declaration", "Statement", "PlainText"};
  const auto i = static_cast<size_t>(cls);
  return i < kNames.size() ? kNames[i] : std::string_view("PlainText");
}

TRgb ResolveColor(TColor color, const TSystemPalette& palette) {
  switch (color.system) {
    case TSystemColor::None:
      return color.rgb;
    case TSystemColor::Window:
      return palette.window;
    case TSystemColor::WindowText:
      return palette.window_text;
    case TSystemColor::Highlight:
      return palette.highlight;
    case TSystemColor::HighlightText:
      return palette.highlight_text;
  }
  return color.rgb;
}

const TSymbolColor& TColors::Of(TColorClass cls) const {
  switch (cls) {
    case TColorClass::Comment:
      return Comment;
    case TColorClass::Number:
      return Number;
    case TColorClass::Strings:
      return Strings;
    case TColorClass::Symbol:
      return Symbol;
    case TColorClass::Reserved:
      return Reserved;
    case TColorClass::Identifer:
      return Identifer;
    case TColorClass::Preproc:
      return Preproc;
    case TColorClass::FunctionCall:
      return FunctionCall;
    case TColorClass::Declaration:
      return Declaration;
    case TColorClass::Statement:
      return Statement;
    case TColorClass::PlainText:
      return PlainText;
  }
  return PlainText;
}

TSymbolColor& TColors::Of(TColorClass cls) {
  return const_cast<TSymbolColor&>(static_cast<const TColors&>(*this).Of(cls));
}

TColors TColors::EditorDialog() {
  TColors c;
  c.Comment = {clBlue, clWindow, fsItalic};
  c.Symbol = {clBlack, clWindow, fsBold};
  return c;
}

}  // namespace qb
