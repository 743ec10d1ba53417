#include "qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "qt/about_dialog.h"
#include "qt/clipboard_view.h"
#include "qt/dock_manager.h"
#include "qt/explorer_view.h"
#include "qt/finder_pane.h"
#include "qt/global_hotkey.h"
#include "qt/glyph_pictures.h"
#include "qt/help_window.h"
#include "qt/menu_node_adapter.h"
#include "qt/portal_shortcuts.h"
#include "qt/qt_text.h"
#include "qt/speedbar_setup.h"
#include "qt/tray_icon.h"

namespace qb::qt {

namespace {

constexpr int kDesignWidth = 525, kDesignHeight = 376;
constexpr int kMinWidth = 400, kMinHeight = 250;
constexpr int kHowToContext = 40;
// Shown while commands wait for the one that runs, and when pointer work in the
// explorer is turned away meanwhile.
constexpr const char* kBusyText = "Busy...";

// Hint texts keep their line breaks.
QString HintText(const std::string& text) {
  QString hint = FromUtf8(text);
  hint.replace("\r\n", "\n");
  return hint;
}

TMouseButton ButtonOf(Qt::MouseButton button) {
  return button == Qt::RightButton    ? TMouseButton::Right
         : button == Qt::MiddleButton ? TMouseButton::Middle
                                      : TMouseButton::Left;
}

TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  TShiftState state = 0;
  if (modifiers & Qt::ShiftModifier) state |= ssShift;
  if (modifiers & Qt::AltModifier) state |= ssAlt;
  if (modifiers & Qt::ControlModifier) state |= ssCtrl;
  if (buttons & Qt::LeftButton) state |= ssLeft;
  if (buttons & Qt::RightButton) state |= ssRight;
  if (buttons & Qt::MiddleButton) state |= ssMiddle;
  return state;
}

TPane PaneOf(TFormClass form) {
  return form == TFormClass::ViewerForm ? TPane::Viewer
         : form == TFormClass::NoteForm ? TPane::Note
                                        : TPane::Explorer;
}

QIcon ImageIcon(int index) {
  return index < 0 ? QIcon() : QIcon(TGlyphImages::ImagePath(index));
}

}  // namespace

TQtMainWindow::TQtMainWindow(TPaths paths, IClipboard* clipboard, IUserInteraction* ui)
    : interaction_(this), ui_(ui ? *ui : interaction_) {
  setWindowTitle(FromUtf8(main_form::kCaption));
  setWindowIcon(QIcon(":/app/quiverbox-256.png"));
  resize(kDesignWidth, kDesignHeight);
  setMinimumSize(kMinWidth, kMinHeight);
  // Without a clipboard of the desktop the form keeps an in-memory one of its own.
  form_ = clipboard ? std::make_unique<TMainForm>(ui_, std::move(paths), *clipboard)
                    : std::make_unique<TMainForm>(ui_, std::move(paths));
  form_->SetHost(this);
  // The icon the desktop shows for the program and its cabinets.
  for (int size : {16, 32, 48, 64, 128, 256}) {
    QFile icon(QString(":/app/quiverbox-%1.png").arg(size));
    if (icon.open(QIODevice::ReadOnly)) form_->ProgramIcons().push_back({size, icon.readAll().toStdString()});
  }
  form_->SetMessagePump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  // User glyphs: pictures in any format Qt reads; the glyph image list follows the
  // library (the explorer's rows and the legend's).
  form_->UserGlyphs().SetPictureReader(ReadGlyphPicture);
  form_->UserGlyphs().OnGlyphsChanged = [this](const std::vector<glyphs::TUserGlyph>& glyphs) {
    std::vector<QImage> images = UserGlyphImages(glyphs);
    images_.SetUserGlyphs(images);
    interaction_.SetUserGlyphImages(std::move(images));
    if (explorer_view_) explorer_view_->viewport()->update();
  };

  clipboard_view_ = new TClipboardView(form_->ClipboardCommands().ClipboardViewer1(), this);
  setCentralWidget(clipboard_view_);

  BuildActions();
  BuildMenus();
  BuildToolBar();
  BuildPanes();
  statusBar();
  tray_ = new TQtTray(
      this, [this] { return form_->TrayMenu(finder_pane_->Finder().CurrentIndex().get()); },
      [this](const TTrayEntry& entry) { TrayChosen(entry); }, [this] { ShowInFront(); });
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { session_ending_ = true; });
  hotkey_ = new TGlobalHotkey(this);
  hotkey_->Pressed = [this](QWindow* focused) { HotkeyPressed(focused); };
  hotkey_->Regrabbed = [this](const std::string& why) {
    ShowHotkeyMessage(why.empty() ? std::string() : HotkeyUnavailableText(hotkey_key_, why));
  };
  hotkey_service_ = new TPortalShortcuts(this);
  hotkey_service_->Done = [this](TPortalShortcuts::TOutcome outcome) {
    HotkeyServiceDone(static_cast<int>(outcome));
  };
  hotkey_service_->AwaitingUser = [this] { ShowHotkeyMessage(HotkeyAwaitingServiceText(hotkey_key_)); };
  // The service says nothing of where the keyboard was: the window knows whether it had it.
  hotkey_service_->Activated = [this] {
    QWindow* focused = QGuiApplication::focusWindow();
    const bool has_keyboard =
        focused && focused->isVisible() && QGuiApplication::applicationState() == Qt::ApplicationActive;
    HotkeyPressed(has_keyboard ? focused : nullptr);
  };

  // The viewer redraws after every change of the clipboard, once the form has
  // handled it (and perhaps saved it).
  TClipboardViewer& viewer = form_->ClipboardCommands().ClipboardViewer1();
  viewer.OnRebuilt = [this] {
    clipboard_view_->Refresh();
    RefreshPanes();
  };
  viewer.JoinChain();
  clipboard_view_->Refresh();

  // The text fields keep their own editing keys (Ctrl+A in the note pane selects
  // its text; it does not add a new text item).
  for (QPlainTextEdit* field : findChildren<QPlainTextEdit*>()) field->installEventFilter(this);

  // Commands wait while another runs; the status bar says so. A store that met a
  // cabinet held by another program is tried again from the event loop.
  TOperationQueue& operations = form_->Operations();
  operations.OnWaitingChanged = [this](size_t waiting) {
    if (waiting > 0)
      statusBar()->showMessage(FromUtf8(kBusyText));
    else if (statusBar()->currentMessage() == FromUtf8(kBusyText))
      statusBar()->clearMessage();
  };
  operations.BetweenOperations = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
  // A save (AutoSave too) or a command changed the cabinet: the search and history follow.
  operations.OnIdle = [this] { finder_pane_->CabinetChanged(form_->Zip1().ZipName()); };
  operations.ScheduleRetry = [this](int delay_ms, std::function<void()> resume) {
    QTimer::singleShot(delay_ms, this, std::move(resume));
  };
}

