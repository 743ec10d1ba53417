// TClipboardViewer: the model of the live clipboard view in the main window
// (ClipboardViewer1) - its view format, its change event and what it shows.
//
// The widget that draws it (src/qt) forwards the clipboard's change notification
// to ClipboardChanged and draws Shown(). Joining the chain hooks the viewer to the
// clipboard's change notification and runs one change at once, as joining the
// platform's viewer chain does. A bitmap the clipboard is still decoding (another
// program's picture) is not waited for: the view says it is being read and is
// rebuilt when the bitmap is ready.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "clipboard/working_picture.h"
#include "platform/clipboard.h"

namespace qb {

enum TClipboardViewFormat {
  cvDefault,
  cvEmpty,
  cvUnknown,
  cvText,
  cvBitmap,
  cvMetafile,
  cvPalette,
  cvOemText,
  cvPicture,
  cvComponent,
  cvIcon
};

inline constexpr const char* kUnknownFormatText =
    "Cannot display. Data in Clipboard is in an unknown format.";
inline constexpr const char* kClipboardEmptyText = "Clipboard is empty";
// Shown while another program's picture is being decoded.
inline constexpr const char* kReadingPictureText = "Reading the picture...";
inline constexpr const char* kOemTextFontName = "Terminal";

// The palette grid: square cells, one per palette entry, as many columns as fit
// beside a vertical scroll bar (at least one) and as many rows as needed (at least
// one).
struct TPaletteGrid {
  static constexpr int kCellSize = 20;
  static constexpr size_t kMaxEntries = 256;
  int ColCount = 1;
  int RowCount = 1;
  std::vector<TPaletteEntry> Cells;
};
TPaletteGrid LayoutPaletteGrid(const TLogPalette& palette, int client_width, int scroll_bar_width);

// What the viewer shows after a change.
struct TShownContent {
  enum class Control { None, Text, Picture, PaletteGrid };
  Control Shows = Control::None;
  TClipboardViewFormat DisplayKind = cvDefault;
  std::string Text;      // Control::Text (UTF-8)
  std::string FontName;  // empty for the default font
  TPicture Picture;      // Control::Picture, placed at the top left, sized to the picture
  // Control::Picture for a large 24- or 32-bit bitmap (a photograph): the bitmap as
  // the clipboard decoded it, shared rather than copied; Picture is empty then.
  TBitmapFuture LargeBitmap;
  TPaletteGrid Palette;  // Control::PaletteGrid
};

class TClipboardViewer {
 public:
  explicit TClipboardViewer(IClipboard& clipboard) : clipboard_(clipboard) {}
  ~TClipboardViewer();
  TClipboardViewer(const TClipboardViewer&) = delete;
  TClipboardViewer& operator=(const TClipboardViewer&) = delete;

  TClipboardViewFormat ViewFormat() const { return view_format_; }
  void SetViewFormat(TClipboardViewFormat format) { view_format_ = format; }

  // Fired at every clipboard change, before the view is rebuilt.
  std::function<void()> OnChange;
  // Fired whenever the shown content was rebuilt (the widget redraws then).
  std::function<void()> OnRebuilt;

  // Joins the chain: takes the clipboard's change notification and handles one
  // change at once. Leave gives the notification up.
  void JoinChain();
  void LeaveChain();
  bool InChain() const { return in_chain_; }

  // The clipboard changed: the view format follows the content, OnChange fires,
  // the shown content is rebuilt.
  void ClipboardChanged();
  // The clipboard content this program owned was discarded.
  void ClipboardDestroyed();

  // The client size, for the palette grid's columns.
  void SetClientWidth(int width, int scroll_bar_width = 16);
  const TShownContent& Shown() const { return shown_; }
  // Rebuilds the shown content from the clipboard.
  void Rebuild();

 private:
  bool ViewFormatAvailable() const;
  TShownContent BuildContent();

  IClipboard& clipboard_;
  TClipboardViewFormat view_format_ = cvDefault;
  bool in_chain_ = false;
  int client_width_ = 400;
  int scroll_bar_width_ = 16;
  TShownContent shown_;
  bool waiting_for_bitmap_ = false;  // shown_ says the picture is being read
};

// A one-line description of a component stream ("object Name: TClass"), from the
// binary form ("TPF0", class name, object name); empty when it is not one.
std::string DescribeComponentStream(std::span<const uint8_t> block);

}  // namespace qb
