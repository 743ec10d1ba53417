// TViewerForm: the viewer pane ("Viewer"), without widgets.
//
// The pane shows a stored item either as text (the read-only Memo1) or as a
// picture (Image1); exactly one of the two is shown. Above them a banner button,
// glyph, is kept as wide as the top panel. The picture is held as the file image
// the picture layer reads (a BMP, metafile, ... payload); drawing it is the
// widget's work.
#pragma once

#include <string>
#include <string_view>

namespace qb {

namespace viewer_form {
inline constexpr std::string_view kCaption = "Viewer";
inline constexpr int kDesignWidth = 209, kDesignHeight = 345;
inline constexpr int kPanel1Height = 39;
}  // namespace viewer_form

class TViewerForm {
 public:
  const std::string& Caption() const { return caption_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // The pane is hidden, never destroyed.
  void FormClose() { visible_ = false; }

  // The banner button follows the width of Panel1's client area.
  void FormResize(int panel1_client_width) {
    glyph_width_ = panel1_client_width < 0 ? 0 : panel1_client_width;
  }
  int GlyphWidth() const { return glyph_width_; }

  const std::string& Memo1Text() const { return text_; }
  bool Memo1Visible() const { return memo_visible_; }
  bool Image1Visible() const { return image_visible_; }
  const std::string& Picture() const { return picture_; }

  // The empty state: picture hidden (and dropped), text cleared, text shown. Used
  // when the tree is rebuilt, when View Items mode is switched off and for items
  // that cannot be shown.
  void ShowEmpty() {
    picture_.clear();
    image_visible_ = false;
    text_.clear();
    memo_visible_ = true;
  }
  // Text shown, picture hidden.
  void ShowText(std::string text) {
    text_ = std::move(text);
    memo_visible_ = true;
    image_visible_ = false;
  }
  // Picture shown (its file image), text hidden.
  void ShowPicture(std::string file_image) {
    picture_ = std::move(file_image);
    image_visible_ = true;
    memo_visible_ = false;
  }

 private:
  std::string caption_{viewer_form::kCaption};
  bool visible_ = true;
  int glyph_width_ = viewer_form::kDesignWidth;
  std::string text_;
  bool memo_visible_ = true;
  bool image_visible_ = false;
  std::string picture_;
};

}  // namespace qb