TQtMainWindow::~TQtMainWindow() {
  delete reopen_adapter_;  // it observes the form's Re-Open item
  form_->ClipboardCommands().ClipboardViewer1().LeaveChain();
  form_->Operations().OnWaitingChanged = nullptr;
  form_->Operations().BetweenOperations = nullptr;
  form_->Operations().ScheduleRetry = nullptr;
  form_->Operations().OnIdle = nullptr;
  docking_->OnChanged = nullptr;
  // The base class hides the child widgets after the members are gone; their
  // signals (a dock's visibility, a menu closing) must not reach the form then.
  for (QObject* child : findChildren<QObject*>()) child->blockSignals(true);
  form_->DockableForm().SetTimer1(nullptr);
  delete speedbar_setup_;
  form_->SpeedBar1().OnChange = nullptr;
  // The tree model observes the form's tree: it goes before the form does.
  if (TExplorerModel* model = explorer_view_->ExplorerModel()) {
    explorer_view_->SetExplorerModel(nullptr);
    delete model;
  }
  delete help_;
}

QAction* TQtMainWindow::Action(TCommand command, int tag) const {
  auto it = actions_.find({command, tag});
  return it == actions_.end() ? nullptr : it->second;
}

QMenu* TQtMainWindow::Menu(const std::string& name) const {
  auto it = menus_.find(name);
  return it == menus_.end() ? nullptr : it->second;
}

QAction* TQtMainWindow::MakeAction(const TMenuEntry& entry) {
  const std::pair<TCommand, int> key{entry.Command, entry.Tag};
  if (auto it = actions_.find(key); it != actions_.end()) return it->second;
  auto* action = new QAction(ImageIcon(entry.Image), FromUtf8(entry.Caption), this);
  action->setObjectName(FromUtf8(entry.Name));
  if (!entry.ShortCut.empty()) action->setShortcut(QKeySequence(FromUtf8(entry.ShortCut)));
  action->setCheckable(entry.CheckItem);
  action->setEnabled(CommandAvailable(entry.Command));
  const TCommand command = entry.Command;
  const int tag = entry.Tag;
  connect(action, &QAction::triggered, this, [this, command, tag] { Run(command, tag); });
  actions_[key] = action;
  return action;
}

void TQtMainWindow::BuildActions() {
  for (const TTopMenu& top : MainMenu())
    for (const TMenuEntry& entry : top.Items)
      if (!entry.IsSeparator() && entry.Command != TCommand::None && entry.SubMenu.empty()) MakeAction(entry);
  for (TCommand command : {TCommand::EditTextItemMiClick, TCommand::EditClipboardMiClick})
    for (bool popup : {false, true})
      for (const TMenuEntry& entry : LanguageItems(command, popup)) MakeAction(entry);
  // Tool bar hints are the actions' tool tips and status texts.
  for (const TSpeedItem& item : SpeedItems()) {
    QAction* action = Action(item.Command, item.Tag);
    if (!action) continue;
    action->setToolTip(HintText(item.ShortHint()));
    action->setStatusTip(HintText(item.LongHint()));
  }
}

QMenu* TQtMainWindow::LanguageMenu(TCommand command, bool popup, QWidget* parent) {
  auto* menu = new QMenu(parent);
  for (const TMenuEntry& entry : LanguageItems(command, popup)) {
    // Each menu item is its own action (captions differ), running the shared command.
    auto* action = menu->addAction(FromUtf8(entry.Caption));
    action->setObjectName(FromUtf8(entry.Name));
    const int tag = entry.Tag;
    connect(action, &QAction::triggered, this, [this, command, tag] { Run(command, tag); });
  }
  return menu;
}

