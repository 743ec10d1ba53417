#include "qt/clipboard_view.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <memory>

namespace qb::qt {

QPixmap PixmapFromFileImage(const std::vector<uint8_t>& file_image, QString* placeholder) {
  const auto type = RecognizePictureFile(file_image);
  if (type == TPictureFileType::Emf || type == TPictureFileType::Wmf) {
    if (placeholder) {
      QString size;
      try {
        TMetafile metafile = TMetafile::Read(file_image);
        size = QString(", %1 x %2 pixels").arg(metafile.Width()).arg(metafile.Height());
      } catch (const Exception&) {
      }
      *placeholder = QString("Metafile picture%1.\nMetafiles cannot be drawn on this system.").arg(size);
    }
    return QPixmap();
  }
  QImage image = QImage::fromData(reinterpret_cast<const uchar*>(file_image.data()),
                                  static_cast<int>(file_image.size()));
  if (image.isNull() && placeholder) *placeholder = "The picture cannot be shown.";
  return QPixmap::fromImage(image);
}

// The bitmap as a 32-bit image, for the 24- and 32-bit uncompressed bitmaps that
// photographs and screenshots are; a null image for other kinds.
QImage ImageFromDib(const TDib& dib) {
  if (dib.Compression() != BI_RGB || (dib.BitCount() != 24 && dib.BitCount() != 32)) return QImage();
  QImage image(dib.Width(), dib.Height(), QImage::Format_RGB32);
  if (image.isNull()) return image;
  const int width = dib.Width();
  const uint8_t* bits = dib.Bits().data();
  for (int y = 0; y < dib.Height(); ++y) {  // the bitmap holds the bottom row first
    const uint8_t* from = bits + static_cast<size_t>(dib.Height() - 1 - y) * dib.RowStride();
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
    if (dib.BitCount() == 24) {
      for (int x = 0; x < width; ++x, from += 3) to[x] = qRgb(from[2], from[1], from[0]);
    } else {
      for (int x = 0; x < width; ++x, from += 4) to[x] = qRgb(from[2], from[1], from[0]);
    }
  }
  return image;
}

QPixmap PixmapFromPicture(const TPicture& picture, QString* placeholder) {
  if (picture.Kind() == TPictureKind::Bitmap) {
    QImage image = ImageFromDib(picture.Bitmap());
    if (!image.isNull()) return QPixmap::fromImage(std::move(image));
  }
  return PixmapFromFileImage(picture.SaveToFileImage(), placeholder);
}

void TPaletteGridWidget::SetGrid(const TPaletteGrid& grid) {
  grid_ = grid;
  setFixedSize(sizeHint());
  update();
}

QSize TPaletteGridWidget::sizeHint() const {
  return QSize(grid_.ColCount * TPaletteGrid::kCellSize, grid_.RowCount * TPaletteGrid::kCellSize);
}

void TPaletteGridWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int cell = TPaletteGrid::kCellSize;
  for (size_t i = 0; i < grid_.Cells.size(); ++i) {
    const int col = static_cast<int>(i) % std::max(1, grid_.ColCount);
    const int row = static_cast<int>(i) / std::max(1, grid_.ColCount);
    const TPaletteEntry& e = grid_.Cells[i];
    QRect r(col * cell, row * cell, cell, cell);
    painter.fillRect(r.adjusted(1, 1, -1, -1), QColor(e.Red, e.Green, e.Blue));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
  }
}

TClipboardView::TClipboardView(TClipboardViewer& viewer, QWidget* parent)
    : QStackedWidget(parent), viewer_(viewer) {
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  picture_ = new QLabel;
  picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture_area_ = new QScrollArea(this);
  picture_area_->setWidget(picture_);
  picture_area_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  palette_ = new TPaletteGridWidget;
  palette_area_ = new QScrollArea(this);
  palette_area_->setWidget(palette_);
  placeholder_ = new QLabel(this);
  placeholder_->setAlignment(Qt::AlignCenter);
  placeholder_->setWordWrap(true);
  placeholder_->setForegroundRole(QPalette::PlaceholderText);
  addWidget(text_);
  addWidget(picture_area_);
  addWidget(palette_area_);
  addWidget(placeholder_);
  setCurrentWidget(placeholder_);
  conversion_watch_ = new QTimer(this);
  conversion_watch_->setInterval(5);
  connect(conversion_watch_, &QTimer::timeout, this, [this] {
    if (!converting_.valid() || converting_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      return;
    conversion_watch_->stop();
    QImage image = converting_.get();
    ShowPixmap(QPixmap::fromImage(std::move(image)), "The picture cannot be shown.");
  });
}

void TClipboardView::resizeEvent(QResizeEvent* event) {
  QStackedWidget::resizeEvent(event);
  viewer_.SetClientWidth(event->size().width(), style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  if (currentWidget() == palette_area_) Refresh();
}

void TClipboardView::ShowPixmap(const QPixmap& pixmap, const QString& placeholder) {
  if (pixmap.isNull()) {
    placeholder_->setText(placeholder);
    setCurrentWidget(placeholder_);
  } else {
    picture_->setPixmap(pixmap);
    picture_->resize(pixmap.size());
    setCurrentWidget(picture_area_);
  }
}

bool TClipboardView::ConvertAside(const TShownContent& shown) {
  if (!shown.LargeBitmap.valid()) return false;
  auto done = std::make_shared<std::promise<QImage>>();
  converting_ = done->get_future();
  QThreadPool::globalInstance()->start([done, bitmap = shown.LargeBitmap] {
    try {
      done->set_value(bitmap.get() ? ImageFromDib(*bitmap.get()) : QImage());
    } catch (...) {
      done->set_value(QImage());  // out of memory
    }
  });
  placeholder_->setText(kReadingPictureText);
  setCurrentWidget(placeholder_);
  conversion_watch_->start();
  return true;
}

void TClipboardView::Refresh() {
  converting_ = {};  // a conversion still running finishes into nothing
  conversion_watch_->stop();
  const TShownContent& shown = viewer_.Shown();
  switch (shown.Shows) {
    case TShownContent::Control::Text: {
      QFont font = shown.FontName.empty() ? QFont() : QFontDatabase::systemFont(QFontDatabase::FixedFont);
      text_->setFont(font);
      text_->setPlainText(QString::fromStdString(shown.Text));
      setCurrentWidget(text_);
      break;
    }
    case TShownContent::Control::Picture: {
      if (ConvertAside(shown)) break;
      QString placeholder;
      ShowPixmap(PixmapFromPicture(shown.Picture, &placeholder), placeholder);
      break;
    }
    case TShownContent::Control::PaletteGrid:
      palette_->SetGrid(shown.Palette);
      setCurrentWidget(palette_area_);
      break;
    case TShownContent::Control::None:
      placeholder_->setText(QString::fromStdString(shown.Text.empty() ? kClipboardEmptyText : shown.Text));
      setCurrentWidget(placeholder_);
      break;
  }
}

QString TClipboardView::ShownPage() const {
  if (currentWidget() == text_) return "text";
  if (currentWidget() == picture_area_) return "picture";
  if (currentWidget() == palette_area_) return "palette";
  return "placeholder";
}

QString TClipboardView::ShownText() const {
  return currentWidget() == text_ ? text_->toPlainText() : placeholder_->text();
}

}  // namespace qb::qt
