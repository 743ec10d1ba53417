// TDockLayout: where the three panes sit and what the user may do with them by
// dragging, closing and the View commands, without widgets.
//
// The panes are the explorer ("Filing Cabinet"), the note pane ("Note") and the
// viewer ("Viewer"). A pane floats, docks into one of the main window's three dock
// panels (left, right, bottom), is a tab of the tab host ("Collector"), or shares
// the side-by-side host with other panes. The windowing layer reports geometry
// (screen rectangles, the main window's client size) and forwards the user's
// drops, closes and View commands here; it then draws what the model says.
//
// The model keeps at most one tab host and one side-by-side host. With three panes
// no second host of a kind can hold two panes, and a host left with one pane is
// dissolved at once (its pane floats where the host was), so nothing is lost.
//
// Coordinates: pane, host and floating rectangles are screen rectangles; panel
// previews are in the main window's client coordinates; DockZoneAt works in the
// receiving pane's client coordinates. A rectangle holds its left and top edges,
// not its right and bottom edges.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

enum class TPane { Explorer, Viewer, Note };
inline constexpr TPane kAllPanes[] = {TPane::Explorer, TPane::Viewer, TPane::Note};
// "Filing Cabinet", "Viewer", "Note".
std::string_view PaneCaption(TPane pane);
// The component names the layout file uses: "DockableForm", "ViewerForm", "NoteForm".
std::string_view PaneComponentName(TPane pane);

enum class TDockPanel { Left, Right, Bottom };
inline constexpr TDockPanel kAllDockPanels[] = {TDockPanel::Left, TDockPanel::Right, TDockPanel::Bottom};

namespace dock_names {
inline constexpr std::string_view kTabHostName = "TabDockHost";
inline constexpr std::string_view kTabHostCaption = "Collector";
inline constexpr std::string_view kTabHostSection = "TTabDockHost";
inline constexpr std::string_view kConjoinHostSection = "TConjoinDockHost";
inline constexpr int kTabHostWidth = 200, kTabHostHeight = 277;
inline constexpr int kConjoinHostWidth = 339, kConjoinHostHeight = 286;
}  // namespace dock_names

struct TDockRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  static TDockRect FromSize(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
  }
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  bool operator==(const TDockRect&) const = default;
};

enum class TDockSide { None, Left, Top, Right, Bottom, Client };

// The zone of a drop on a pane of client size width x height, and the rectangle
// to show while the drag is over it (client coordinates; empty for no zone).
struct TDockZone {
  TDockSide Side = TDockSide::None;
  TDockRect Preview;
};
TDockZone DockZoneAt(int width, int height, int x, int y);

// What a dock panel or the tab host holds: a pane, or (panels only) the tab host.
struct TDockClient {
  bool IsTabHost = false;
  TPane Pane = TPane::Explorer;
  static TDockClient Of(TPane pane) { return {false, pane}; }
  static TDockClient TabHost() { return {true, TPane::Explorer}; }
  bool operator==(const TDockClient& other) const {
    return IsTabHost == other.IsTabHost && (IsTabHost || Pane == other.Pane);
  }
};

enum class TPlaceKind { Floating, Panel, TabHost, ConjoinHost };

struct TPaneState {
  TPlaceKind Place = TPlaceKind::Floating;
  TDockPanel Panel = TDockPanel::Left;  // when Place is Panel
  bool Visible = false;
  // False while the pane sits in the side-by-side host: nothing docks onto it.
  bool DockSite = true;
  // Where the pane is on the screen (its window when floating).
  TDockRect Bounds;
  // The size it takes when it floats again.
  int UndockWidth = 0, UndockHeight = 0;
  // A floating placement was read back from the settings file at start.
  bool PlacementRestored = false;
  TDockRect Placement;  // that placement
};

struct TDockPanelState {
  std::vector<TDockClient> Clients;  // in dock order, which is also top-to-bottom
  int Size = 0;                      // width (left, right) or height (bottom)
  bool SplitterVisible = false;
};

