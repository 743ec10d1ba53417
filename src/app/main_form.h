// TMainForm: the logic of the main window ("Quiverbox"), without widgets.
//
// It owns the open cabinet through the archive component Zip1 (ZipName is the
// cabinet's path; empty when none is open), the three panes that accompany it
// (the explorer TDockableForm, the note pane and the viewer pane), the payload work
// stream, the user glyph name list and the stored properties. Its handlers are the
// commands of the menus and the tool bar; each asks and tells the user only through
// the IUserInteraction it was given. The Qt main window owns a TMainForm and calls
// the handlers.
//
// One command at a time. The archive engine dispatches window messages during its
// work, so a clipboard change or a click can arrive in the middle of a command.
// The program therefore runs every command through Execute (or Command, for a
// command of the menus): a command that arrives while another runs waits in the form's
// operation queue and runs when the running one has ended, in arrival order
// (operation_queue.h). AutoSave takes its clip at the change and queues its store
// the same way. The handlers themselves can still be called directly (tests do);
// they are then not guarded.
//
// Errors. A handler reports its own preconditions in message boxes and ends.
// Errors from below (the archive engine, a damaged comment) propagate as
// exceptions; the program's top level shows them (RunCommand) and keeps running.
// Whatever way a command ends, the payload work stream is left empty, the cabinet
// file is either fully written or untouched, and the tree describes the cabinet.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands.h"
#include "app/speedbar.h"
#include "app/stored_properties.h"
#include "app/tray_menu.h"
#include "app/window_host.h"
#include "clipboard/clipboard_commands.h"
#include "explorer/explorer_window.h"
#include "glyphs/user_glyph_commands.h"
#include "panes/note_pane.h"
#include "panes/viewer_pane.h"
#include "platform/clipboard.h"
#include "platform/interaction.h"
#include "platform/memory_stream.h"
#include "platform/operation_queue.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "shell/at_shell.h"
#include "shell/desktop_files.h"
#include "shell/menu_node.h"
#include "shell/recent_files.h"
#include "zip/zip_writer.h"

namespace qb {

namespace main_form {
inline constexpr std::string_view kCaption = "Quiverbox";
// OpenDialog1
inline constexpr std::string_view kCabinetFilter = "File Cabinet  (*.qvf)|*.qvf";
inline constexpr std::string_view kCabinetDefaultExt = "qvf";
inline constexpr std::string_view kOpenTitle = "Open A File Cabinet";
inline constexpr std::string_view kNewTitle = "Create A File Cabinet";
// RecentFiles1
inline constexpr std::string_view kRecentRegistryKey = "\\Software\\Quiverbox\\FileCabinets";
inline constexpr std::string_view kReOpenCaption = "&Re-Open";
inline constexpr std::string_view kDoesNotExist = "does not exist! (probably deleted or moved)";
// ATShell1: the cabinet file type.
inline constexpr std::string_view kCabinetExtension = "QVF";
inline constexpr std::string_view kCabinetKeyName = "Quiverbox.File";
inline constexpr std::string_view kCabinetTypeName = "Quiverbox File Cabinet";
}  // namespace main_form

// What EditMiClick decides for the Edit menu's items; the items not named here
// stay enabled.
struct TEditMenuState {
  bool AddNoteMi = false;
  bool ChangeGlyphMi = false;
  bool RenameMi = false;
  bool DeleteMi = false;
  bool CopyMi = false;
  bool MoveMi = false;
  bool DeleteNoteMi = false;
  bool EditTextItemMi = false;
};

// The View menu's check marks, as ViewMiClick sets them.
struct TViewMenuState {
  bool ToolbarMi = false;
  bool ExplorerMi = false;
  bool NoteMi = false;
  bool ViewerMi = false;
};

class TMainForm {
 public:
  // The clipboard is the program's (the desktop's, or an in-memory one); without
  // one the form makes an in-memory clipboard of its own.
  TMainForm(IUserInteraction& ui, TPaths paths);
  TMainForm(IUserInteraction& ui, TPaths paths, IClipboard& clipboard);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  const std::string& Caption() const { return caption_; }
  IUserInteraction& UI() { return ui_; }
  const TPaths& Paths() const { return paths_; }

