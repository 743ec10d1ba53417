// TMemoForm: bookmarks, gutter marks, the Cancel button rule and the pop-up menu.
#include "panes/text_editor.h"

#include <gtest/gtest.h>

#include <climits>

namespace qb {
namespace {

// An editor control that records what the dialog asks of it.
class FakeEditor : public TMemoEditorControl {
 public:
  int x = 0, y = 0;
  std::vector<std::string> calls;
  int CaretX() const override { return x; }
  int CaretY() const override { return y; }
  void SetCaretX(int v) override { x = v, calls.push_back("x=" + std::to_string(v)); }
  void SetCaretY(int v) override { y = v, calls.push_back("y=" + std::to_string(v)); }
  void Repaint() override { calls.push_back("repaint"); }
  void SetFocus() override { calls.push_back("focus"); }
  void CopyToClipboard() override { calls.push_back("copy"); }
  void CutToClipboard() override { calls.push_back("cut"); }
  void PasteFromClipboard() override { calls.push_back("paste"); }
  void SetHighLighter(THighLighter m) override { calls.push_back(std::string(HighLighterName(m))); }
  void SetColors(const TColors& c) override {
    calls.push_back(c == TColors::EditorDialog() ? "dialog colours" : "?");
  }
};

using Calls = std::vector<std::string>;

TEST(MemoForm, SetBookmarkSetsMovesAndClears) {
  FakeEditor ed;
  TMemoForm form(ed);
  ed.calls.clear();
  ed.x = 4, ed.y = 7;
  form.N01Click(3);
  EXPECT_TRUE(form.Bookmark(3).Valid);
  ed.x = 5;  // same line, another column: moves
  form.N01Click(3);
  EXPECT_TRUE(form.Bookmark(3).Valid);
  EXPECT_EQ(form.Bookmark(3).X, 5);
  form.N01Click(3);  // at the caret again: cleared
  EXPECT_FALSE(form.Bookmark(3).Valid);
  EXPECT_EQ(ed.calls, (Calls{"repaint", "repaint", "repaint"}));
  form.N01Click(10);
  form.N01Click(-1);
  EXPECT_FALSE(form.Bookmark(10).Valid);
  EXPECT_EQ(ed.calls.size(), 3u);
}

TEST(MemoForm, GoToBookmarkSetsColumnThenLineAndIgnoresUnsetOnes) {
  FakeEditor ed;
  TMemoForm form(ed);
  ed.calls.clear();
  form.N02Click(2);
  form.N02Click(42);
  EXPECT_TRUE(ed.calls.empty());
  ed.x = 9, ed.y = 12;
  form.N01Click(2);
  ed.x = 0, ed.y = 0;
  ed.calls.clear();
  form.N02Click(2);
  EXPECT_EQ(ed.calls, (Calls{"x=9", "y=12"}));
}

TEST(MemoForm, GutterMarksSitBesideTheirLinesEvenOutOfView) {
  FakeEditor ed;
  TMemoForm form(ed);
  ed.calls.clear();
  for (int line : {12, 5, 40}) {
    ed.y = line;
    form.N01Click(line % 10);
  }
  TGutterMetrics m;
  m.TopLine = 10;
  m.LineHeight = 17;
  const std::vector<TGutterImage> images = form.Memo1PaintGutter(m);
  ASSERT_EQ(images.size(), 3u);
  // In index order: bookmark 0 (line 40), 2 (line 12), 5 (line 5, above the view).
  EXPECT_EQ(images[0].Index, 0);
  EXPECT_EQ(images[0].Y, 30 * 17 + 1 + 1);
  EXPECT_EQ(images[1].Y, 2 * 17 + 2);
  EXPECT_EQ(images[2].Y, -5 * 17 + 2);
  EXPECT_EQ(images[0].X, 16 - 15 - 2);
  m.LineHeight = 13;  // smaller than the image: (13 - 15) div 2 truncates to -1
  EXPECT_EQ(form.Memo1PaintGutter(m)[1].Y, 2 * 13 - 1 + 1);
  // Bookmarks follow their lines through edits.
  form.LinesReplaced(11, 1, 3);  // line 11 becomes three lines
  EXPECT_EQ(form.Bookmark(2).Y, 14);
  EXPECT_EQ(form.Bookmark(5).Y, 5);
  form.LinesReplaced(13, 30, 1);  // lines 13..42 become one
  EXPECT_EQ(form.Bookmark(2).Y, 13);
  EXPECT_EQ(form.Bookmark(0).Y, 13);
}

TEST(MemoForm, CancelKeepsTheOkMarginOnTheRight) {
  FakeEditor ed;
  TMemoForm form(ed);
  ed.calls.clear();
  EXPECT_EQ(form.CancelBtnLeft(), memo_form::kDesignWidth - 82 - 6);
  form.FormResize(900);
  EXPECT_EQ(900 - (form.CancelBtnLeft() + memo_form::kButtonWidth), memo_form::kOKBtnLeft);
  EXPECT_EQ(CancelButtonLeft(INT_MIN), INT_MIN);  // clamped, no overflow
}

TEST(MemoForm, HighlighterCaptionsFocusAndClipboard) {
  FakeEditor ed;
  TMemoForm form(ed);
  EXPECT_EQ(ed.calls, (Calls{"hlNone", "dialog colours"}));
  ed.calls.clear();
  EXPECT_EQ(form.Caption(), "Add A New Text Item To The File Cabinet");
  form.SetCaption(EditingItemCaption("NewItems\\Item1"));
  EXPECT_EQ(form.Caption(), "Editing Text Item : NewItems\\Item1");
  form.SetHighLight(4);
  form.SetHighLight(12);
  form.FormShow();
  form.Copy1Click();
  form.Cut1Click();
  form.Paste1Click();
  EXPECT_EQ(ed.calls, (Calls{"hlPython", "hlNone", "focus", "copy", "cut", "paste"}));
}

TEST(MemoForm, PopupMenuHasTheBookmarkAndClipboardItems) {
  const std::vector<TMenuItemInfo> items = PopMnuItems();
  ASSERT_EQ(items.size(), 26u);
  EXPECT_EQ(items[6].Name, "N51");
  EXPECT_EQ(items[6].Caption, "&5");
  EXPECT_EQ(items[6].ShortCut, "Shift+Ctrl+5");
  EXPECT_EQ(items[6].Tag, 5);
  EXPECT_EQ(items[21].Name, "N92");
  EXPECT_EQ(items[21].ShortCut, "Ctrl+9");
  EXPECT_EQ(items[21].Command, TMemoCommand::N02Click);
  EXPECT_EQ(items[25].Caption, "C&ut");
}

// Every item of the pop-up runs its own handler with its own tag; headers and the
// separator run nothing.
TEST(MemoForm, EveryPopupItemRunsItsHandler) {
  FakeEditor ed;
  TMemoForm form(ed);
  ed.calls.clear();
  std::vector<std::string> ran;
  for (const TMenuItemInfo& item : PopMnuItems()) {
    const bool leaf = !item.Parent.empty() || item.Name.rfind("Copy", 0) == 0 ||
                      item.Name.rfind("Paste", 0) == 0 || item.Name.rfind("Cut", 0) == 0;
    EXPECT_EQ(item.Command != TMemoCommand::None, leaf) << item.Name;
    ed.calls.clear();
    ed.x = 3;
    ed.y = 20 + item.Tag;
    if (!form.Run(item.Command, item.Tag)) continue;
    if (item.Parent == "SetBookmark1") {
      EXPECT_TRUE(form.Bookmark(item.Tag).Valid) << item.Name;
      EXPECT_EQ(form.Bookmark(item.Tag).Y, 20 + item.Tag) << item.Name;
    } else if (item.Parent == "GoToBookmark1") {
      EXPECT_EQ(ed.calls, (Calls{"x=3", "y=" + std::to_string(20 + item.Tag)})) << item.Name;
    } else {
      ran.insert(ran.end(), ed.calls.begin(), ed.calls.end());
    }
  }
  EXPECT_EQ(ran, (Calls{"copy", "paste", "cut"}));
  EXPECT_FALSE(form.Run(TMemoCommand::None, 0));
}

}  // namespace
}  // namespace qb