struct TTabHostState {
  std::vector<TPane> Pages;  // in dock order
  bool Visible = true;
  TDockRect Bounds;
  std::optional<TDockPanel> Panel;  // docked in a panel, else floating
  std::optional<TPane> Current;     // the page shown
};

struct TConjoinClient {
  TPane Pane = TPane::Explorer;
  TDockSide Side = TDockSide::None;  // where it went against the clients before it
  bool operator==(const TConjoinClient&) const = default;
};

struct TConjoinHostState {
  std::vector<TConjoinClient> Clients;  // in dock order
  bool Visible = true;
  TDockRect Bounds;
  std::string Caption;
};

class TDockLayout {
 public:
  TDockLayout();

  // --- what the windowing layer reports ----------------------------------------------
  void SetClientSize(int width, int height) {
    client_width_ = width;
    client_height_ = height;
  }
  int ClientWidth() const { return client_width_; }
  int ClientHeight() const { return client_height_; }
  void SetPaneBounds(TPane pane, TDockRect bounds);
  void SetPanelSize(TDockPanel panel, int size);
  void SetTabHostBounds(TDockRect bounds);
  void SetConjoinHostBounds(TDockRect bounds);
  // A floating placement from the settings file (before the layout is restored).
  void RestorePanePlacement(TPane pane, TDockRect bounds);

  // --- the state -------------------------------------------------------------------
  const TPaneState& Pane(TPane pane) const { return panes_[Index(pane)]; }
  const TDockPanelState& Panel(TDockPanel panel) const { return panels_[Index(panel)]; }
  const std::optional<TTabHostState>& TabHost() const { return tab_host_; }
  const std::optional<TConjoinHostState>& ConjoinHost() const { return conjoin_; }
  bool PanelOpen(TDockPanel panel) const { return Panel(panel).Size > 0; }
  // The visible dock clients of a panel.
  int VisibleClients(TDockPanel panel) const;
  bool ClientVisible(const TDockClient& client) const;

  // --- what accepts what (the dock-over handlers) ----------------------------------
  // The left and right panels take the three panes and the tab host; the bottom
  // panel takes the note pane only.
  static bool PanelAccepts(TDockPanel panel, const TDockClient& client);
  // A pane takes the two other panes while it is a dock site.
  bool PaneAccepts(TPane receiver, const TDockClient& dragged) const;
  // The tab host takes a pane unless a tab of the same caption exists.
  bool TabHostAccepts(const TDockClient& dragged) const;
  bool ConjoinHostAccepts(const TDockClient& dragged) const;
  // The rectangle shown while a drag is over a panel, in the main window's client
  // coordinates. panel_rect: the panel's rectangle there; toolbar_top: the tool
  // bar's height when it is visible and at the top, else 0.
  TDockRect PanelPreview(TDockPanel panel, TDockRect panel_rect, int toolbar_top) const;

  // --- drops ------------------------------------------------------------------------
  // The client dropped on a panel (LeftDockPanelDockDrop). With beside, it goes
  // next to that pane of the panel: before it for the left and top sides, after
  // it otherwise; else at the end.
  void DropOnPanel(TDockPanel panel, const TDockClient& client, std::optional<TPane> beside = std::nullopt,
                   TDockSide side = TDockSide::None);
  // A pane dropped on another at (x, y) of the receiver's client area of
  // width x height: a tab host for the centre, a side-by-side host for the rest,
  // or the receiver's panel when it is docked in one. Ignored unless
  // PaneAccepts.
  void DropOnPane(TPane receiver, TPane dropped, int x, int y, int width, int height);
  void DropOnTabHost(TPane pane);
  void DropOnConjoinHost(TPane pane, TDockSide side);
  // Dropped where nothing docks: it floats at bounds.
  void Float(const TDockClient& client, TDockRect bounds);