void TQtMainWindow::BuildMenus() {
  for (const TTopMenu& top : MainMenu()) {
    QMenu* menu = menuBar()->addMenu(FromUtf8(top.Caption));
    menu->setObjectName(FromUtf8(top.Name));
    menus_[top.Name] = menu;
    for (const TMenuEntry& entry : top.Items) {
      if (entry.IsSeparator()) {
        menu->addSeparator();
      } else if (!entry.SubMenu.empty()) {
        QMenu* sub = LanguageMenu(entry.Command, false, menu);
        sub->setTitle(FromUtf8(entry.Caption));
        sub->setIcon(ImageIcon(entry.Image));
        sub->setObjectName(FromUtf8(entry.Name));
        menu->addMenu(sub);
        menus_[entry.Name] = sub;
      } else if (entry.Command == TCommand::None) {
        // Re-Open: its entries are the recent list's.
        QMenu* sub = menu->addMenu(FromUtf8(entry.Caption));
        sub->setObjectName(FromUtf8(entry.Name));
        menus_[entry.Name] = sub;
        if (entry.Name == "ReOpenMi")
          reopen_adapter_ = new TMenuNodeAdapter(form_->ReOpenMi(), sub, [this](TMenuNode& item) {
            const std::string path = TRecentFiles::EntryPath(item);
            RunFormCommand("RecentFiles1Click", [this, path] { form_->RecentFiles1().ClickFile(path); });
          });
        else
          sub->setEnabled(false);
      } else {
        menu->addAction(MakeAction(entry));
      }
    }
    const std::string name = top.Name;
    connect(menu, &QMenu::aboutToShow, this, [this, name] { MenuOpening(name); });
    connect(menu, &QMenu::aboutToHide, this, [this] { MenuClosed(); });
  }
}

void TQtMainWindow::BuildToolBar() {
  tool_bar_ = new TQtSpeedBar(
      form_->SpeedBar1(),
      [this](const TSpeedItem& item) -> QAction* {
        if (item.Command != TCommand::ToolbarMiClick) return Action(item.Command, item.Tag);
        // Hide Toolbar is seen only while the bar shows: the menu's check mark
        // would draw it pressed for good.
        auto* hide = new QAction(ImageIcon(item.Image), FromUtf8(item.Caption), this);
        hide->setToolTip(HintText(item.ShortHint()));
        hide->setStatusTip(HintText(item.LongHint()));
        connect(hide, &QAction::triggered, this, [this] { Run(TCommand::ToolbarMiClick); });
        return hide;
      },
      [this](const TSpeedItem& item, QWidget* parent) {
        return LanguageMenu(item.Command == TCommand::PopupMenu2 ? TCommand::EditClipboardMiClick
                                                                 : TCommand::EditTextItemMiClick,
                            true, parent);
      },
      this);
  addToolBar(Qt::TopToolBarArea, tool_bar_);
  form_->SpeedBar1().OnChange = [this] {
    tool_bar_->Rebuild();
    if (speedbar_setup_) speedbar_setup_->Refresh();
  };
}

