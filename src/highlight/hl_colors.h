// Colours and font styles of the highlighter: TColor, TSymbolColor and TColors.
//
// TColor is either a plain RGB value or a reference to a system colour (the window
// background, the window text ...), which a renderer resolves against its own
// palette when it paints; ResolveColor does it against the classic Windows scheme.
// TColors holds one TSymbolColor per colour class; its default constructor gives
// the editor control's defaults, TColors::EditorDialog() the values the text
// editor dialog sets.
#pragma once

#include <cstdint>

#include "highlight/hl_types.h"

namespace qb {

enum class TSystemColor : uint8_t { None, Window, WindowText, Highlight, HighlightText };

struct TRgb {
  uint8_t r = 0, g = 0, b = 0;
  friend constexpr bool operator==(TRgb, TRgb) = default;
};

struct TColor {
  TRgb rgb;  // used when system is None
  TSystemColor system = TSystemColor::None;

  static constexpr TColor Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return TColor{{r, g, b}, TSystemColor::None};
  }
  static constexpr TColor System(TSystemColor s) { return TColor{{}, s}; }
  friend constexpr bool operator==(TColor a, TColor b) {
    return a.system == b.system && (a.system != TSystemColor::None || a.rgb == b.rgb);
  }
};

inline constexpr TColor clBlack = TColor::Rgb(0, 0, 0);
inline constexpr TColor clOlive = TColor::Rgb(128, 128, 0);
inline constexpr TColor clNavy = TColor::Rgb(0, 0, 128);
inline constexpr TColor clPurple = TColor::Rgb(128, 0, 128);
inline constexpr TColor clBlue = TColor::Rgb(0, 0, 255);
inline constexpr TColor clGreen = TColor::Rgb(0, 128, 0);
inline constexpr TColor clSilver = TColor::Rgb(192, 192, 192);
inline constexpr TColor clWindow = TColor::System(TSystemColor::Window);
inline constexpr TColor clWindowText = TColor::System(TSystemColor::WindowText);
inline constexpr TColor clHighlight = TColor::System(TSystemColor::Highlight);
inline constexpr TColor clHighlightText = TColor::System(TSystemColor::HighlightText);

// The system colours a renderer paints with; the defaults are the classic Windows scheme.
struct TSystemPalette {
  TRgb window{255, 255, 255};
  TRgb window_text{0, 0, 0};
  TRgb highlight{0, 0, 128};
  TRgb highlight_text{255, 255, 255};
};
TRgb ResolveColor(TColor color, const TSystemPalette& palette = TSystemPalette{});

// Font style set: any combination of the four bits.
enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;

// The colours and font style of one colour class. Assigning copies the three values.
struct TSymbolColor {
  TColor ForeColor = clWindowText;
  TColor BackColor = clWindow;
  TFontStyles Style = 0;
  friend constexpr bool operator==(const TSymbolColor&, const TSymbolColor&) = default;
};

// Eleven TSymbolColor values, one per colour class, in the order of TColorClass.
// Assigning copies all eleven.
struct TColors {
  TSymbolColor Comment{clOlive, clWindow, fsItalic};
  TSymbolColor Number{clNavy, clWindow, 0};
  TSymbolColor Strings{clPurple, clWindow, 0};
  TSymbolColor Symbol{clBlue, clWindow, 0};
  TSymbolColor Reserved{clWindowText, clWindow, fsBold};
  TSymbolColor Identifer{clWindowText, clWindow, 0};
  TSymbolColor Preproc{clGreen, clWindow, 0};
  TSymbolColor FunctionCall{clWindowText, clWindow, 0};
  TSymbolColor Declaration{clWindowText, clWindow, 0};
  TSymbolColor Statement{clWindowText, clWindow, fsBold};
  TSymbolColor PlainText{clWindowText, clWindow, 0};

  const TSymbolColor& Of(TColorClass cls) const;
  TSymbolColor& Of(TColorClass cls);

  // The values the text editor dialog gives its editor.
  static TColors EditorDialog();

  friend bool operator==(const TColors&, const TColors&) = default;
};

}  // namespace qb
