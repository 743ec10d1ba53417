#include "panes/glyph_legend.h"

namespace qb {

const std::vector<std::string>& FixedGlyphCaptions() {
  static const std::vector<std::string> captions = {"Currently loaded File Cabinet",
                                                    "Drawer",
                                                    "Default glyph",
                                                    "Text",
                                                    "Bitmap",
                                                    "MetaFile Picture",
                                                    "Palette",
                                                    "OEM Text",
                                                    "Picture",
                                                    "Component",
                                                    "Icon",
                                                    "Enhanced MetaFile",
                                                    "Wave",
                                                    "Note Available",
                                                    "Batch File",
                                                    "C++",
                                                    "CAD",
                                                    "Pascal",
                                                    "Password",
                                                    "Rich Text",
                                                    "Basic",
                                                    "Delphi"};
  return captions;
}

int LegendGlyphOf(int caption_index) {
  if (caption_index == 0) return 13;
  if (caption_index == 13) return 0;
  return caption_index;
}

TViewForm::TViewForm() : captions_(FixedGlyphCaptions()) {}

void TViewForm::AppendCaptions(const std::vector<std::string>& titles) {
  captions_.insert(captions_.end(), titles.begin(), titles.end());
}

std::string TViewForm::CaptionAt(int index) const {
  return index >= 0 && static_cast<size_t>(index) < captions_.size() ? captions_[static_cast<size_t>(index)]
                                                                     : std::string();
}

void TViewForm::AddRow(int caption_index, int glyph) {
  rows_.push_back(TGlyphRow{CaptionAt(caption_index), glyph});
  row_caption_index_.push_back(caption_index);
}

void TViewForm::FillLegend(int glyph_count) {
  rows_.clear();
  row_caption_index_.clear();
  for (int n = 0; n <= 13; ++n) AddRow(n, LegendGlyphOf(n));
  for (int n = 14; n < glyph_count; ++n) AddRow(n, n);
}

void TViewForm::FillChangeGlyph(int glyph_count) {
  rows_.clear();
  row_caption_index_.clear();
  for (int n = 2; n <= 12; ++n) AddRow(n, n);
  for (int n = 14; n < glyph_count; ++n) AddRow(n, n);
}

void TViewForm::FillDeletion(int glyph_count) {
  rows_.clear();
  row_caption_index_.clear();
  for (int n = view_form::kFixedCaptionCount; n < glyph_count; ++n) AddRow(n, n);
}

void TViewForm::PrepareLegend(const std::vector<std::string>& user_glyph_titles, int glyph_count) {
  mode_ = TGlyphDialogMode::Legend;
  cancel_visible_ = false;
  ok_left_ = view_form::kClientWidth / 2 - view_form::kButtonWidth / 2;
  AppendCaptions(user_glyph_titles);
  FillLegend(glyph_count);
}

void TViewForm::PrepareChangeGlyph(const std::vector<std::string>& user_glyph_titles, int glyph_count) {
  mode_ = TGlyphDialogMode::ChangeGlyph;
  caption_ = view_form::kChangeGlyphCaption;
  column_caption_ = view_form::kChangeGlyphColumnCaption;
  AppendCaptions(user_glyph_titles);
  FillChangeGlyph(glyph_count);
}

void TViewForm::PrepareDeletion(const std::vector<std::string>& user_glyph_titles, int glyph_count) {
  mode_ = TGlyphDialogMode::DeleteUserGlyphs;
  caption_ = view_form::kDeletionCaption;
  column_caption_ = view_form::kDeletionColumnCaption;
  multi_select_ = true;
  AppendCaptions(user_glyph_titles);
  FillDeletion(glyph_count);
}

int TViewForm::RowCaptionIndex(int row) const {
  return row >= 0 && static_cast<size_t>(row) < row_caption_index_.size()
             ? row_caption_index_[static_cast<size_t>(row)]
             : -1;
}

void TViewForm::ListView1MouseDown(int selected_row) {
  const int index = RowCaptionIndex(selected_row);
  if (index < 0) return;
  ok_tag_ = index;
  choice_recorded_ = true;
}

TGlyphDialogRequest TViewForm::Request() const {
  TGlyphDialogRequest request;
  request.Mode = mode_;
  request.Caption = caption_;
  request.ColumnCaption = column_caption_;
  request.Rows = rows_;
  request.MultiSelect = multi_select_;
  request.CancelVisible = cancel_visible_;
  request.OKBtnLeft = ok_left_;
  return request;
}

int TViewForm::ApplyResult(const TGlyphDialogResult& result) {
  ListView1MouseDown(result.MouseDownRow);
  if (!result.Ok || !choice_recorded_ || mode_ != TGlyphDialogMode::ChangeGlyph) return -1;
  return ok_tag_;
}

std::vector<int> TViewForm::GlyphsOfRows(const std::vector<int>& rows) const {
  std::vector<int> glyphs;
  for (int row : rows)
    if (row >= 0 && static_cast<size_t>(row) < rows_.size())
      glyphs.push_back(rows_[static_cast<size_t>(row)].ImageIndex);
  return glyphs;
}

}  // namespace qb