void TQtMainWindow::BuildPanes() {
  setDockOptions(QMainWindow::AnimatedDocks);
  auto make_dock = [this](const std::string& caption, const char* name, QWidget* content) {
    auto* dock = new QDockWidget(FromUtf8(caption), this);
    dock->setObjectName(name);
    dock->setWidget(content);
    return dock;
  };

  // The explorer window "Filing Cabinet".
  explorer_view_ = new TExplorerView;
  auto* model = new TExplorerModel(form_->DockableForm().TreeView1(), images_, explorer_view_);
  explorer_view_->SetExplorerModel(model);
  TTreeView& tree = form_->DockableForm().TreeView1();
  model->OnReset = [this, &tree, model] {
    if (finder_pane_ && finder_pane_->Finder().Visible() && !model->Filtered()) {
      // A rebuilt tree: the search shows its results on the new nodes.
      finder_pane_->Finder().TreeChanged();
      model->SetFilter(finder_pane_->Finder().Visible());
      return;
    }
    if (model->Filtered())
      explorer_view_->ShowAllExpanded(tree);
    else
      explorer_view_->SyncFromTree(tree);
  };
  model->OnExpandedChanged = [this, model](TTreeNode* node, bool expanded) {
    QModelIndex index = model->IndexOf(node);
    if (explorer_view_->isExpanded(index) != expanded) explorer_view_->setExpanded(index, expanded);
  };
  model->OnSelectionChanged = [this, model](TTreeNode* node) {
    QPointer<TExplorerView> view = explorer_view_;
    QTimer::singleShot(0, this, [view, model, node, this] {
      if (!view) return;
      TTreeNode* selected = form_->DockableForm().TreeView1().Selected();
      (void)node;
      if (selected)
        view->selectionModel()->setCurrentIndex(model->IndexOf(selected),
                                                QItemSelectionModel::ClearAndSelect);
      else
        view->selectionModel()->clearSelection();
    });
  };
  // While a search filters the tree, opening and closing its drawers leaves their
  // own flags alone: the tree comes back as it was when the search ends.
  explorer_view_->OnExpandedByUser = [model](TTreeNode* node, bool expanded) {
    if (node && !model->Filtered()) node->SetExpanded(expanded);
  };
  // The mouse goes to the explorer's handlers; they decide selection, note,
  // pop-up and drag.
  timer1_ = new QTimer(this);
  timer1_->setSingleShot(true);
  connect(timer1_, &QTimer::timeout, this, [this] { form_->DockableForm().Timer1Timer(); });
  form_->DockableForm().SetTimer1(this);
  explorer_view_->OnMouseDown = [this](Qt::MouseButton button, Qt::MouseButtons buttons,
                                       Qt::KeyboardModifiers modifiers, QPoint point) {
    ExplorerMouseDown(button, buttons, modifiers, point);
  };
  explorer_view_->OnMouseMove = [this](Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                       QPoint point) {
    // No drag begins while a command runs: its drop would have to wait for it.
    if (form_->Operations().Busy()) return false;
    return form_->DockableForm().TreeView1MouseMove(ShiftStateOf(buttons, modifiers), point.x(), point.y());
  };
  explorer_view_->OnMouseUp = [this](Qt::MouseButton button, Qt::MouseButtons buttons,
                                     Qt::KeyboardModifiers modifiers, QPoint point) {
    if (form_->Operations().Busy()) return;
    form_->DockableForm().TreeView1MouseUp(ButtonOf(button), ShiftStateOf(buttons, modifiers), point.x(),
                                           point.y());
  };
  explorer_view_->OnDrop = [this](TTreeNode* target) {
    if (RefusedWhileBusy()) return;
    RunFormCommand("TreeView1DragDrop", [this, target] { form_->DockableForm().TreeView1DragDrop(target); });
  };
  explorer_view_->OnDragEnded = [this] { form_->DockableForm().TreeView1EndDrag(); };
  // Moving along the tree with the keys selects as a click on the row would, so
  // the commands always act on the row the user sees selected.
  // Moving along the tree with the keys selects as a click on the row would.
  explorer_view_->OnKeyboardMove = [this, model](TTreeNode* node) {
    if (node && RefusedWhileBusy()) node = nullptr;  // the view goes back to the tree's selection
    if (node) {
      const QPoint point = explorer_view_->visualRect(model->IndexOf(node)).center();
      RunFormCommand("TreeView1KeyMove", [this, node, point] {
        form_->DockableForm().TreeView1KeyMove(node, point.x(), point.y());
      });
    }
    explorer_view_->SyncFromTree(form_->DockableForm().TreeView1());
  };

  BuildFinder(model);
  explorer_dock_ = make_dock("Filing Cabinet", "ExplorerDock", finder_pane_);
  addDockWidget(Qt::LeftDockWidgetArea, explorer_dock_);

  // The note pane: what the user types there is the note text Add Note stores.
  note_memo_ = new QPlainTextEdit;
  note_memo_->setObjectName("NoteMemo1");
  connect(note_memo_, &QPlainTextEdit::textChanged, this,
          [this] { form_->NoteForm().SetMemo1Text(note_memo_->toPlainText().toStdString()); });
  note_dock_ = make_dock(form_->NoteForm().Caption(), "NoteDock", note_memo_);
  addDockWidget(Qt::BottomDockWidgetArea, note_dock_);

  // The viewer pane: a banner button over the text or the picture.
  auto* viewer = new QWidget;
  auto* layout = new QVBoxLayout(viewer);
  layout->setContentsMargins(0, 0, 0, 0);
  viewer_banner_ = new QPushButton(QIcon(":/images/29.png"), "Viewer", viewer);
  viewer_banner_->setFlat(true);
  viewer_banner_->setFocusPolicy(Qt::NoFocus);
  viewer_stack_ = new QStackedWidget(viewer);
  viewer_memo_ = new QPlainTextEdit;
  viewer_memo_->setReadOnly(true);
  auto* image_area = new QScrollArea;
  viewer_image_ = new QLabel;
  viewer_image_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  image_area->setWidget(viewer_image_);
  viewer_stack_->addWidget(viewer_memo_);
  viewer_stack_->addWidget(image_area);
  layout->addWidget(viewer_banner_);
  layout->addWidget(viewer_stack_);
  viewer_dock_ = make_dock(form_->ViewerForm().Caption(), "ViewerDock", viewer);
  addDockWidget(Qt::RightDockWidgetArea, viewer_dock_);
  viewer_dock_->hide();
  // Where the panes are is the docking model's to say; the panes' Visible flags
  // (which the View menu reads) follow it.
  docking_ = new TQtDocking(this, {explorer_dock_, viewer_dock_, note_dock_});
  docking_->OnChanged = [this] {
    const TDockLayout& docked = docking_->Layout();
    form_->DockableForm().SetVisible(docked.Pane(TPane::Explorer).Visible);
    form_->ViewerForm().SetVisible(docked.Pane(TPane::Viewer).Visible);
    form_->NoteForm().SetVisible(docked.Pane(TPane::Note).Visible);
  };
  docking_->ApplyFirstRun();
}

void TQtMainWindow::ExplorerMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                                      Qt::KeyboardModifiers modifiers, QPoint point) {
  TTreeHit hit;
  hit.Node = explorer_view_->NodeAt(point);
  static constexpr THitArea kAreas[] = {THitArea::Nowhere, THitArea::Icon, THitArea::StateIcon,
                                        THitArea::Label, THitArea::Row};
  hit.Area = kAreas[explorer_view_->HitArea(point)];
  const QPoint screen = explorer_view_->viewport()->mapToGlobal(point);
  hit.ScreenX = screen.x();
  hit.ScreenY = screen.y();
  if (RefusedWhileBusy()) return;
  const TMouseButton mouse_button = ButtonOf(button);
  const TShiftState shift = ShiftStateOf(buttons, modifiers);
  RunFormCommand("TreeView1MouseDown", [this, mouse_button, shift, point, hit] {
    std::optional<TExplorerPopup> popup =
        form_->DockableForm().TreeView1MouseDown(mouse_button, shift, point.x(), point.y(), hit);
    // The pop-up's own loop runs once this command has ended, so the clipboard
    // and the commands it offers are not held up while it is open.
    if (popup) QTimer::singleShot(0, this, [this, popup = *popup] { ShowExplorerPopup(popup); });
  });
}