  zip::TZipWriter& Zip1() { return zip_; }
  // Dispatches pending window messages (user input excluded): the engine calls it
  // during long reads and writes, and Edit Clipboard As before it reads the
  // clipboard, so a clipboard change still waiting to be told is handled first.
  void SetMessagePump(std::function<void()> pump);
  // The largest item saved, loaded, viewed or edited (store::kMaxItemSize; tests
  // set a small one).
  void SetMaxItemSize(uint64_t bytes) {
    max_item_size_ = bytes;
    clipboard_commands_.SetMaxItemSize(bytes);
  }
  TDockableForm& DockableForm() { return explorer_; }
  TNoteForm& NoteForm() { return note_; }
  TViewerForm& ViewerForm() { return viewer_; }
  TMemoryStream& PayloadStream() { return payload_; }
  // The titles of the user glyphs, in library order.
  std::vector<std::string>& UserGlyphNames() { return user_glyphs_.Names(); }
  // The user glyphs and their commands.
  TUserGlyphCommands& UserGlyphs() { return user_glyphs_; }
  TMainFormProperties& Properties() { return properties_; }
  const TMainFormProperties& Properties() const { return properties_; }
  // The tool bar's layout: which items it shows, in which order, where.
  TSpeedBar& SpeedBar1() { return speed_bar_; }

  // --- one command at a time -------------------------------------------------------
  // Runs command now when no other runs, else queues it (see above); errors it
  // raises are shown in an error box. Returns true when it ran before returning.
  // A command marked retry_when_cabinet_busy is tried again later when another
  // program holds the cabinet.
  bool Execute(std::string name, std::function<void()> command, bool retry_when_cabinet_busy = false);
  // Execute for a command of the menus or the tool bar and the clicked item's tag.
  bool Command(TCommand command, int tag = 0);
  TOperationQueue& Operations() { return operations_; }

  // Called with the cabinet path at the end of every rebuild, after the recent
  // list put it at its top; may be empty.
  std::function<void(const std::string& cabinet_path)> OnCabinetShown;

  // --- the explorer tree -------------------------------------------------------------
  // Rebuilds the tree from the open cabinet; clears the note pane and empties the
  // viewer. Errors reading the cabinet propagate after the batch update has ended
  // and OnCabinetShown has run.
  void RebuildCabinetTree();
  void DisplayAllMiClick();
  void CollapseAllMiClick();

  // Where the opening of a cabinet comes from; they differ only in what is
  // checked and remembered.
  enum class TCabinetOpening {
    // The first show: no cabinet was open, so the stored previous cabinet stays;
    // an empty path opens none.
    StartUp,
    // Open and New File Cabinet: the old cabinet becomes the previous one and the
    // new one's folder the dialog's initial folder.
    Dialog,
    // A Re-Open entry: a file that is gone is reported and nothing changes; else
    // the old cabinet becomes the previous one.
    ReOpen,
  };
  // The one way a cabinet is opened. Makes path the open cabinet (pending changes
  // of the old one are written first; when that fails the error propagates and
  // the old one stays open), remembers what the opening's source says, rebuilds
  // the tree and offers a repair when the cabinet's directory is damaged.
  void OpenCabinet(const std::string& path, TCabinetOpening source);
  // After a cabinet was opened: when its directory is damaged (shown as far as it
  // can be read; the engine refuses every change to it), says so and offers a
  // repair, which keeps a copy of the damaged file beside it.
  void OfferRepairIfDamaged();

  // --- File menu ---------------------------------------------------------------------
  void OpenMiClick();
  void NewMiClick();
  // "&Re-Open": its entries are the recent cabinets, newest first; it is enabled
  // exactly when it has entries. RecentFiles1().Paths() lists them.
  TMenuNode& ReOpenMi() { return reopen_mi_; }
  TRecentFiles& RecentFiles1() { return recent_files_; }
  const TRecentFiles& RecentFiles1() const { return recent_files_; }
  // A Re-Open entry was chosen (the entry is gone from the list by now): opens
  // that cabinet, or says it does not exist.
  void RecentFiles1Click(TRecentFiles& sender, const std::string& latest_file);
  // The registry of the current user and of the classes root (files in the
  // config folder).
  IRegistry& Registry() { return registry_; }

