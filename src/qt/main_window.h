// TQtMainWindow: the "Quiverbox" window - menus, tool bar, the live clipboard in
// the centre, and the explorer, note and viewer panes around it.
//
// The window owns the program's TMainForm and forwards every command to it (or,
// for its own commands - exit, the panes, the tool bar, help - does the little
// that is purely about windows). Enablement, check marks, messages and every
// change to a cabinet come from the form; the window only draws them.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

#include "app/hotkey.h"
#include "app/main_form.h"
#include "app/menu_model.h"
#include "app/window_host.h"
#include "explorer/explorer_mouse.h"
#include "qt/explorer_tree.h"
#include "qt/qt_clipboard.h"
#include "qt/qt_interaction.h"
#include "qt/speedbar_widget.h"

class QDockWidget;
class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QStackedWidget;
class QToolBar;
class QTreeView;
class QWindow;
class QPushButton;

namespace qb::qt {

class THelpWindow;
class TMenuNodeAdapter;
class TClipboardView;
class TQtDocking;
class TExplorerView;
class TFinderPane;
class TSpeedbarSetupWindow;
class TQtTray;
class TGlobalHotkey;
class TPortalShortcuts;

class TQtMainWindow : public QMainWindow, public TMainWindowHost, public TExplorerTimer {
  Q_OBJECT
 public:
  // clipboard: the program's clipboard (the desktop's); may be null for tests,
  // which then get an in-memory one. ui: who answers the commands' questions; the
  // window's own Qt dialogs when null.
  TQtMainWindow(TPaths paths, IClipboard* clipboard = nullptr, IUserInteraction* ui = nullptr);
  ~TQtMainWindow() override;

  TMainForm& Form() { return *form_; }
  TQtInteraction& Interaction() { return interaction_; }
  IUserInteraction& UI() { return ui_; }
  // The action of a command (and tag, for the language items and Move); null when
  // none.
  QAction* Action(TCommand command, int tag = 0) const;
  QMenu* Menu(const std::string& name) const;
  QToolBar* ToolBar() const { return tool_bar_; }
  TQtSpeedBar* SpeedBar() const { return tool_bar_; }
  // The open "Customize Speedbar" window, or null.
  TSpeedbarSetupWindow* SpeedbarSetup() const;
  QDockWidget* ExplorerDock() const { return explorer_dock_; }
  QDockWidget* NoteDock() const { return note_dock_; }
  QDockWidget* ViewerDock() const { return viewer_dock_; }
  TExplorerView* ExplorerView() const { return explorer_view_; }
  // The explorer pane's search field, history and the finder behind them.
  TFinderPane* FinderPane() const { return finder_pane_; }
  TClipboardView* ClipboardView() const { return clipboard_view_; }
  // The docks of the panes and their hosts, drawn from the docking model.
  TQtDocking& Docking() const { return *docking_; }
  // The pictures the explorer shows (the glyph image list among them).
  const TGlyphImages& GlyphImages() const { return images_; }

  // Runs a command as its menu item does; the window's own commands included.
  // A command of the form (and Exit) waits while another command runs.
  void Run(TCommand command, int tag = 0);
  // Redraws the note and viewer panes from the form's state.
  void RefreshPanes();
  // Opens a cabinet as Open File Cabinet does once its dialog chose path.
  void OpenCabinet(const std::string& path);
  // The tray icon and its menu (the menu is there without a tray too).
  TQtTray& Tray() const { return *tray_; }
  // Brings the window to the front, from the tray too.
  void ShowInFront();
  // After the form's first show: shows the switches start-up set and takes the
  // global hotkey of the settings.
  void Started();
  // Takes the global hotkey the settings file names (setting: its text): through
  // the desktop's global shortcut service where there is one, else by an X11 key
  // grab. The service answers later; the status bar says how it went when the
  // key cannot be had, or when the service bound it.
  void TakeHotkey(const std::string& setting);
  // The global hotkey was pressed: the window comes to the front with the search
  // field focused. Pressed in the window itself (focused: the program's window
  // that had the keyboard, if any), it is the key of the window's menu command
  // that has it, when one has.
  void HotkeyPressed(QWindow* focused);
  TGlobalHotkey& Hotkey() const { return *hotkey_; }
  TPortalShortcuts& HotkeyService() const { return *hotkey_service_; }