void TQtMainWindow::PressNode(TTreeNode* node, Qt::MouseButton button, QPoint point, QPoint screen) {
  TDockableForm& explorer = form_->DockableForm();
  if (button != Qt::RightButton) {
    // As the keys select: a press on the row's caption, not held up by the
    // mouse-down lock.
    RunFormCommand("TreeView1KeyMove",
                   [&explorer, node, point] { explorer.TreeView1KeyMove(node, point.x(), point.y()); });
    return;
  }
  explorer.Timer1Timer();
  TTreeHit hit;
  hit.Node = node;  // as a right press on the row's caption
  hit.Area = THitArea::Label;
  hit.ScreenX = screen.x();
  hit.ScreenY = screen.y();
  RunFormCommand("TreeView1MouseDown", [this, &explorer, point, hit] {
    std::optional<TExplorerPopup> popup =
        explorer.TreeView1MouseDown(TMouseButton::Right, ssRight, point.x(), point.y(), hit);
    explorer.TreeView1MouseUp(TMouseButton::Right, 0, point.x(), point.y());
    explorer.TreeView1EndDrag();
    // The pop-up's own loop runs once this command has ended.
    if (popup) QTimer::singleShot(0, this, [this, popup = *popup] { ShowExplorerPopup(popup); });
  });
}

void TQtMainWindow::BuildFinder(TExplorerModel* model) {
  finder_pane_ = new TFinderPane(form_->DockableForm().TreeView1(), explorer_view_, form_->Zip1());
  model->ToolTip = [this](const TTreeNode* node) { return finder_pane_->ToolTipOf(node); };
  finder_pane_->OnResults = [this, model] { model->SetFilter(finder_pane_->Finder().Visible()); };
  finder_pane_->Busy = [this] { return form_->Operations().Busy(); };
  finder_pane_->ShowStatus = [this](const QString& text) {
    if (text.isEmpty())
      statusBar()->clearMessage();
    else
      statusBar()->showMessage(text);
  };
  finder_pane_->PressNode = [this](TTreeNode* node, Qt::MouseButton button, QPoint screen) {
    if (!RefusedWhileBusy()) PressNode(node, button, QPoint(), screen);
  };
  finder_pane_->KeyCommand = [this](TFinderPane::TKey key) {
    Run(key == TFinderPane::TKey::Load     ? TCommand::LoadSelectedMiClick
        : key == TFinderPane::TKey::Delete ? TCommand::DeleteMiClick
                                           : TCommand::RenameMiClick);
  };
  // Ctrl+F: the search field, the explorer shown first when it is closed.
  auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
  find->setObjectName("FindShortcut");
  connect(find, &QShortcut::activated, this, [this] {
    docking_->ShowPane(TPane::Explorer);
    finder_pane_->FocusSearch();
  });
}

bool TQtMainWindow::RefusedWhileBusy() {
  if (!form_->Operations().Busy()) return false;
  statusBar()->showMessage(FromUtf8(kBusyText), 2000);
  return true;
}

void TQtMainWindow::RunFormCommand(const std::string& name, std::function<void()> command) {
  form_->Execute(name, [this, command = std::move(command)] {
    // The window shows what the command left, however it ended.
    struct TAfter {
      TQtMainWindow& window;
      ~TAfter() { window.AfterCommand(); }
    } after{*this};
    command();
  });
}

void TQtMainWindow::AfterCommand() {
  TClipboardCommands& c = form_->ClipboardCommands();
  if (QAction* a = Action(TCommand::AutoSaveMiClick)) a->setChecked(c.AutoSave());
  if (QAction* a = Action(TCommand::AutoLoad1Click)) a->setChecked(c.AutoLoad());
  if (QAction* a = Action(TCommand::ViewItemsMiClick)) a->setChecked(c.ViewItems());
  if (QAction* a = Action(TCommand::CurrentDrawerMiClick)) a->setChecked(c.CurrentDrawer());
  if (QAction* a = Action(TCommand::ToolbarMiClick)) a->setChecked(tool_bar_->isVisible());
  clipboard_view_->Refresh();
  RefreshPanes();
  finder_pane_->CabinetChanged(form_->Zip1().ZipName());
}

void TQtMainWindow::ShowExplorerPopup(const TExplorerPopup& popup) {
  QMenu menu(this);
  for (const TPopupItem& item : popup.Items) {
    if (!item.Visible) continue;
    if (item.Info.IsSeparator()) {
      menu.addSeparator();
      continue;
    }
    const QString caption = FromUtf8(item.Info.Caption);
    if (item.Info.Command == TExplorerCommand::EditAs) {
      QMenu* sub = menu.addMenu(ImageIcon(item.Info.Image), caption);
      for (const TPopupItemInfo& info : popup.EditAsItems) {
        const int tag = info.Tag;
        sub->addAction(FromUtf8(info.Caption), this,
                       [this, tag] { Run(TCommand::EditTextItemMiClick, tag); });
      }
      continue;
    }
    QAction* action = menu.addAction(ImageIcon(item.Info.Image), caption);
    action->setCheckable(item.Info.Command == TExplorerCommand::ViewItems);
    action->setChecked(item.Checked);
    action->setEnabled(TMainForm::ExplorerCommandAvailable(item.Info.Command));
    const TExplorerCommand command = item.Info.Command;
    const int tag = item.Info.Tag;
    connect(action, &QAction::triggered, this, [this, command, tag] {
      RunFormCommand("Explorer pop-up", [this, command, tag] { form_->RunExplorerCommand(command, tag); });
    });
  }
  menu.exec(QPoint(popup.ScreenX, popup.ScreenY));
}

void TQtMainWindow::Start(int interval_ms) {
  timer1_->start(interval_ms);
}
void TQtMainWindow::Stop() {
  timer1_->stop();
}

QWidget* TQtMainWindow::WidgetOf(TFormClass form) const {
  switch (form) {
    case TFormClass::MainForm:
      return const_cast<TQtMainWindow*>(this);
    case TFormClass::DockableForm:
      return explorer_dock_;
    case TFormClass::ViewerForm:
      return viewer_dock_;
    case TFormClass::NoteForm:
      return note_dock_;
  }
  return nullptr;
}