  // --- panels, closing and showing ------------------------------------------------
  void SetDockPanelOpen(TDockPanel panel, bool open, std::optional<TDockClient> show = std::nullopt);
  // The close button of a pane (FormClose): the pane is hidden, its host tidied.
  void ClosePane(TPane pane);
  // The close button of the tab host: it floats its last pane and goes, or hides.
  void CloseTabHost();
  void CloseConjoinHost();
  // The View commands.
  void ShowPane(TPane pane);
  // The side-by-side host's caption: "[caption] " for each visible pane but
  // left_out, in dock order. Stored in the host and returned.
  std::string RebuildHostCaption(std::optional<TPane> left_out);

  // --- whole layouts ----------------------------------------------------------------
  // The first run: the explorer docked left and shown, the note pane docked at the
  // bottom and shown, the viewer floating and hidden; each panel opened by its
  // drop rule.
  void ApplyFirstRun();
  // The same for one pane (which is taken out of wherever it was first).
  void ApplyFirstRunTo(TPane pane);
  // Everything floating and hidden, no host, panels closed (before a restore);
  // each pane at its restored placement, else beside the main window.
  void Clear();

  // Building blocks of the layout restore: docking without the drop rules.
  void PlaceInPanel(TPane pane, TDockPanel panel);
  // The tab host goes in at place at among the panel's clients (at the end when
  // at is past it).
  void PlaceTabHostInPanel(TDockPanel panel, size_t at = SIZE_MAX);
  void CreateTabHost(TDockRect bounds);
  void PlaceInTabHost(TPane pane);
  void CreateConjoinHost(TDockRect bounds);
  void PlaceInConjoinHost(TPane pane, TDockSide side);
  void SetTabHostVisible(bool visible);
  void SetConjoinHostVisible(bool visible);
  void SetPaneVisible(TPane pane, bool visible) { panes_[Index(pane)].Visible = visible; }
  void SetPanelSplitter(TDockPanel panel, int size);
  // A host left with fewer than two panes: its pane floats where the host is and
  // the host goes.
  void DissolveLoneHosts();
  bool Placed(TPane pane) const;
  // Where a floating pane or host goes when nothing says: beside the main window.
  // Panes that were never placed move there too.
  void SetDefaultOrigin(int x, int y);

 private:
  static size_t Index(TPane pane) { return static_cast<size_t>(pane); }
  static size_t Index(TDockPanel panel) { return static_cast<size_t>(panel); }
  TPaneState& State(TPane pane) { return panes_[Index(pane)]; }
  TDockPanelState& PanelState(TDockPanel panel) { return panels_[Index(panel)]; }

  // Where a client is going when it leaves its place.
  enum class TTarget { Elsewhere, TabHost, ConjoinHost };
  // Takes the client out of its panel or host, running that site's undock rules
  // (a host left with one pane is closed at once, floating that pane).
  void Undock(const TDockClient& client, TTarget target);
  void RemoveFromPanel(TDockPanel panel, const TDockClient& client);
  void DestroyTabHost();
  void DestroyConjoinHost();
  void RecordUndockSize(TPane pane);
  void FloatPaneAt(TPane pane, int left, int top);
  TDockRect DefaultRect(int width, int height) const;

  std::array<TPaneState, 3> panes_{};
  std::array<TDockPanelState, 3> panels_{};
  std::optional<TTabHostState> tab_host_;
  std::optional<TConjoinHostState> conjoin_;
  int client_width_ = 525, client_height_ = 376;
  int default_x_ = 0, default_y_ = 0;
  std::array<bool, 3> positioned_{};  // the pane's Bounds came from somewhere
};

// A rectangle moved (and shrunk if need be) so that it lies on one of screens
// when its top edge is not reachable on any of them now; unchanged otherwise.
// With no screens it is returned as it is.
TDockRect KeepOnScreens(TDockRect rect, const std::vector<TDockRect>& screens);

}  // namespace qb
