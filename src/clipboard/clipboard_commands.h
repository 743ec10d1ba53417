// TClipboardCommands: the commands of the Clipboard menu and the clipboard's road
// in and out of the open cabinet - Save To File Cabinet (by command and by
// AutoSave), the four switches, Load Selected Item To Clipboard, viewing an item,
// Edit Clipboard As, and the clipboard backup offered back at shut-down.
//
// It owns the live clipboard view ClipboardViewer1 (whose change event runs
// ClipboardViewer1Change), the switches AutoSave and AutoLoad, and the clipboard
// backup; it borrows the rest from the main window through TClipboardContext.
// Handlers report their own preconditions in message boxes; errors from below
// propagate (the caller shows them), except in ClipboardViewer1Change, which runs
// from the clipboard's notification and shows them itself.
//
// Decisions this class makes beyond the bare commands:
// - The backup is filled with the clipboard's content (its format and payload)
//   just before the program first replaces the clipboard in a session, by a Load
//   or by the write-back of Edit Clipboard As, so the shut-down question offers
//   back what the user had before. A clip marked secret is never backed up.
// - With AutoSave on, a clip a password manager marked secret is not stored, and
//   neither is the emptied clipboard that follows it (the manager clearing it).
// - AutoLoad loads every item clicked in the explorer while it is on.
// - Cancel in the editor of Edit Clipboard As leaves the clipboard as it was; OK
//   replaces the clipboard's content with the edited text.
// - Loading an item whose comment has no format number says so instead of doing
//   nothing.
// - Load empties the clipboard before it puts the item on it, whatever the item's
//   format, so the item stands alone there: no other program pastes a format the
//   previous clip left behind, and AutoSave stores the loaded item's format.
// - AutoSave takes the clip at the moment of the change: the clipboard is read
//   and encoded at once, in the change notification, and the store runs as an
//   operation of the main window's queue (Submit). A change that arrives while
//   another command or save is running (the archive engine dispatches window
//   messages during its work) is thus kept, and stored in arrival order when the
//   running work has ended; a later copy cannot replace it meanwhile. The messages
//   a save shows appear when its store runs.
// - A picture from another program is not decoded in the change notification: the
//   clipboard hands over its bitmap while a worker decodes it, and the store waits
//   for it, letting window messages run meanwhile (as the archive engine does
//   during its work), then encodes the payload.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "clipboard/clipboard_viewer.h"
#include "explorer/explorer_window.h"
#include "panes/viewer_pane.h"
#include "platform/clipboard.h"
#include "platform/interaction.h"
#include "platform/memory_stream.h"
#include "platform/operation_queue.h"
#include "store/item_size.h"
#include "zip/zip_writer.h"

namespace qb {

namespace clipboard_text {
inline constexpr const char* kClipboardEmpty = "The clipboard is empty, nothing to save";
inline constexpr const char* kUnknownData =
    "The clipboard contains an unknown type of data,\r\nUnable to save to File Cabinet";
inline constexpr const char* kNoCabinet = "There is no File Cabinet loaded to save the clipboard to";
inline constexpr const char* kSaveAsCaption = "Save Clipboard As";
inline constexpr const char* kSaveAsPrompt = "You can supply drawers to save to, ie: New\\item1";
inline constexpr const char* kAlreadyExists = "already exists, continuing will overwrite";
inline constexpr const char* kNoItemSelected = "No item within the File Cabinet is selected!";
inline constexpr const char* kUnableToLocate = "Unable to locate ";
inline constexpr const char* kWithinCabinet = "within the File Cabinet!";
inline constexpr const char* kAutoSaveOn =
    "AutoSave is currently ON, Do you want it switched off ?\r\n"
    "Otherwise the edited version will automatically be saved to the File Cabinet.";
inline constexpr const char* kNoText = "The clipboard does not contain text, Unable to edit!";
inline constexpr const char* kEditingCaption = "Editing Text Within Clipboard";
inline constexpr const char* kRestoreClip = "Do you wish to restore the original stored clip?";
}  // namespace clipboard_text

// What the main window lends the clipboard commands; everything outlives them.
struct TClipboardContext {
  IClipboard& Clipboard;
  IUserInteraction& UI;
  zip::TZipWriter& Zip1;
  TDockableForm& Explorer;
  TViewerForm& Viewer;                         // the viewer pane
  TMemoryStream& Payload;                      // the payload work stream
  bool& ViewItemsChecked;                      // ViewItemsMi.Checked (a stored property)
  bool& CurrentDrawerChecked;                  // CurrentDrawerMi.Checked (a stored property)
  std::string TempPictureFile;                 // the temporary picture file "[@@]"
  std::function<void()> ProcessMessages = {};  // dispatches pending window messages; may be empty
  // Runs or queues an operation on the open cabinet (the main window's queue); when
  // empty, operations run at once.
  std::function<void(TOperation)> Submit = {};
};

// A clip taken from the clipboard for Save To File Cabinet: the detected format and
// its encoded payload, or the message that ends the save instead.
struct TCapturedClip {
  uint32_t Format = 0;
  TMemoryStream Payload;
  std::string Prefix;    // of the proposed name: "NewItems\Item" or the current drawer's
  std::string Error;     // shown instead of storing, when not empty
  bool Skipped = false;  // a secret under AutoSave: nothing to store, nothing to say
  // A bitmap clip whose bitmap was still being decoded when it was taken (another
  // program's picture), with the palette that was beside it; Payload is encoded
  // from them when the store runs.
  TBitmapFuture PendingBitmap;
  std::optional<TLogPalette> PendingPalette;
};

// The clipboard backup: a payload and its format number, both empty (0) at start.
struct TClipboardBackup {
  TMemoryStream Stream;
  uint32_t Format = 0;
};

// The Clipboard menu as ClipboardMiClick leaves it.
struct TClipboardMenuState {
  bool AutoSaveMiChecked = false;
  bool ViewItemsMiChecked = false;
  bool AutoLoad1Checked = false;
  bool CurrentDrawerMiChecked = false;
  bool EditClipboardMiEnabled = false;
  bool SaveToFCMiEnabled = false;
  bool LoadSelectedMiEnabled = false;
};

class TClipboardCommands {
 public:
  explicit TClipboardCommands(TClipboardContext context);
  TClipboardCommands(const TClipboardCommands&) = delete;
  TClipboardCommands& operator=(const TClipboardCommands&) = delete;