std::optional<TWindowPlacement> TQtMainWindow::GetPlacement(TFormClass form) {
  QWidget* widget = WidgetOf(form);
  if (!widget) return std::nullopt;
  QRect frame = widget->isMaximized() ? widget->normalGeometry() : widget->geometry();
  if (form != TFormClass::MainForm) {
    // A pane's placement is where it floats; a docked pane keeps the stored one.
    docking_->Capture();
    const std::optional<QRect> floating = docking_->FloatingFrame(PaneOf(form));
    if (!floating) return std::nullopt;
    frame = *floating;
  }
  TWindowPlacement p;
  p.Left = frame.left();
  p.Top = frame.top();
  p.Right = frame.left() + frame.width();
  p.Bottom = frame.top() + frame.height();
  p.ShowCmd = widget->isMaximized() ? kSwShowMaximized : kSwShowNormal;
  p.PixelsPerInch = widget->logicalDpiX() > 0 ? widget->logicalDpiX() : kDefaultPixelsPerInch;
  return p;
}

void TQtMainWindow::SetPlacement(TFormClass form, const TWindowPlacement& placement) {
  QWidget* widget = WidgetOf(form);
  if (!widget || placement.Width() <= 0 || placement.Height() <= 0) return;
  if (form != TFormClass::MainForm) {
    // Used where the layout leaves the pane floating.
    docking_->RestorePanePlacement(
        PaneOf(form), QRect(placement.Left, placement.Top, placement.Width(), placement.Height()));
    return;
  }
  widget->setGeometry(placement.Left, placement.Top, placement.Width(), placement.Height());
  if (form == TFormClass::MainForm && placement.ShowCmd == kSwShowMaximized)
    setWindowState(Qt::WindowMaximized);
}

void TQtMainWindow::ApplyFirstRunLayout(const TFirstRunLayout& /*layout*/) {
  docking_->ApplyFirstRun();
}

bool TQtMainWindow::RestoreLayout(const std::string& layout_file) {
  return docking_->Restore(layout_file, TIniFile(form_->Paths().SettingsFile()));
}

void TQtMainWindow::SaveLayout(const std::string& layout_file) {
  docking_->Save(layout_file, form_->Paths().SettingsFile());
}

void TQtMainWindow::RefreshPanes() {
  // The note pane is only written when the form's note differs from what it shows,
  // so the caret and the undo history of a note being typed stay put.
  QString note = FromUtf8(form_->NoteForm().Memo1Text());
  note.replace("\r\n", "\n");
  note.replace('\r', '\n');
  if (note_memo_->toPlainText() != note) note_memo_->setPlainText(note);
  const TViewerForm& viewer = form_->ViewerForm();
  if (viewer.Image1Visible()) {
    QString placeholder;
    QPixmap pixmap = PixmapFromFileImage(
        std::vector<uint8_t>(viewer.Picture().begin(), viewer.Picture().end()), &placeholder);
    if (pixmap.isNull()) {
      viewer_memo_->setPlainText(placeholder);
      viewer_stack_->setCurrentIndex(0);
    } else {
      viewer_image_->setPixmap(pixmap);
      viewer_image_->resize(pixmap.size());
      viewer_stack_->setCurrentIndex(1);
    }
  } else {
    viewer_memo_->setPlainText(FromUtf8(viewer.Memo1Text()));
    viewer_stack_->setCurrentIndex(0);
  }
}

void TQtMainWindow::MenuOpening(const std::string& name) {
  auto set = [this](TCommand command, bool enabled, int tag = 0) {
    if (QAction* a = Action(command, tag)) a->setEnabled(enabled && CommandAvailable(command));
  };
  auto check = [this](TCommand command, bool checked) {
    if (QAction* a = Action(command)) a->setChecked(checked);
  };
  // What another menu disabled is enabled again first. Enablement reads the
  // cabinet; while a command runs it is left at that (every command checks its own
  // preconditions when it runs).
  RestoreEnablement();
  if (form_->Operations().Busy()) return;
  if (name == "EditMi") {
    TEditMenuState state;
    RunCommand(ui_, [&] { state = form_->EditMiClick(); });
    set(TCommand::AddNoteMiClick, state.AddNoteMi);
    set(TCommand::ChangeGlyphMiClick, state.ChangeGlyphMi);
    set(TCommand::RenameMiClick, state.RenameMi);
    set(TCommand::DeleteMiClick, state.DeleteMi);
    set(TCommand::CopyMiClick, state.CopyMi, 0);
    set(TCommand::CopyMiClick, state.MoveMi, 1);
    set(TCommand::DeleteNoteMiClick, state.DeleteNoteMi);
    if (QMenu* sub = Menu("EditTextItemMi")) sub->setEnabled(state.EditTextItemMi);
  } else if (name == "ClipboardMi") {
    TClipboardMenuState state;
    RunCommand(ui_, [&] { state = form_->ClipboardMiClick(); });
    check(TCommand::AutoSaveMiClick, state.AutoSaveMiChecked);
    check(TCommand::ViewItemsMiClick, state.ViewItemsMiChecked);
    check(TCommand::AutoLoad1Click, state.AutoLoad1Checked);
    check(TCommand::CurrentDrawerMiClick, state.CurrentDrawerMiChecked);
    set(TCommand::SaveToFCMiClick, state.SaveToFCMiEnabled);
    set(TCommand::LoadSelectedMiClick, state.LoadSelectedMiEnabled);
    if (QMenu* sub = Menu("EditClipboardMi")) sub->setEnabled(state.EditClipboardMiEnabled);
  } else if (name == "ViewMi") {
    const TViewMenuState state = form_->ViewMiClick(tool_bar_->isVisible());
    check(TCommand::ToolbarMiClick, state.ToolbarMi);
    check(TCommand::ExplorerMiClick, state.ExplorerMi);
    check(TCommand::NoteMiClick, state.NoteMi);
    check(TCommand::ViewerMiClick, state.ViewerMi);
  }
}

