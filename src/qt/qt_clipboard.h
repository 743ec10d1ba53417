// TQtClipboard: the program's clipboard over the desktop's (QClipboard).
//
// Format numbers map to MIME types: text/plain <-> text (1, and OEM text 7 made
// from it), any image Qt reads <-> bitmap (2), audio/wav <-> wave (12), image/emf
// <-> enhanced metafile (14, and metafile picture 3 made from it), Qt's form for a
// Windows registered format, application/x-qt-windows-mime;value="<name>" <-> the
// format registered as <name>, and any other MIME type <-> the registered format
// named by the MIME type itself, so that clips of every kind can be stored and put
// back byte for byte. A MIME type need not hold a '/' (X11 offers targets such as
// "x-kde-passwordManagerHint"): each format is read under the MIME type the
// clipboard offered it as, and written back under the MIME type it was last seen
// as; only the program's own formats ("Delphi Picture", ...) that were never seen
// go out in Qt's registered-name form.
//
// The desktop clipboard has no open and close: writes between Open and Close
// collect in a new MIME data object, published on Close, and a second Open before
// Close fails with "Cannot open clipboard" as the platform's does. The change
// notification follows the desktop clipboard's own change signal.
//
// The desktop clipboard itself is Qt's (QClipboard) unless another is given: in a
// Wayland session the data-control protocol takes its place (qt/wayland/), so that
// both read and write the same MIME types the same way.
#pragma once

#include <QImage>
#include <QMimeData>
#include <QObject>
#include <QString>
#include <functional>
#include <future>
#include <map>
#include <memory>

#include "platform/clipboard.h"

class QTimer;

namespace qb::qt {

// The MIME data of a picture this program puts on the clipboard. Other programs ask
// for pictures as PNG (most of them) or BMP; Qt would encode the image anew, on the
// UI thread, at every such request, which for a photograph takes seconds each
// time. Here both file forms are made once, on a worker thread, as soon as the
// picture is set (PNG with the fast encoder of png_image.h), and every request is
// served from them: a request that comes before the encoding is done waits for it.
class TPictureMimeData : public QMimeData {
 public:
  explicit TPictureMimeData(TDib bitmap);
  ~TPictureMimeData() override;

  const TDib& Bitmap() const { return encoded_->Bitmap; }
  // Whether the file forms are ready (without waiting).
  bool EncodingDone() const;
  // New MIME data with the same picture and its file forms (done or coming), and
  // none of the other formats.
  std::unique_ptr<TPictureMimeData> SamePicture() const;

  QStringList formats() const override;
  bool hasFormat(const QString& mime) const override;

 protected:
  QVariant retrieveData(const QString& mime, QMetaType type) const override;

 private:
  struct Encoded {
    explicit Encoded(TDib bitmap);
    const TDib Bitmap;
    QByteArray Png, Bmp;  // written by the worker before it sets Done
    std::promise<void> Done;
    std::shared_future<void> Ready = Done.get_future().share();
  };
  explicit TPictureMimeData(std::shared_ptr<Encoded> encoded);
  const Encoded& Wait() const;

  std::shared_ptr<Encoded> encoded_;
};

// The desktop's clipboard as TQtClipboard sees it: MIME data that is replaced
// as a whole, and a signal for every change.
class IDesktopClipboard {
 public:
  virtual ~IDesktopClipboard() = default;
  // The current content, or null. Valid until the next change is signalled or
  // SetMimeData runs.
  virtual const QMimeData* MimeData() const = 0;
  // Makes data the clipboard's content (the change is signalled as any other).
  virtual void SetMimeData(std::unique_ptr<QMimeData> data) = 0;
  // Runs at every change of the content, this program's own included.
  std::function<void()> OnChanged;
};

// Qt's clipboard (QGuiApplication::clipboard()).
std::unique_ptr<IDesktopClipboard> QtDesktopClipboard();

class TQtClipboard : public IClipboard {
 public:
  // Over Qt's clipboard when desktop is null.
  explicit TQtClipboard(std::unique_ptr<IDesktopClipboard> desktop = nullptr);
  ~TQtClipboard() override;

  void Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  bool HasFormat(uint32_t format) const override;
  std::vector<uint32_t> Formats() const override;
  void Empty() override;
  std::optional<std::vector<uint8_t>> GetBlock(uint32_t format) override;
  bool SetBlock(uint32_t format, std::vector<uint8_t> block) override;
  std::optional<TDib> GetBitmap() override;
  // Another program's picture is fetched from the desktop now (its PNG or other
  // file bytes, as offered) and decoded on a worker thread; a later call for the
  // same clip gets the same decoding.
  TBitmapFuture GetBitmapLater() override;
  void SetBitmap(TDib bitmap) override;
  std::optional<TLogPalette> GetPalette() override;
  void SetPalette(TLogPalette palette) override;
  std::optional<TMetafile> GetMetafile(uint32_t format) override;
  void SetMetafile(uint32_t format, TMetafile metafile) override;

  // The MIME type a format number travels as ("" for none).
  std::string MimeTypeOf(uint32_t format) const;

 private:
  static bool IsProgramFormatName(const std::string& name);
  // The MIME type of data that stands for a registered format; empty when none does.
  QString OfferedMimeOf(const QMimeData& data, uint32_t format) const;
  const QMimeData* Current() const;
  QMimeData& Pending();
  void RequireOpen() const;
  // A picture as taken from the clipboard, not yet decoded: the file bytes of one
  // image type, or an image that is already one (an in-process clipboard).
  struct TImageSource {
    QByteArray Encoded;
    QImage Image;
  };
  static std::optional<TImageSource> TakeImage(const QMimeData* data);
  // Decodes on any thread.
  static std::optional<TDib> DecodeImage(const TImageSource& source);
  // Runs the bitmap-ready notification once the decoding of later_ is done.
  void WatchDecoding();

  std::unique_ptr<IDesktopClipboard> desktop_;
  bool open_ = false;
  uint64_t generation_ = 0;  // counts the desktop clipboard's changes
  TBitmapFuture later_;      // another program's picture, decoding or decoded, taken at later_generation_
  uint64_t later_generation_ = 0;
  std::unique_ptr<QTimer> decoding_watch_;
  std::unique_ptr<QMimeData> pending_;
  // The MIME type each registered format was last offered as.
  mutable std::map<uint32_t, QString> seen_mime_;
};

}  // namespace qb::qt
