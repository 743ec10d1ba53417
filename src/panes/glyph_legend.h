// TViewForm: the logic of the glyph legend and chooser dialog ("Legend").
//
// One dialog class lists glyphs of the glyph image list with their meanings, for
// three callers: the legend (every glyph), the chooser of Change Glyph (the glyphs
// an item may take) and the chooser of Delete User Glyphs (user glyphs only,
// several at a time). The dialog keeps a caption list: the 22 fixed captions at
// indexes 0 to 21, then the user glyph titles the caller appends, so that caption
// index n describes glyph n for every n from 14 on. Indexes 0 and 13 are the one
// exception: caption 0 ("Currently loaded File Cabinet") is shown with glyph 13 and
// caption 13 ("Note Available") with glyph 0.
//
// The choice. A mouse press over the list while a row is selected records that
// row's caption index as the choice (OKBtn's tag). Each row remembers the caption
// index it was filled from, so a user glyph whose title repeats a fixed caption (or
// another title) is still chosen as itself. OK without any recorded choice chooses
// nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/interaction.h"

namespace qb {

namespace view_form {
inline constexpr std::string_view kCaption = "Legend";
inline constexpr std::string_view kColumnCaption = "  Clip Glyphs And Their Meaning :";
inline constexpr std::string_view kChangeGlyphCaption = "Change glyph for selected item";
inline constexpr std::string_view kChangeGlyphColumnCaption = "Available Glyphs";
inline constexpr std::string_view kDeletionCaption = "Select glyphs for deletion";
inline constexpr std::string_view kDeletionColumnCaption = "Glyphs Available For Deletion";
inline constexpr int kClientWidth = 255, kClientHeight = 346;
inline constexpr int kColumnWidth = 230;
inline constexpr int kPanel1Height = 37;
inline constexpr int kButtonWidth = 64, kButtonHeight = 27;
inline constexpr int kOKBtnLeft = 8, kCancelBtnLeft = 185;
inline constexpr int kFixedCaptionCount = 22;
}  // namespace view_form

// The 22 fixed captions, by caption index.
const std::vector<std::string>& FixedGlyphCaptions();
// The glyph shown with caption index n in the legend (0 and 13 swapped).
int LegendGlyphOf(int caption_index);

class TViewForm {
 public:
  // FormCreate: the caption list holds the fixed captions.
  TViewForm();

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  const std::string& ColumnCaption() const { return column_caption_; }
  void SetColumnCaption(std::string caption) { column_caption_ = std::move(caption); }
  bool CancelVisible() const { return cancel_visible_; }
  int OKBtnLeft() const { return ok_left_; }
  bool MultiSelect() const { return multi_select_; }

  // The caption list; callers append the user glyph titles before filling.
  const std::vector<std::string>& CaptionList() const { return captions_; }
  void AppendCaptions(const std::vector<std::string>& titles);

  // The three fills; glyph_count is the number of images of the glyph image list.
  // Rows for glyphs whose caption is missing get an empty caption.
  void FillLegend(int glyph_count);
  void FillChangeGlyph(int glyph_count);
  void FillDeletion(int glyph_count);

  // What the callers do before showing: the legend hides Cancel and centres OK; the
  // choosers set their captions; the deletion chooser allows several rows.
  void PrepareLegend(const std::vector<std::string>& user_glyph_titles, int glyph_count);
  void PrepareChangeGlyph(const std::vector<std::string>& user_glyph_titles, int glyph_count);
  void PrepareDeletion(const std::vector<std::string>& user_glyph_titles, int glyph_count);

  const std::vector<TGlyphRow>& Rows() const { return rows_; }
  // The caption index each row was filled from.
  int RowCaptionIndex(int row) const;

  // A mouse press over the list with row selected (-1: none selected, which
  // records nothing).
  void ListView1MouseDown(int selected_row);
  int OKBtnTag() const { return ok_tag_; }
  bool ChoiceRecorded() const { return choice_recorded_; }

  // The dialog as a request, and its answer applied: the recorded mouse-down row
  // becomes the choice. Returns the chosen glyph index of the single-choice
  // chooser when it was closed with OK and a choice was recorded, else -1.
  TGlyphDialogRequest Request() const;
  int ApplyResult(const TGlyphDialogResult& result);
  // The glyph indexes of the selected rows (the deletion chooser), in list order.
  std::vector<int> GlyphsOfRows(const std::vector<int>& rows) const;

 private:
  void AddRow(int caption_index, int glyph);
  std::string CaptionAt(int index) const;

  std::string caption_{view_form::kCaption};
  std::string column_caption_{view_form::kColumnCaption};
  TGlyphDialogMode mode_ = TGlyphDialogMode::Legend;
  bool cancel_visible_ = true;
  bool multi_select_ = false;
  int ok_left_ = view_form::kOKBtnLeft;
  std::vector<std::string> captions_;
  std::vector<TGlyphRow> rows_;
  std::vector<int> row_caption_index_;
  int ok_tag_ = 0;
  bool choice_recorded_ = false;
};

}  // namespace qb
