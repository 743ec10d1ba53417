// The glyph legend and chooser: the three fills, the choice made by a mouse press,
// and the panes' states.
#include "panes/glyph_legend.h"

#include <gtest/gtest.h>

#include "panes/note_pane.h"
#include "panes/viewer_pane.h"

namespace qb {
namespace {

std::vector<std::string> Captions(const TViewForm& form) {
  std::vector<std::string> out;
  for (const TGlyphRow& row : form.Rows()) out.push_back(row.Caption);
  return out;
}

TEST(ViewFormFills, WithoutUserGlyphs) {
  TViewForm legend;
  legend.PrepareLegend({}, 22);
  ASSERT_EQ(legend.Rows().size(), 22u);
  EXPECT_EQ(legend.Rows()[0].Caption, "Currently loaded File Cabinet");
  EXPECT_EQ(legend.Rows()[0].ImageIndex, 13);
  EXPECT_EQ(legend.Rows()[13].Caption, "Note Available");
  EXPECT_EQ(legend.Rows()[13].ImageIndex, 0);
  EXPECT_EQ(legend.Rows()[21].Caption, "Delphi");
  EXPECT_FALSE(legend.CancelVisible());
  EXPECT_EQ(legend.OKBtnLeft(), 255 / 2 - 64 / 2);
  EXPECT_EQ(legend.Caption(), "Legend");
  EXPECT_EQ(legend.ColumnCaption(), "  Clip Glyphs And Their Meaning :");

  TViewForm chooser;
  chooser.PrepareChangeGlyph({}, 22);
  ASSERT_EQ(chooser.Rows().size(), 19u);
  EXPECT_EQ(chooser.Rows()[0].ImageIndex, 2);
  EXPECT_EQ(chooser.Rows()[10].ImageIndex, 12);
  EXPECT_EQ(chooser.Rows()[11].ImageIndex, 14);
  for (const TGlyphRow& row : chooser.Rows()) {
    EXPECT_NE(row.ImageIndex, 0);
    EXPECT_NE(row.ImageIndex, 1);
    EXPECT_NE(row.ImageIndex, 13);
  }
  EXPECT_EQ(chooser.Caption(), "Change glyph for selected item");
  EXPECT_EQ(chooser.ColumnCaption(), "Available Glyphs");
  EXPECT_TRUE(chooser.CancelVisible());

  TViewForm deletion;
  deletion.PrepareDeletion({}, 22);
  EXPECT_TRUE(deletion.Rows().empty());
  EXPECT_TRUE(deletion.MultiSelect());
}

TEST(ViewFormFills, WithThreeUserGlyphs) {
  const std::vector<std::string> titles = {"Mine", "Yours", "Theirs"};
  TViewForm legend, chooser, deletion;
  legend.PrepareLegend(titles, 25);
  chooser.PrepareChangeGlyph(titles, 25);
  deletion.PrepareDeletion(titles, 25);
  EXPECT_EQ(legend.Rows().size(), 25u);
  EXPECT_EQ(chooser.Rows().size(), 22u);
  EXPECT_EQ(Captions(deletion), titles);
  EXPECT_EQ(deletion.Rows()[2].ImageIndex, 24);
  EXPECT_EQ(deletion.GlyphsOfRows({0, 2, 7}), (std::vector<int>{22, 24}));
  // More images than titles: the rows without a title are still offered.
  TViewForm short_titles;
  short_titles.PrepareDeletion({"only"}, 24);
  EXPECT_EQ(Captions(short_titles), (std::vector<std::string>{"only", ""}));
}

TEST(ViewFormChoice, MousePressOnARowChoosesItsGlyph) {
  TViewForm chooser;
  chooser.PrepareChangeGlyph({}, 22);
  // Row 1 is "Text" (glyph 3).
  EXPECT_EQ(chooser.ApplyResult({true, 1, {}}), 3);
}

TEST(ViewFormChoice, OkWithoutAPressOrCancelChoosesNothing) {
  TViewForm chooser;
  chooser.PrepareChangeGlyph({}, 22);
  EXPECT_EQ(chooser.ApplyResult({true, -1, {}}), -1);
  TViewForm cancelled;
  cancelled.PrepareChangeGlyph({}, 22);
  EXPECT_EQ(cancelled.ApplyResult({false, 4, {}}), -1);
  TViewForm out_of_range;
  out_of_range.PrepareChangeGlyph({}, 22);
  EXPECT_EQ(out_of_range.ApplyResult({true, 99, {}}), -1);
}

TEST(ViewFormChoice, UserGlyphTitledLikeAFixedGlyphIsChosenAsItself) {
  TViewForm chooser;
  chooser.PrepareChangeGlyph({"Other", "text"}, 24);
  // The last row is the user glyph 23 titled "text".
  const int last = static_cast<int>(chooser.Rows().size()) - 1;
  ASSERT_EQ(chooser.Rows()[static_cast<size_t>(last)].Caption, "text");
  EXPECT_EQ(chooser.ApplyResult({true, last, {}}), 23);
}

TEST(Panes, ViewerShowsOneControlAtATime) {
  TViewerForm viewer;
  viewer.ShowPicture("BM...");
  EXPECT_TRUE(viewer.Image1Visible());
  EXPECT_FALSE(viewer.Memo1Visible());
  viewer.ShowEmpty();
  EXPECT_FALSE(viewer.Image1Visible());
  EXPECT_TRUE(viewer.Memo1Visible());
  EXPECT_EQ(viewer.Memo1Text(), "");
  EXPECT_EQ(viewer.Picture(), "");
  viewer.FormResize(300);
  EXPECT_EQ(viewer.GlyphWidth(), 300);
  viewer.FormClose();
  EXPECT_FALSE(viewer.Visible());

  TNoteForm note;
  EXPECT_EQ(note.Caption(), "Note");
  note.SetMemo1Text("x");
  note.FormClose();
  EXPECT_FALSE(note.Visible());
  EXPECT_EQ(note.Memo1Text(), "x");  // closing hides, it keeps the text
}

}  // namespace
}  // namespace qb
