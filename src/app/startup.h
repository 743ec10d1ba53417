// Start-up and shut-down of the main window, toolkit-free: window placements in
// the settings file, the command line, the first-run layout, and the host
// interface through which TMainForm's FormCreate / FormShow / FormClose reach the
// parts that live in the windowing layer (placements, tool bar, docking layout).
//
// Settings file. One INI file (TPaths::SettingsFile()), one section per window
// class: "TMainForm", "TDockableForm", "TViewerForm", "TNoteForm". A placement is
// the keys
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

// --- the command line ----------------------------------------------------------------

inline constexpr std::string_view kUninstallSwitch = "/UNINSTALL";
// True when args (without the program's name) are exactly "/UNINSTALL", in that
// letter case.
bool IsUninstallCommandLine(const std::vector<std::string>& args);
// The cabinet the command line names: the first argument, made absolute, when its
// extension is ".qvf" in any letter case; nothing otherwise.
std::optional<std::string> CabinetFromCommandLine(const std::vector<std::string>& args);

// --- the docking layout of a first run -------------------------------------------------

enum class TDockSite { Floating, Left, Right, Bottom };
struct TPaneLayout {
  TDockSite Site = TDockSite::Floating;
  bool Visible = false;
};
// No layout file: the explorer docked left and shown, the note pane docked at the
// bottom and shown, the viewer hidden. Each dock opens its panel to a third of the
// main window's client width (left) or height (bottom).
struct TFirstRunLayout {
  TPaneLayout Explorer{TDockSite::Left, true};
  TPaneLayout Note{TDockSite::Bottom, true};
  TPaneLayout Viewer{TDockSite::Floating, false};
  int PanelDivisor = 3;
};

// --- the windowing layer's part ----------------------------------------------------------

// What start-up and shut-down ask of the windowing layer and of the parts that
// come later. Every member has a default that does nothing, so a program (or a
// test) implements only what it has. Errors thrown here are shown in an error box
// and the sequence goes on with its next step.
class TMainWindowHost {
 public:
  virtual ~TMainWindowHost() = default;
  // The window's current placement, to be saved; nothing keeps the stored one.
  virtual std::optional<TWindowPlacement> GetPlacement(TFormClass /*form*/) { return std::nullopt; }
  // Called only with a placement read back from the settings file.
  virtual void SetPlacement(TFormClass /*form*/, const TWindowPlacement& /*placement*/) {}
  virtual void RestoreToolbar(const TIniFile& /*settings*/) {}
  virtual void SaveToolbar(TIniFile& /*settings*/) {}
  // Restores the docking layout from the layout file; false when there is none
  // (then ApplyFirstRunLayout follows).
  virtual bool RestoreLayout(const std::string& /*layout_file*/) { return false; }
  virtual void ApplyFirstRunLayout(const TFirstRunLayout& /*layout*/) {}
  virtual void SaveLayout(const std::string& /*layout_file*/) {}
};

// The View menu's check marks, as ViewMiClick sets them.
struct TViewMenuState {
  bool ToolbarMi = false;
  bool ExplorerMi = false;
  bool NoteMi = false;
  bool ViewerMi = false;
};

namespace startup_text {
inline constexpr const char* kQuitQuestion = "Are you sure you wish to quit?";
}  // namespace startup_text

}  // namespace qb