  // --- the cabinet file type ---------------------------------------------------------
  // At every start: makes sure ".qvf" files open with this program - the
  // classes-root keys of "Quiverbox.File" and, on the desktop, the MIME type, the
  // desktop entry and the icons (TDesktopFiles; none in portable mode). Writes and
  // notifies only when something differs. When another program's type key owns
  // ".qvf", that stays so: only our own type key is brought up to date.
  void AssociateCabinets();
  // "/UNINSTALL": removes our type key, the extension key while it names ours, and
  // the desktop's files.
  void RemoveAssociations();
  TATShell& ATShell1() { return at_shell_; }
  TDesktopFiles& DesktopFiles() { return desktop_files_; }
  // The program the registration names: the running executable unless set.
  const std::string& ProgramPath() const { return program_path_; }
  void SetProgramPath(std::string path) { program_path_ = std::move(path); }
  // The program's icon in the sizes the desktop gets (the window supplies them).
  std::vector<TIconImage>& ProgramIcons() { return program_icons_; }

  // --- Edit menu ---------------------------------------------------------------------
  TEditMenuState EditMiClick();
  void AddNoteMiClick();
  void DeleteNoteMiClick();
  void RenameMiClick();
  void DeleteMiClick();
  void ChangeGlyphMiClick();
  void AddNewItemMiClick();
  // tag selects the highlighter (0 plain text ... 9 INI), as the clicked menu
  // item's tag does.
  void EditTextItemMiClick(int tag);
  void NewDrawMiClick();
  void AddUserGlyphsMiClick() { user_glyphs_.AddUserGlyphsMiClick(); }
  void RemoveUserGlyphsMiClick() { user_glyphs_.RemoveUserGlyphsMiClick(); }
  // Copies (tag 0) or moves (tag 1) the selected item, or every item of the
  // selected drawer, into a cabinet the user chooses (a new one is made when the
  // chosen file does not exist); copy_move.h says how nothing is lost. Asks before
  // replacing a same-named item, asks for the password of an encrypted entry, shows
  // the progress window, and ends with a summary of what was done. After a move the
  // moved items leave the explorer, and drawers left empty with them.
  void CopyMiClick(int tag);

  // --- Clipboard menu ----------------------------------------------------------------
  IClipboard& Clipboard() { return clipboard_; }
  TClipboardCommands& ClipboardCommands() { return clipboard_commands_; }
  void SaveToFCMiClick() { clipboard_commands_.SaveToFCMiClick(); }
  void AutoSaveMiClick() { clipboard_commands_.AutoSaveMiClick(); }
  void ViewItemsMiClick() { clipboard_commands_.ViewItemsMiClick(); }
  void AutoLoad1Click() { clipboard_commands_.AutoLoad1Click(); }
  void CurrentDrawerMiClick() { clipboard_commands_.CurrentDrawerMiClick(); }
  TClipboardMenuState ClipboardMiClick() { return clipboard_commands_.ClipboardMiClick(); }
  void LoadSelectedMiClick() { clipboard_commands_.LoadSelectedMiClick(); }
  void ViewSelected() { clipboard_commands_.ViewSelected(); }
  void EditClipboardMiClick(int tag) { clipboard_commands_.EditClipboardMiClick(tag); }
  // An item was clicked in the explorer.
  void ExplorerItemClicked() { clipboard_commands_.ExplorerItemClicked(); }
  // The shut-down step that offers the clipboard backup back.
  void RestoreClipboardBackup() { clipboard_commands_.RestoreClipboardBackup(); }
  // --- View menu ---------------------------------------------------------------------
  void LegendMiClick();
  // The View menu's check marks: the tool bar's visibility (the window's to know)
  // and the panes' Visible flags, which the window keeps up to date.
  TViewMenuState ViewMiClick(bool toolbar_visible) const;

