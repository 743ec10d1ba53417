// TMemoForm: the logic of the text editor dialog, without widgets.
//
// The dialog edits a text in a highlighting editor control and hands it back to its
// caller on OK. This class holds what the dialog decides: its captions and design
// values, the ten bookmarks (set, move and clear at the caret; go to), where the
// gutter marks of the bookmarks are drawn, where the Cancel button goes when the
// dialog is resized, and the pop-up menu. The Qt dialog owns a TMemoForm, forwards
// its events to the handlers below (named after the dialog's controls) and draws
// what they return. What the dialog needs of the editor control goes through
// TMemoEditorControl.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "highlight/hl_colors.h"
#include "highlight/hl_types.h"
#include "platform/interaction.h"

namespace qb {

// What the text editor dialog needs of its editor control.
class TMemoEditorControl {
 public:
  virtual ~TMemoEditorControl() = default;
  virtual int CaretX() const = 0;  // column
  virtual int CaretY() const = 0;  // line
  virtual void SetCaretX(int x) = 0;
  virtual void SetCaretY(int y) = 0;
  virtual void Repaint() = 0;
  virtual void SetFocus() = 0;
  virtual void CopyToClipboard() = 0;
  virtual void CutToClipboard() = 0;
  virtual void PasteFromClipboard() = 0;
  virtual void SetHighLighter(THighLighter mode) = 0;
  virtual void SetColors(const TColors& colors) = 0;
};

// Design values of the dialog and its editor.
namespace memo_form {
inline constexpr std::string_view kDefaultCaption = "Add A New Text Item To The File Cabinet";
inline constexpr std::string_view kEditingItemCaption = "Editing Text Item : ";  // followed by the item path
inline constexpr std::string_view kEditingClipboardCaption = "Editing Text Within Clipboard";
inline constexpr int kDesignWidth = 544, kDesignHeight = 375;
inline constexpr int kPanel1Height = 40;
inline constexpr int kOKBtnLeft = 6, kButtonTop = 5, kButtonWidth = 82, kButtonHeight = 30;
inline constexpr std::string_view kOKCaption = "OK", kCancelCaption = "Cancel";
// Asked when the dialog is closed without OK after the text was edited.
inline constexpr std::string_view kDiscardChangesText = "Discard your changes?";
inline constexpr int kGutterImageSize = 15;  // the ten bookmark images are 15 x 15, drawn transparently
// Editor Memo1
inline constexpr std::string_view kFontName = "Courier New";
inline constexpr int kFontHeight = 13;
inline constexpr int kGutterWidth = 16;
inline constexpr int kRightMarginPosition = 0;  // not shown
inline constexpr TColor kRightMarginColor = clSilver;
inline constexpr std::string_view kTabStops = "3 5";
inline constexpr TColor kSelectedForeColor = clHighlightText, kSelectedBackColor = clHighlight;
// The editor's completion list
inline constexpr int kCompletionItemHeight = 13;
inline constexpr int kCompletionDelayMs = 800;
inline constexpr std::string_view kCompletionCaretChar = "|";
inline constexpr std::string_view kCompletionLineBreak = "/n";
inline constexpr std::string_view kCompletionSeparator = "=";
}  // namespace memo_form

// The caption for editing a stored text item.
std::string EditingItemCaption(std::string_view item_path);

// Left of CancelBtn for a client width of Panel1: its margin to the right edge
// equals OKBtn's margin to the left edge.
int CancelButtonLeft(int panel_client_width, int cancel_width = memo_form::kButtonWidth,
                     int ok_left = memo_form::kOKBtnLeft);

struct TBookmark {
  int X = 0;  // column
  int Y = 0;  // line; -1 for none
  bool Valid = false;
};
inline constexpr int kBookmarkCount = 10;

// What the gutter painting needs to know of the editor.
struct TGutterMetrics {
  int GutterWidth = memo_form::kGutterWidth;
  int TopLine = 0;     // the first visible line
  int LineHeight = 0;  // pixels
  int TopOffset = 0;   // y of the top of the first visible line's cells
  int ImageWidth = memo_form::kGutterImageSize;
  int ImageHeight = memo_form::kGutterImageSize;
};

// One gutter image to draw: image Index of GutterImages at (X, Y). Y may lie
// outside the gutter, for a bookmark scrolled out of view; the painter clips it.
struct TGutterImage {
  int Index = 0;
  int X = 0;
  int Y = 0;
};

// The commands of the editor's pop-up menu, one per handler of TMemoForm; None for
// a separator or a sub-menu.
enum class TMemoCommand { None, N01Click, N02Click, Copy1Click, Paste1Click, Cut1Click };

// One item of the editor's pop-up menu PopMnu, in menu order; Parent names the
// sub-menu an item belongs to (empty at the top level).
struct TMenuItemInfo {
  std::string Name;
  std::string Caption;  // "-" for a separator
  std::string ShortCut;
  int Tag = 0;
  std::string Parent;
  TMemoCommand Command = TMemoCommand::None;
};
std::vector<TMenuItemInfo> PopMnuItems();

class TMemoForm {
 public:
  // Gives the editor the dialog's design settings: no highlighter, the dialog's colours.
  explicit TMemoForm(TMemoEditorControl& editor);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }

  // Sets the editor's highlighter from a menu tag (0 none ... 9 INI); any other
  // number selects no highlighting.
  void SetHighLight(int number);
  THighLighter HighLight() const { return highlight_; }

  // The editor takes the keyboard focus.
  void FormShow();
  // The dialog is being closed without OK (Cancel, Escape, the close box): whether it
  // may close. Unedited text goes without a word; edits are thrown away only when
  // the user agrees.
  bool CancelQuery(bool text_modified, IUserInteraction& ui) const;
  // Places CancelBtn for the new client width of Panel1.
  void FormResize(int panel_client_width);
  int CancelBtnLeft() const { return cancel_left_; }

  // Set bookmark n (the item's tag): cleared when it is set at the caret already,
  // otherwise set or moved to the caret. Tags outside 0..9 do nothing.
  void N01Click(int tag);
  // Go to bookmark n: the caret's column, then its line; an unset bookmark does nothing.
  void N02Click(int tag);
  // The bookmark images to draw when the editor paints its gutter.
  std::vector<TGutterImage> Memo1PaintGutter(const TGutterMetrics& metrics) const;

  void Copy1Click() { editor_.CopyToClipboard(); }
  void Paste1Click() { editor_.PasteFromClipboard(); }
  void Cut1Click() { editor_.CutToClipboard(); }

  // Runs the handler of a pop-up item's command with the item's tag; false for
  // None.
  bool Run(TMemoCommand command, int tag);

  const TBookmark& Bookmark(int n) const;
  // Keeps bookmarks on their lines when the editor replaces lines first .. first +
  // removed - 1 by inserted lines: bookmarks below move with their lines, those on
  // a replaced line stay on it or go to the last line that replaced it.
  void LinesReplaced(int first, int removed, int inserted);

 private:
  TMemoEditorControl& editor_;
  std::string caption_{memo_form::kDefaultCaption};
  THighLighter highlight_ = hlNone;
  int cancel_left_ = CancelButtonLeft(memo_form::kDesignWidth);
  std::array<TBookmark, kBookmarkCount> bookmarks_{};
};

}  // namespace qb