  // TMainWindowHost: the windows' placements and the first-run layout.
  std::optional<TWindowPlacement> GetPlacement(TFormClass form) override;
  void SetPlacement(TFormClass form, const TWindowPlacement& placement) override;
  void ApplyFirstRunLayout(const TFirstRunLayout& layout) override;
  // The tool bar's layout, from and to the settings file.
  void RestoreToolbar(const TIniFile& settings) override;
  void SaveToolbar(TIniFile& settings) override;
  bool RestoreLayout(const std::string& layout_file) override;
  void SaveLayout(const std::string& layout_file) override;
  // TExplorerTimer: the explorer's one-shot Timer1.
  void Start(int interval_ms) override;
  void Stop() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void HotkeyServiceDone(int outcome);
  void ShowHotkeyMessage(const std::string& message);
  void BuildActions();
  void BuildMenus();
  void BuildToolBar();
  void BuildPanes();
  QAction* MakeAction(const TMenuEntry& entry);
  QMenu* LanguageMenu(TCommand command, bool popup, QWidget* parent);
  void MenuOpening(const std::string& name);
  void MenuClosed();
  // Every action enabled as the tool bar has it (later features excepted).
  void RestoreEnablement();
  void ExitMiClick();
  // Runs command through the form's queue, then shows what it left (check marks,
  // clipboard view, panes).
  void RunFormCommand(const std::string& name, std::function<void()> command);
  void AfterCommand();
  // Pointer work in the explorer is turned away while a command runs ("Busy...").
  bool RefusedWhileBusy();
  void ExplorerMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                         QPoint point);
  void ShowExplorerPopup(const TExplorerPopup& popup);
  // A press on node's row with button, as the explorer handles it (the history
  // selects items this way, the left button as the keys do); the right button
  // opens the pop-up at screen.
  void PressNode(TTreeNode* node, Qt::MouseButton button, QPoint point, QPoint screen);
  // The explorer's search field and history, beside the tree.
  void BuildFinder(TExplorerModel* model);
  QWidget* WidgetOf(TFormClass form) const;
  void AboutMiClick();
  void ModToolbarMiClick();
  THelpWindow& Help();
  void TrayChosen(const TTrayEntry& entry);

  TQtInteraction interaction_;
  IUserInteraction& ui_;
  std::unique_ptr<TQtClipboard> qt_clipboard_;
  std::unique_ptr<TMainForm> form_;
  TGlyphImages images_;
  std::map<std::pair<TCommand, int>, QAction*> actions_;
  std::map<std::string, QMenu*> menus_;
  TQtSpeedBar* tool_bar_ = nullptr;
  QPointer<TSpeedbarSetupWindow> speedbar_setup_;
  QDockWidget* explorer_dock_ = nullptr;
  QDockWidget* note_dock_ = nullptr;
  QDockWidget* viewer_dock_ = nullptr;
  TQtDocking* docking_ = nullptr;
  TExplorerView* explorer_view_ = nullptr;
  TFinderPane* finder_pane_ = nullptr;
  TClipboardView* clipboard_view_ = nullptr;
  QPlainTextEdit* note_memo_ = nullptr;
  QStackedWidget* viewer_stack_ = nullptr;
  QPlainTextEdit* viewer_memo_ = nullptr;
  QLabel* viewer_image_ = nullptr;
  QPushButton* viewer_banner_ = nullptr;
  THelpWindow* help_ = nullptr;
  TMenuNodeAdapter* reopen_adapter_ = nullptr;
  QTimer* timer1_ = nullptr;
  bool closing_in_command_ = false;  // the close comes from a command of the queue
  TQtTray* tray_ = nullptr;
  TGlobalHotkey* hotkey_ = nullptr;
  TPortalShortcuts* hotkey_service_ = nullptr;  // the desktop's global shortcut service
  QString hotkey_message_;                      // the status bar's last word on the hotkey
  THotkey hotkey_key_;                          // the one taken
  bool in_tray_ = false;                        // a close hid the window in the tray
  bool session_ending_ = false;                 // the desktop session ends: a close is a close
};

}  // namespace qb::qt
