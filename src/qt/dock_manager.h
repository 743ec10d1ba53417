// TQtDocking: the main window's docks drawn from the docking model (TDockLayout).
//
// The three panes are QDockWidgets of the main window. Their title bars are our
// own, so Qt never moves a dock by itself: a drag on a title bar (or on a tab of
// the tab host) is followed here, the model says what the point under the pointer
// accepts and which rectangle to show (a rubber band over the screen), and the
// drop goes to the model. Apply() then puts every widget where the model says:
//   - a pane docked in a panel: its dock in the matching Qt dock area, in the
//     panel's order (the bottom area lies under the centre only);
//   - a floating pane: its dock floating at the model's rectangle;
//   - the tab host "Collector": a dock of its own whose tab widget holds the
//     panes' contents (floating, or in the left or right area);
//   - the side-by-side host: a floating dock whose splitters hold the panes'
//     contents, each under a small title bar of its own.
// Before every change Capture() reads the widgets' geometry back into the model,
// so what the user resized or moved is what the model (and the layout file) keeps.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/dock_layout.h"
#include "platform/ini_file.h"

class QDockWidget;
class QMainWindow;
class QRubberBand;
class QSplitter;
class QTabWidget;
class QWidget;

namespace qb::qt {

class TDockTitleBar;

class TQtDocking : public QObject {
  Q_OBJECT
 public:
  // docks: the panes' docks in the order of TPane (explorer, viewer, note); each
  // holds its pane's content widget.
  TQtDocking(QMainWindow* window, std::array<QDockWidget*, 3> docks);
  ~TQtDocking() override;

  TDockLayout& Layout() { return layout_; }
  const TDockLayout& Layout() const { return layout_; }
  QDockWidget* PaneDock(TPane pane) const { return docks_[static_cast<size_t>(pane)]; }
  QWidget* PaneContent(TPane pane) const { return contents_[static_cast<size_t>(pane)]; }
  // The hosts' windows while they exist, else null.
  QDockWidget* TabHostDock() const { return tab_dock_; }
  QTabWidget* PageControl() const { return page_control_; }
  QDockWidget* ConjoinHostDock() const { return conjoin_dock_; }
  // The drop preview while a drag runs (null before the first drag).
  QRubberBand* Overlay() const { return overlay_; }

  // Called after every change the model made (the window updates the panes'
  // Visible flags and the View menu from it).
  std::function<void()> OnChanged;

  // --- start-up and shut-down ---------------------------------------------------------
  void ApplyFirstRun();
  // A floating placement read from the settings file.
  void RestorePanePlacement(TPane pane, QRect frame);
  // Restores the layout file; false when there is none.
  bool Restore(const std::string& layout_file, const TIniFile& settings);
  // The hosts' placements into settings (then written), and the layout file.
  void Save(const std::string& layout_file, const std::string& settings_file);
  // The pane's window rectangle while it floats; nothing while it is docked.
  std::optional<QRect> FloatingFrame(TPane pane) const;

  // --- the user's work -------------------------------------------------------------------
  void ShowPane(TPane pane);
  void ClosePane(TPane pane);
  void CloseTabHost();
  void CloseConjoinHost();

  // What a drag moves.
  enum class TDragKind { Pane, TabHost, ConjoinHost };
  struct TDragged {
    TDragKind Kind = TDragKind::Pane;
    TPane Pane = TPane::Explorer;
  };
  // A drag from grab (a screen point; the offset into the dragged window is kept).
  void BeginDrag(TDragged dragged, QPoint grab);
  // The pointer at a screen point: the preview follows.
  void DragMove(QPoint global);
  // The drop at a screen point; the widgets follow at once.
  void Drop(QPoint global);
  void CancelDrag();
  bool Dragging() const { return dragging_.has_value(); }

  // Puts the widgets where the model says.
  void Apply();
  // Reads the widgets' geometry back into the model.
  void Capture();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TTarget {
    enum class Kind { None, Panel, Pane, TabHost, ConjoinHost } What = Kind::None;
    TDockPanel Panel = TDockPanel::Left;
    TPane Pane = TPane::Explorer;
    QPoint Local;  // in the target pane's (or host's) client area
    QSize Size;
    TDockSide Side = TDockSide::None;
    bool Accepts = false;
    QRect Preview;  // screen rectangle
  };
  TTarget TargetAt(QPoint global) const;
  std::optional<TDockPanel> PanelOfArea(QDockWidget* dock) const;
  QRect PanelRectInClient(TDockPanel panel) const;
  QPoint ClientOrigin() const;
  QRect FloatOutline(QPoint global) const;
  TDockClient DraggedClient() const;
  bool DraggedIs(TPane pane) const;

  void EnsureTabHost();
  void EnsureConjoinHost();
  void DropTabHost();
  void DropConjoinHost();
  void RebuildConjoin();
  void PlaceContent(TPane pane, QWidget* parent_dock_or_null);
  void ApplyPanels();
  void ApplyPanelSizes();
  void KeepWindowsOnScreens();
  TDockTitleBar* MakeTitleBar(QWidget* parent, const QString& caption, TDragged dragged,
                              std::function<void()> close);
  void Changed();

  QMainWindow* window_;
  TDockLayout layout_;
  std::array<QDockWidget*, 3> docks_;
  std::array<QWidget*, 3> contents_;
  QDockWidget* tab_dock_ = nullptr;
  QTabWidget* page_control_ = nullptr;
  QDockWidget* conjoin_dock_ = nullptr;
  QWidget* conjoin_body_ = nullptr;
  std::vector<TConjoinClient> conjoin_applied_;
  std::array<std::vector<QDockWidget*>, 3> panels_applied_;
  QRubberBand* overlay_ = nullptr;
  std::optional<TDragged> dragging_;
  QPoint grab_offset_;
  // A press on a tab of the tab host, which may become a drag.
  std::optional<QPoint> tab_press_;
  std::optional<TPane> tab_pressed_;
  bool applying_ = false;
};

}  // namespace qb::qt
