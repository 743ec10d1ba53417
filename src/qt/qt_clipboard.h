// TQtClipboard: the program's clipboard over the desktop's (QClipboard).
//
// Format numbers map to MIME types: text/plain <-> text (1, and OEM text 7 made
// from it), any image Qt reads <-> bitmap (2), audio/wav <-> wave (12), image/emf
// <-> enhanced metafile (14, and metafile picture 3 made from it), a registered
// name <-> application/x-qt-windows-mime;value="<name>", and any other MIME type
// <-> the registered format named by the MIME type itself, so that clips of
// every kind can be stored and put back byte for byte.
//
// The desktop clipboard has no open and close: writes between Open and Close
// collect in a new MIME data object, published on Close, and a second Open before
// Close fails with "Cannot open clipboard" as the platform's does. The change
// notification follows the desktop clipboard's own change signal.
#pragma once

#include <QObject>
#include <memory>

#include "platform/clipboard.h"

class QMimeData;

namespace qb::qt {

class TQtClipboard : public IClipboard {
 public:
  TQtClipboard();
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
  void SetBitmap(TDib bitmap) override;
  std::optional<TLogPalette> GetPalette() override;
  void SetPalette(TLogPalette palette) override;
  std::optional<TMetafile> GetMetafile(uint32_t format) override;
  void SetMetafile(uint32_t format, TMetafile metafile) override;

  // The MIME type a format number travels as ("" for none).
  std::string MimeTypeOf(uint32_t format) const;

 private:
  const QMimeData* Current() const;
  QMimeData& Pending();
  void RequireOpen() const;

  bool open_ = false;
  std::unique_ptr<QMimeData> pending_;
  QObject context_;
};

}  // namespace qb::qt