void TQtMainWindow::MenuClosed() {
  // Tool bar buttons and shortcuts are never disabled: only the open menu was.
  // Moving to the next menu with the arrow keys hides one menu and shows the next
  // before this runs; the open one keeps the state it was given.
  QTimer::singleShot(0, this, [this] {
    for (const auto& [name, menu] : menus_)
      if (menu->isVisible()) return;
    RestoreEnablement();
  });
}

void TQtMainWindow::RestoreEnablement() {
  for (auto& [key, action] : actions_) action->setEnabled(CommandAvailable(key.first));
  if (QMenu* sub = Menu("EditTextItemMi")) sub->setEnabled(true);
  if (QMenu* sub = Menu("EditClipboardMi")) sub->setEnabled(true);
}

void TQtMainWindow::Run(TCommand command, int tag) {
  switch (command) {
    case TCommand::ToolbarMiClick:
      tool_bar_->setVisible(!tool_bar_->isVisible());
      break;
    case TCommand::ExplorerMiClick:
      docking_->ShowPane(TPane::Explorer);
      break;
    case TCommand::NoteMiClick:
      docking_->ShowPane(TPane::Note);
      break;
    case TCommand::ViewerMiClick:
      docking_->ShowPane(TPane::Viewer);
      break;
    case TCommand::HelpManualMiClick:
      Help().ShowContents();
      break;
    case TCommand::HelpOnHelpMiClick:
      Help().ShowHelpOnHelp();
      break;
    case TCommand::HowToMiClick:
      Help().ShowContext(kHowToContext);
      break;
    case TCommand::AboutMiClick:
      AboutMiClick();
      break;
    case TCommand::ExitMiClick:
      // After the running command: the close writes the settings and may touch the
      // clipboard.
      RunFormCommand(std::string(HandlerName(command)), [this] { ExitMiClick(); });
      return;
    case TCommand::ModToolbarMiClick:
      ModToolbarMiClick();
      break;
    case TCommand::None:
    case TCommand::PopupMenu1:  // the drop-downs open their own menus
    case TCommand::PopupMenu2:
      break;
    // The form's commands.
    case TCommand::OpenMiClick:
    case TCommand::NewMiClick:
    case TCommand::AddNoteMiClick:
    case TCommand::ChangeGlyphMiClick:
    case TCommand::RenameMiClick:
    case TCommand::EditTextItemMiClick:
    case TCommand::CopyMiClick:
    case TCommand::AddNewItemMiClick:
    case TCommand::NewDrawMiClick:
    case TCommand::AddUserGlyphsMiClick:
    case TCommand::RemoveUserGlyphsMiClick:
    case TCommand::DeleteMiClick:
    case TCommand::DeleteNoteMiClick:
    case TCommand::SaveToFCMiClick:
    case TCommand::CurrentDrawerMiClick:
    case TCommand::LoadSelectedMiClick:
    case TCommand::ViewItemsMiClick:
    case TCommand::EditClipboardMiClick:
    case TCommand::AutoSaveMiClick:
    case TCommand::AutoLoad1Click:
    case TCommand::LegendMiClick:
    case TCommand::DisplayAllMiClick:
    case TCommand::CollapseAllMiClick:
      if (!CommandAvailable(command)) break;
      RunFormCommand(std::string(HandlerName(command)),
                     [this, command, tag] { RunHandler(*form_, command, tag); });
      return;
  }
  AfterCommand();
}

void TQtMainWindow::OpenCabinet(const std::string& path) {
  RunFormCommand("OpenCabinet",
                 [this, path] { form_->OpenCabinet(path, TMainForm::TCabinetOpening::Dialog); });
}

void TQtMainWindow::TrayChosen(const TTrayEntry& entry) {
  switch (entry.Command) {
    case TTrayCommand::Show:
      ShowInFront();
      break;
    case TTrayCommand::Exit:
      Run(TCommand::ExitMiClick);
      break;
    default:
      RunFormCommand("TrayCommand", [this, entry] { form_->TrayCommand(entry); });
      break;
  }
}

void TQtMainWindow::ShowInFront() {
  if (in_tray_) {
    in_tray_ = false;
    QGuiApplication::setQuitOnLastWindowClosed(true);
  }
  if (isMinimized())
    showNormal();
  else
    show();
  raise();
  activateWindow();
}

void TQtMainWindow::Started() {
  AfterCommand();
  TakeHotkey(form_->Properties().GlobalHotkey);
}

void TQtMainWindow::TakeHotkey(const std::string& setting) {
  hotkey_->Release();
  hotkey_service_->Release();
  const THotkeySetting parsed = ParseHotkeySetting(setting);
  hotkey_key_ = parsed.Key.value_or(THotkey{});
  if (!parsed.Problem.empty())
    ShowHotkeyMessage(HotkeySettingProblemText(setting, parsed.Problem));
  else if (parsed.Key)
    hotkey_service_->Bind(*parsed.Key);  // its outcome comes to HotkeyServiceDone
  else
    ShowHotkeyMessage({});
}

