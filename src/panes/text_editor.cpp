#include "panes/text_editor.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace qb {

namespace {

int ClampToInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

bool IsBookmarkTag(int tag) {
  return tag >= 0 && tag < kBookmarkCount;
}

}  // namespace

std::string EditingItemCaption(std::string_view item_path) {
  std::string caption(memo_form::kEditingItemCaption);
  caption += item_path;
  return caption;
}

int CancelButtonLeft(int panel_client_width, int cancel_width, int ok_left) {
  return ClampToInt(int64_t{panel_client_width} - cancel_width - ok_left);
}

std::vector<TMenuItemInfo> PopMnuItems() {
  std::vector<TMenuItemInfo> items;
  items.push_back({"SetBookmark1", "&Set Bookmark", "", 0, "", TMemoCommand::None});
  for (int n = 0; n < kBookmarkCount; ++n) {
    const std::string digit(1, static_cast<char>('0' + n));
    items.push_back(
        {"N" + digit + "1", "&" + digit, "Shift+Ctrl+" + digit, n, "SetBookmark1", TMemoCommand::N01Click});
  }
  items.push_back({"GoToBookmark1", "&Go To Bookmark", "", 0, "", TMemoCommand::None});
  for (int n = 0; n < kBookmarkCount; ++n) {
    const std::string digit(1, static_cast<char>('0' + n));
    items.push_back(
        {"N" + digit + "2", "&" + digit, "Ctrl+" + digit, n, "GoToBookmark1", TMemoCommand::N02Click});
  }
  items.push_back({"N1", "-", "", 0, "", TMemoCommand::None});
  items.push_back({"Copy1", "&Copy", "Ctrl+C", 0, "", TMemoCommand::Copy1Click});
  items.push_back({"Paste1", "&Paste", "Ctrl+V", 0, "", TMemoCommand::Paste1Click});
  items.push_back({"Cut1", "C&ut", "Ctrl+X", 0, "", TMemoCommand::Cut1Click});
  return items;
}

TMemoForm::TMemoForm(TMemoEditorControl& editor) : editor_(editor) {
  editor_.SetHighLighter(hlNone);
  editor_.SetColors(TColors::EditorDialog());
}

void TMemoForm::SetHighLight(int number) {
  highlight_ = HighLighterFromNumber(number);
  editor_.SetHighLighter(highlight_);
}

bool TMemoForm::Run(TMemoCommand command, int tag) {
  switch (command) {
    case TMemoCommand::N01Click:
      N01Click(tag);
      return true;
    case TMemoCommand::N02Click:
      N02Click(tag);
      return true;
    case TMemoCommand::Copy1Click:
      Copy1Click();
      return true;
    case TMemoCommand::Paste1Click:
      Paste1Click();
      return true;
    case TMemoCommand::Cut1Click:
      Cut1Click();
      return true;
    case TMemoCommand::None:
      break;
  }
  return false;
}

void TMemoForm::FormShow() {
  editor_.SetFocus();
}

bool TMemoForm::CancelQuery(bool text_modified, IUserInteraction& ui) const {
  if (!text_modified) return true;
  return ui.MessageBox(MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation),
                       std::string(memo_form::kDiscardChangesText), MsgButtons::YesNo) == MsgAnswer::Yes;
}

void TMemoForm::FormResize(int panel_client_width) {
  cancel_left_ = CancelButtonLeft(panel_client_width);
}

void TMemoForm::N01Click(int tag) {
  if (!IsBookmarkTag(tag)) return;
  TBookmark& b = bookmarks_[static_cast<size_t>(tag)];
  const int x = editor_.CaretX(), y = editor_.CaretY();
  if (b.Valid && b.X == x && b.Y == y) {
    b.Valid = false;
  } else {
    b = TBookmark{x, y, true};
  }
  editor_.Repaint();
}

void TMemoForm::N02Click(int tag) {
  if (!IsBookmarkTag(tag)) return;
  const TBookmark& b = bookmarks_[static_cast<size_t>(tag)];
  if (!b.Valid) return;
  editor_.SetCaretX(b.X);
  editor_.SetCaretY(b.Y);
}

std::vector<TGutterImage> TMemoForm::Memo1PaintGutter(const TGutterMetrics& m) const {
  std::vector<TGutterImage> images;
  for (int n = 0; n < kBookmarkCount; ++n) {
    const TBookmark& b = bookmarks_[static_cast<size_t>(n)];
    if (!b.Valid || b.Y == -1) continue;
    const int64_t cell_top = int64_t{m.TopOffset} + (int64_t{b.Y} - m.TopLine) * m.LineHeight;
    const int64_t y = cell_top + (int64_t{m.LineHeight} - m.ImageHeight) / 2 + 1;
    images.push_back({n, ClampToInt(int64_t{m.GutterWidth} - m.ImageWidth - 2), ClampToInt(y)});
  }
  return images;
}

const TBookmark& TMemoForm::Bookmark(int n) const {
  static const TBookmark kNone{0, -1, false};
  return IsBookmarkTag(n) ? bookmarks_[static_cast<size_t>(n)] : kNone;
}

void TMemoForm::LinesReplaced(int first, int removed, int inserted) {
  if (first < 0 || removed < 0 || inserted < 0) return;
  const int64_t end_old = int64_t{first} + removed;
  const int64_t delta = int64_t{inserted} - removed;
  for (TBookmark& b : bookmarks_) {
    if (!b.Valid || b.Y < first) continue;
    if (b.Y >= end_old) {
      b.Y = ClampToInt(b.Y + delta);
    } else {
      b.Y = inserted == 0 ? first : ClampToInt(std::min<int64_t>(b.Y, int64_t{first} + inserted - 1));
    }
  }
}

}  // namespace qb
