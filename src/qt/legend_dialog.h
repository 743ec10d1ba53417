// TLegendDialog: the glyph legend and the two glyph choosers on screen.
//
// The rows, captions and buttons come from a TGlyphDialogRequest, which TViewForm
// (the legend/chooser logic: caption list, the three fills, the choice) builds. The
// dialog shows them in a one-column report list of 16 x 16 glyphs and records what
// the logic needs back: the row selected when a mouse button was last pressed over
// the list, the rows selected when it closed, and OK or Cancel. A double click on a
// row of a chooser is a mouse press followed by OK.
//
// TGlyphImageList is the glyph image list: the 22 fixed glyphs from the program's
// resources (":/glyphs/NN.png"), then the user glyphs the caller gives as images.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <vector>

#include "platform/interaction.h"

class QPushButton;
class QTreeWidget;

namespace qb::qt {

class TGlyphImageList {
 public:
  static constexpr int kFixedGlyphCount = 22;
  static constexpr int kGlyphSize = 16;

  TGlyphImageList() = default;
  explicit TGlyphImageList(std::vector<QImage> user_glyphs) : user_glyphs_(std::move(user_glyphs)) {}

  int Count() const { return kFixedGlyphCount + static_cast<int>(user_glyphs_.size()); }
  // Glyph index's icon: a fixed glyph from the resources, a user glyph with its
  // fuchsia (255, 0, 255) pixels transparent, centred in its 16 x 16 cell when it is
  // smaller and scaled down when it is larger; an empty icon for -1, an index past the list or an empty
  // image.
  QIcon Icon(int index) const;
  // The resource path of fixed glyph n (0..21): ":/glyphs/NN.png".
  static QString FixedGlyphPath(int n);

 private:
  std::vector<QImage> user_glyphs_;
};

class TLegendDialog : public QDialog {
  Q_OBJECT
 public:
  TLegendDialog(const TGlyphDialogRequest& request, const TGlyphImageList& images, QWidget* parent = nullptr);
  ~TLegendDialog() override;

  // The answer after the modal loop: Ok from the result code, the recorded mouse
  // press and the selected rows.
  TGlyphDialogResult Result() const;

  QTreeWidget* ListView1() const { return list_; }
  QPushButton* OKBtn() const { return ok_btn_; }
  QPushButton* CancelBtn() const { return cancel_btn_; }
  QWidget* Panel1() const { return panel1_; }

  // What a press of a mouse button over the list's rows does (after the press has
  // changed the selection): records the first selected row; nothing when none is.
  void ListView1MouseDown();
  int MouseDownRow() const { return mouse_down_row_; }
  // The first selected row in list order, -1 when none.
  int SelectedRow() const;
  std::vector<int> SelectedRows() const;

 private:
  TGlyphDialogMode mode_;
  QTreeWidget* list_ = nullptr;
  QWidget* panel1_ = nullptr;
  QPushButton* ok_btn_ = nullptr;
  QPushButton* cancel_btn_ = nullptr;
  int mouse_down_row_ = -1;
};

}  // namespace qb::qt
