// TNoteForm: the note pane ("Note"), without widgets.
//
// Its one control, the multi-line editor Memo1, shows the note of the clicked item
// and holds the text the user types before Add Note stores it. The pane has no
// logic of its own: the main window and the explorer fill and read it.
#pragma once

#include <string>
#include <string_view>

namespace qb {

namespace note_form {
inline constexpr std::string_view kCaption = "Note";
inline constexpr int kDesignWidth = 386, kDesignHeight = 249;
inline constexpr int kFontHeight = 13;
}  // namespace note_form

class TNoteForm {
 public:
  const std::string& Caption() const { return caption_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // The pane is hidden, never destroyed.
  void FormClose() { visible_ = false; }

  // The text of Memo1 (UTF-8; line breaks as the editor gives them).
  const std::string& Memo1Text() const { return text_; }
  void SetMemo1Text(std::string text) { text_ = std::move(text); }
  void ClearMemo1() { text_.clear(); }

 private:
  std::string caption_{note_form::kCaption};
  bool visible_ = true;
  std::string text_;
};

}  // namespace qb
