// TClipboardView: draws the live clipboard view's state (text, picture, palette
// grid, or a placeholder text) in the main window's centre.
#pragma once

#include <QImage>
#include <QStackedWidget>
#include <future>

#include "clipboard/clipboard_viewer.h"

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QTimer;

namespace qb::qt {

// A picture file image (BMP, ICO, PNG, JPEG, GIF) as a pixmap. Metafiles cannot be
// drawn on this platform: the result is empty and placeholder says what it is.
QPixmap PixmapFromFileImage(const std::vector<uint8_t>& file_image, QString* placeholder);
// A picture as a pixmap. A 24- or 32-bit bitmap is converted directly, row by row
// (a photograph's 36 MB BMP file form is never made); anything else goes through
// its file form as above.
QPixmap PixmapFromPicture(const TPicture& picture, QString* placeholder);
// The direct conversion of PixmapFromPicture, on any thread: a null image for a
// bitmap that is not 24- or 32-bit uncompressed.
QImage ImageFromDib(const TDib& dib);

class TPaletteGridWidget : public QWidget {
  Q_OBJECT
 public:
  explicit TPaletteGridWidget(QWidget* parent = nullptr) : QWidget(parent) {}
  void SetGrid(const TPaletteGrid& grid);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TPaletteGrid grid_;
};

class TClipboardView : public QStackedWidget {
  Q_OBJECT
 public:
  explicit TClipboardView(TClipboardViewer& viewer, QWidget* parent = nullptr);
  // Draws what the viewer shows now.
  void Refresh();
  // What is on show: "text", "picture", "palette" or "placeholder" (for tests).
  QString ShownPage() const;
  QString ShownText() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowPixmap(const QPixmap& pixmap, const QString& placeholder);
  // A large bitmap is converted on a worker thread; "Reading the picture..." is on
  // show meanwhile, and a newer Refresh drops the conversion.
  bool ConvertAside(const TShownContent& shown);

  TClipboardViewer& viewer_;
  std::future<QImage> converting_;
  QTimer* conversion_watch_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QScrollArea* picture_area_ = nullptr;
  QLabel* picture_ = nullptr;
  QScrollArea* palette_area_ = nullptr;
  TPaletteGridWidget* palette_ = nullptr;
  QLabel* placeholder_ = nullptr;
};

}  // namespace qb::qt