void TQtMainWindow::HotkeyServiceDone(int outcome) {
  using TOutcome = TPortalShortcuts::TOutcome;
  std::string message;
  switch (static_cast<TOutcome>(outcome)) {
    case TOutcome::Bound:
      message = HotkeyBoundByServiceText(hotkey_key_, hotkey_service_->Trigger().toStdString());
      break;
    case TOutcome::Declined:  // the user's word: no key grab behind their back
      message = HotkeyUnavailableText(hotkey_key_, hotkey::kServiceDeclined);
      break;
    case TOutcome::NotBound:
      message = HotkeyUnavailableText(hotkey_key_, hotkey::kServiceNotBound);
      break;
    case TOutcome::NoService:
    case TOutcome::Silent:
    case TOutcome::Failed: {
      // No service to be had: the X11 key grab, where the session is X11.
      std::string why = hotkey_->Grab(hotkey_key_);
      if (why == hotkey::kNoKeyGrab)
        why = outcome == static_cast<int>(TOutcome::NoService) ? hotkey::kNoService
              : outcome == static_cast<int>(TOutcome::Silent)  ? hotkey::kServiceSilent
                                                               : hotkey::kServiceFailed;
      if (!why.empty()) message = HotkeyUnavailableText(hotkey_key_, why);
      break;
    }
  }
  ShowHotkeyMessage(message);
}

void TQtMainWindow::ShowHotkeyMessage(const std::string& message) {
  // An empty message takes back only the hotkey's own earlier word.
  if (message.empty()) {
    if (!hotkey_message_.isEmpty() && statusBar()->currentMessage() == hotkey_message_)
      statusBar()->clearMessage();
  } else {
    statusBar()->showMessage(FromUtf8(message));
  }
  hotkey_message_ = FromUtf8(message);
}

void TQtMainWindow::HotkeyPressed(QWindow* focused) {
  // A question of the program is answered first: it comes to the front instead.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
    return;
  }
  // In the window (or a pane floating beside it) the key means what it means there.
  bool in_window = false;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (focused && top->windowHandle() == focused)
      in_window = top == this || (qobject_cast<QDockWidget*>(top) && top->parentWidget() == this);
  if (in_window) {
    if (std::optional<std::pair<TCommand, int>> command = MenuCommandOfKey(hotkey_key_)) {
      if (QAction* action = Action(command->first, command->second)) action->trigger();
      return;
    }
  }
  ShowInFront();
  docking_->ShowPane(TPane::Explorer);
  finder_pane_->FocusSearch();
}

void TQtMainWindow::ExitMiClick() {
  if (!form_->ExitMiClick()) return;
  closing_in_command_ = true;
  close();
  closing_in_command_ = false;
}

void TQtMainWindow::AboutMiClick() {
  TAboutDialog about([this](const std::string& address) { interaction_.OpenWebAddress(address); }, this);
  about.exec();
}

THelpWindow& TQtMainWindow::Help() {
  if (!help_) help_ = new THelpWindow(nullptr);
  return *help_;
}

bool TQtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride && qobject_cast<QPlainTextEdit*>(watched)) {
    auto* key = static_cast<QKeyEvent*>(event);
    static constexpr QKeySequence::StandardKey kEditingKeys[] = {QKeySequence::SelectAll, QKeySequence::Copy,
                                                                 QKeySequence::Paste,     QKeySequence::Cut,
                                                                 QKeySequence::Undo,      QKeySequence::Redo};
    for (QKeySequence::StandardKey editing : kEditingKeys) {
      if (key->matches(editing)) {
        key->accept();  // the field takes the key; no menu shortcut fires
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TQtMainWindow::closeEvent(QCloseEvent* event) {
  // Kept in the tray when the user chose so, there being a tray to come back from;
  // Exit, and the end of the desktop session, close.
  if (!closing_in_command_ && !session_ending_ && form_->Properties().KeepInTray && tray_->Shown()) {
    event->ignore();
    in_tray_ = true;
    // Closing another window (the help) must not end the program meanwhile.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    hide();
    return;
  }
  if (form_->Operations().Busy() && !closing_in_command_) {
    // The window closes once the running command has ended.
    event->ignore();
    RunFormCommand("Close", [this] {
      closing_in_command_ = true;
      close();
      closing_in_command_ = false;
    });
    return;
  }
  form_->FormClose();
  if (help_) help_->close();
  event->accept();
  if (in_tray_) {
    // Exit from the tray: no window's closing ends the program by itself now.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }
}

// --- the tool bar ------------------------------------------------------------------

void TQtMainWindow::RestoreToolbar(const TIniFile& settings) {
  form_->SpeedBar1().RestoreLayout(settings);
  tool_bar_->ApplyModelAlign();
}

void TQtMainWindow::SaveToolbar(TIniFile& settings) {
  tool_bar_->TakeAlignFromWindow();
  const int height = tool_bar_->height() > 0 ? tool_bar_->height() : speedbar::kBarHeight;
  form_->SpeedBar1().SaveLayout(settings, logicalDpiY() > 0 ? logicalDpiY() : kDefaultPixelsPerInch, height);
}

TSpeedbarSetupWindow* TQtMainWindow::SpeedbarSetup() const {
  return speedbar_setup_.data();
}

void TQtMainWindow::ModToolbarMiClick() {
  // One window per bar: asking again brings it forward.
  if (!speedbar_setup_) {
    tool_bar_->TakeAlignFromWindow();
    speedbar_setup_ = new TSpeedbarSetupWindow(*tool_bar_, this);
    // F1 there opens the manual's page on the tool bar.
    auto* help = new QShortcut(QKeySequence::HelpContents, speedbar_setup_);
    connect(help, &QShortcut::activated, this, [this] { Help().ShowContext(speedbar::kHelpContext); });
  }
  speedbar_setup_->showNormal();
  speedbar_setup_->raise();
  speedbar_setup_->activateWindow();
}

}  // namespace qb::qt
