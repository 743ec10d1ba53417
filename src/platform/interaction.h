// The user-interaction interface: every box and dialog a command shows goes through it.
//
// The Qt program implements it with real dialogs; tests use a scripted double that
// answers from a queue and records every request. Code below the command level
// reaches the user only through this interface (or by throwing).
//
// Each request is a plain value describing what is shown; each answer is a value
// too, so a command can be run end to end without a display. Only MessageBox must
// be implemented: every other request has a default that answers as a user who
// closes the dialog would (Cancel, nothing chosen), which is what a program without
// a user (qvf) needs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qb {

enum class MsgKind { Error, Warning, Information, Confirmation };
enum class MsgButtons { Ok, OkCancel, YesNo, YesCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// The caption that goes with a kind when the caller names none: "Error", "Warning",
// "Information", "Confirm".
const char* DefaultCaption(MsgKind kind);
// "Error", "OK/Cancel", ... - for logs and test output.
const char* MsgKindName(MsgKind kind);
const char* MsgButtonsName(MsgButtons buttons);
const char* MsgAnswerName(MsgAnswer answer);

// --- the file dialog -------------------------------------------------------------

// Options of the common file dialog, as bits.
enum TOpenOption : uint32_t {
  ofOverwritePrompt = 1u << 0,  // choosing an existing file asks before it is taken
  ofHideReadOnly = 1u << 1,     // no "open read-only" check box
  ofPathMustExist = 1u << 2,    // the chosen folder must exist
  ofFileMustExist = 1u << 3,    // the chosen file must exist
  ofEnableSizing = 1u << 4,     // the dialog can be resized
};
using TOpenOptions = uint32_t;

enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
  TFileDialogKind Kind = TFileDialogKind::Open;
  TOpenOptions Options = 0;
  std::string Title;
  // "Description|pattern|Description|pattern...", patterns separated by ";".
  std::string Filter;
  // Appended (with a dot) to a typed name that has no extension of its own; the
  // implementation applies it, so the path returned is the one to use.
  std::string DefaultExt;
  std::string InitialDir;
  std::string FileName;  // proposed file name, may be empty
};

// A typed file name with the default extension applied: "a" + "qvf" -> "a.qvf";
// a name that has an extension (a dot after its last separator) is kept.
std::string ApplyDefaultExtension(const std::string& path, const std::string& default_ext);

// --- the modal dialogs of the program ----------------------------------------------

// The text editor dialog: caption, highlighter number (the menu tag: 0 none,
// 1 Pascal, 2 C++ Builder, 3 SQL, 4 Python, 5 Java, 6 Visual Basic, 7 HTML, 8 Perl,
// 9 INI) and the lines to edit. On OK the answer holds the edited lines.
struct TTextEditorRequest {
  std::string Caption;
  int HighLighter = 0;
  std::vector<std::string> Lines;  // UTF-8, without line breaks
};

// The glyph legend and chooser dialog. Rows are shown in order, each a caption
// with a glyph image; the dialog reports which row the user chose.
enum class TGlyphDialogMode { Legend, ChangeGlyph, DeleteUserGlyphs };

struct TGlyphRow {
  std::string Caption;
  int ImageIndex = -1;  // index into the glyph image list
};

struct TGlyphDialogRequest {
  TGlyphDialogMode Mode = TGlyphDialogMode::Legend;
  std::string Caption;        // the window caption
  std::string ColumnCaption;  // the list's one column
  std::vector<TGlyphRow> Rows;
  bool MultiSelect = false;   // several rows may be selected at once
  bool CancelVisible = true;  // the legend shows a single, centred OK button
  int OKBtnLeft = 8;          // pixels from the bottom panel's left edge
};

struct TGlyphDialogResult {
  bool Ok = false;  // closed with OK (modal result 1)
  // The row that was selected when a mouse button was last pressed over the list;
  // -1 when no such press happened. The choice of the single-choice chooser.
  int MouseDownRow = -1;
  // The rows selected when the dialog closed, in list order.
  std::vector<int> SelectedRows;
};

// --- copying and moving items to another cabinet ------------------------------------
// The answer to "replace the item of that name?".
enum class TReplaceChoice { Yes, No, YesToAll, Cancel };
// The password dialog: its label, with "&" before the accelerator.
struct TPasswordRequest {
  std::string Label = "&Enter Password:";
};
// What the transfer's progress window shows.
struct TTransferProgress {
  std::string Action;  // "Copying Files", "Moving Files"
  std::string From;    // the source cabinet's path
  std::string To;      // the target cabinet's path
  int Whole = 0;       // percent of the whole transfer
  int Entry = 0;       // percent of the current entry
};

class IUserInteraction {
 public:
  virtual ~IUserInteraction() = default;

  // A modal message box; returns the button pressed.
  virtual MsgAnswer MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                               MsgButtons buttons) = 0;

  // A one-line input box; the text entered, or nothing on Cancel.
  virtual std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                              const std::string& initial_text);

  // The common file dialog; the chosen path, or nothing on Cancel.
  virtual std::optional<std::string> FileDialog(const TFileDialogRequest& request);

  // The picture-open dialog: a file dialog that offers the picture files the
  // program can read. The default is FileDialog with the request as it is.
  virtual std::optional<std::string> PictureDialog(const TFileDialogRequest& request);

  // The text editor dialog, modal; the edited lines on OK, nothing on Cancel.
  virtual std::optional<std::vector<std::string>> TextEditor(const TTextEditorRequest& request);

  // The glyph legend or chooser, modal.
  virtual TGlyphDialogResult GlyphDialog(const TGlyphDialogRequest& request);

  // A question with the buttons Yes, No, Yes to All and Cancel.
  virtual TReplaceChoice ReplaceQuestion(const std::string& caption, const std::string& text);
  // The password dialog, modal; the typed password on OK, nothing on Cancel.
  virtual std::optional<std::string> PasswordDialog(const TPasswordRequest& request);
  // Shows the transfer's progress window, or brings it up to date; false once the
  // user has pressed its Cancel button.
  virtual bool TransferProgress(const TTransferProgress& progress);
  // Closes the progress window (nothing when none is shown).
  virtual void CloseTransferProgress();
  // The hourglass cursor on or off; calls nest (on, on, off leaves it on).
  virtual void Hourglass(bool on);
};

// Shows the hourglass for the life of the object, also when a command fails.
class THourglass {
 public:
  explicit THourglass(IUserInteraction& ui) : ui_(ui) { ui_.Hourglass(true); }
  ~THourglass() { ui_.Hourglass(false); }
  THourglass(const THourglass&) = delete;
  THourglass& operator=(const THourglass&) = delete;

 private:
  IUserInteraction& ui_;
};

// Shorthand: an error box with an OK button and the caption "Error".
void ShowError(IUserInteraction& ui, const std::string& text);

// Runs a command as the program's top level does: an exception that escapes it is
// shown in an error box with its text, and the program goes on. Returns false when
// the command ended by an exception.
bool RunCommand(IUserInteraction& ui, const std::function<void()>& command);

}  // namespace qb
