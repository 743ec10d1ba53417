// Window placements in the settings file.
//
// One INI file (TPaths::SettingsFile()), one section per window class:
// "TMainForm", "TDockableForm", "TViewerForm", "TNoteForm". A placement is the keys
//   Flags=<int>  ShowCmd=<int>  PixelsPerInch=<int>
//   MinMaxPos=<minx>,<miny>,<maxx>,<maxy>   NormPos=<left>,<top>,<right>,<bottom>
//   FormVersion=<int>
// and the section TMainForm also holds the stored properties (stored_properties.h).
//
// Every value read from the file is checked: a placement whose NormPos is missing,
// is not four decimal integers, or describes no sane window (empty, inverted, more
// than kMaxCoordinate from the origin) is no placement at all, and the window keeps
// its design size. Other junk values fall back to their defaults one by one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"

namespace qb {

// The window classes whose placements the settings file keeps.
enum class TFormClass { MainForm, DockableForm, ViewerForm, NoteForm };
inline constexpr TFormClass kAllFormClasses[] = {TFormClass::MainForm, TFormClass::DockableForm,
                                                 TFormClass::ViewerForm, TFormClass::NoteForm};
// "TMainForm", "TDockableForm", "TViewerForm", "TNoteForm".
std::string_view FormSectionName(TFormClass form);

namespace placement_keys {
inline constexpr std::string_view kFlags = "Flags";
inline constexpr std::string_view kShowCmd = "ShowCmd";
inline constexpr std::string_view kPixelsPerInch = "PixelsPerInch";
inline constexpr std::string_view kMinMaxPos = "MinMaxPos";
inline constexpr std::string_view kNormPos = "NormPos";
inline constexpr std::string_view kFormVersion = "FormVersion";
}  // namespace placement_keys

// The show commands a placement may carry.
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShowMinimized = 2;
inline constexpr int kSwShowMaximized = 3;
inline constexpr int kDefaultPixelsPerInch = 96;
// No coordinate read back lies further than this from the origin.
inline constexpr int kMaxCoordinate = 100000;

// A window's placement as the windowing layer gives and takes it.
struct TWindowPlacement {
  int Flags = 0;
  int ShowCmd = kSwShowNormal;  // 1 normal, 2 minimised, 3 maximised
  int PixelsPerInch = kDefaultPixelsPerInch;
  int MinX = -1, MinY = -1, MaxX = -1, MaxY = -1;  // minimised / maximised positions
  int Left = 0, Top = 0, Right = 0, Bottom = 0;    // the normal (restored) frame
  int FormVersion = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TWindowPlacement&) const = default;
};

// "%d,%d,%d,%d"
std::string FormatFourInts(int a, int b, int c, int d);
// Four decimal integers separated by commas (blanks around them allowed), each in
// the range of int; nothing otherwise.
std::optional<std::vector<int>> ParseFourInts(std::string_view text);

// The placement stored in section, or nothing (see above). A stored minimised
// show command reads as normal: a program must not start out of sight. A stored
// PixelsPerInch outside 24..1000 reads as 96.
std::optional<TWindowPlacement> ReadPlacement(const TIniFile& ini, std::string_view section);
void WritePlacement(TIniFile& ini, std::string_view section, const TWindowPlacement& placement);

}  // namespace qb