  // --- the tray icon's menu (tray_menu.h) ----------------------------------------------
  // The menu's entries as they stand now: the open cabinet's newest items, the
  // switches with their check marks, Show and Exit. The items come from index when
  // given (the search's, in step with the cabinet file), else from the cabinet's
  // loaded directory.
  std::vector<TTrayEntry> TrayMenu(const finder::TCabinetIndex* index = nullptr);
  // Runs a chosen entry: loads its item, or flips its switch (the stored ones are
  // written to the settings file at once). Returns false for the window's own
  // entries (Show, Exit) and for those that do nothing. Errors propagate.
  bool TrayCommand(const TTrayEntry& entry);

  // --- the explorer's pop-up menu ------------------------------------------------------
  // Runs the command of a pop-up item (its Command and Tag); AddNewDrawer is the
  // explorer's own. Returns false for the separator. Errors propagate, as from any
  // handler.
  bool RunExplorerCommand(TExplorerCommand command, int tag);
  static bool ExplorerCommandAvailable(TExplorerCommand command);

  // --- start-up and shut-down (startup.cpp) ------------------------------------------
  // The windowing layer's part of start-up and shut-down; may be null (nothing of
  // it is done). Not owned.
  void SetHost(TMainWindowHost* host) { host_ = host; }
  // The create handler. args are the command-line arguments without the program's
  // name. Returns false when the program is to end at once ("/UNINSTALL"): the
  // window is not shown and FormClose then writes nothing.
  bool FormCreate(const std::vector<std::string>& args);
  // The show handler: start-up proper, once (later calls do nothing). Never throws:
  // a step that fails is reported in an error box and the next one runs.
  void FormShow(const std::vector<std::string>& args);
  // The close handler: settings and placements, tool bar, layout, the restore
  // question, the recent list. Writes no settings unless FormShow ran (so a
  // program that failed before it cannot blank the user's settings). Never throws.
  void FormClose();
  // "E&xit": true when the user confirmed and the window is to close.
  bool ExitMiClick();
  bool FirstShowPending() const { return first_show_; }
  bool Ending() const { return ending_; }

 private:
  TMainForm(IUserInteraction& ui, TPaths paths, IClipboard* clipboard);
  void RunCabinetDialog(bool create);
  // CopyMiClick for the item or drawer node.
  void CopyToCabinet(int tag, TTreeNode* node);
  // Writes the tray menu's stored switches to the settings file.
  void SaveTraySwitches();
  // Error box, OK button.
  void Error(const std::string& text);

  std::string caption_{main_form::kCaption};
  IUserInteraction& ui_;
  TPaths paths_;
  zip::TZipWriter zip_;
  TDockableForm explorer_;
  TViewerForm viewer_;
  TNoteForm note_;
  TMemoryStream payload_;
  TMainFormProperties properties_;
  TSpeedBar speed_bar_;
  TOperationQueue operations_;
  std::unique_ptr<TMemoryClipboard> own_clipboard_;  // when the program gives none
  IClipboard& clipboard_;
  TClipboardCommands clipboard_commands_;
  TFileRegistry registry_;
  TMenuNode reopen_mi_{std::string(main_form::kReOpenCaption)};  // outlives recent_files_
  TRecentFiles recent_files_;
  TATShell at_shell_;
  TDesktopFiles desktop_files_;
  std::string program_path_;
  std::vector<TIconImage> program_icons_;
  bool association_changed_ = false;  // the shell is to be told
  TUserGlyphCommands user_glyphs_;
  TMainWindowHost* host_ = nullptr;
  std::function<void()> message_pump_;
  uint64_t max_item_size_ = store::kMaxItemSize;
  bool first_show_ = false;  // set by FormCreate, cleared by the first FormShow
  bool started_ = false;     // FormShow ran
  bool ending_ = false;      // "/UNINSTALL": nothing is shown or written
};

}  // namespace qb