  TClipboardViewer& ClipboardViewer1() { return viewer_; }
  TClipboardBackup& Backup() { return backup_; }
  bool AutoSave() const { return auto_save_; }
  void SetAutoSave(bool on) { auto_save_ = on; }
  bool AutoLoad() const { return auto_load_; }
  bool ViewItems() const { return ctx_.ViewItemsChecked; }
  bool CurrentDrawer() const { return ctx_.CurrentDrawerChecked; }
  // The largest payload saved or taken out of the cabinet (store::kMaxItemSize).
  void SetMaxItemSize(uint64_t bytes) { max_item_size_ = bytes; }

  // The change event of ClipboardViewer1: with AutoSave on, takes the clip now and
  // submits its store. Errors are shown in an error box when the store runs.
  void ClipboardViewer1Change();
  // Save To File Cabinet; asks for the name unless AutoSave is on.
  void SaveToFCMiClick();
  // The two halves of a save. CaptureClip reads the clipboard (steps up to the
  // encoding of the payload) and never throws: a failure becomes the clip's Error.
  // StoreClip shows that error, or names and stores the clip (asking for the name
  // unless automatic) and inserts its node.
  TCapturedClip CaptureClip(bool automatic);
  void StoreClip(TCapturedClip& clip, bool automatic);

  void AutoSaveMiClick();
  void ViewItemsMiClick();
  void AutoLoad1Click();
  void CurrentDrawerMiClick();
  TClipboardMenuState ClipboardMiClick();

  void LoadSelectedMiClick();
  // Loads the item of full name path onto the clipboard as Load Selected Item does
  // (the tray menu's newest items); says so when the cabinet no longer holds it.
  void LoadItem(const std::string& path);
  // Shows the selected item in the viewer pane; nothing when no item is selected.
  void ViewSelected();
  // An item was clicked in the explorer: View Items mode views it, AutoLoad loads it.
  void ExplorerItemClicked();
  // tag selects the editor's highlighting (0 plain text ... 9 INI).
  void EditClipboardMiClick(int tag);

  // The shut-down step: AutoSave off, then, when the backup holds a clip, the
  // question whether to put it back.
  void RestoreClipboardBackup();

 private:
  void Error(const std::string& text);
  // Fills the backup once per session, before the first replacement.
  void CaptureBackupOnce();
  // Takes the clipboard's bitmap without waiting when it is still being decoded;
  // false when it is ready (the payload is then encoded at once).
  bool TakeBitmapLater(TCapturedClip& clip);
  // Waits for a bitmap taken that way (window messages run meanwhile) and encodes
  // the clip's payload from it, or sets the clip's Error.
  void FinishCapture(TCapturedClip& clip);
  // Stores a captured clip under name and inserts its node.
  void SaveClipAs(TCapturedClip& clip, const std::string& name);
  // Extracts the selected item's entry into the payload work stream.
  // Refuses (throws) an item larger than an item may be; verb says what for.
  void ExtractItem(int index, const std::string& path, const char* verb);
  // The load of entry index (named path in messages) onto the clipboard.
  void LoadEntry(int index, const std::string& path);

  TClipboardContext ctx_;
  TClipboardViewer viewer_;
  TClipboardBackup backup_;
  bool auto_save_ = false;
  bool auto_load_ = false;
  bool backup_taken_ = false;
  bool last_clip_secret_ = false;
  uint64_t max_item_size_ = store::kMaxItemSize;
};

}  // namespace qb
