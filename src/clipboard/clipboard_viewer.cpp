#include "clipboard/clipboard_viewer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "clipboard/clip_formats.h"
#include "platform/codepage.h"

namespace qb {

TPaletteGrid LayoutPaletteGrid(const TLogPalette& palette, int client_width, int scroll_bar_width) {
  TPaletteGrid grid;
  const size_t count = std::min(palette.size(), TPaletteGrid::kMaxEntries);
  grid.Cells.assign(palette.begin(), palette.begin() + static_cast<std::ptrdiff_t>(count));
  grid.ColCount = std::max(1, (client_width - scroll_bar_width) / TPaletteGrid::kCellSize);
  grid.RowCount = std::max(1, static_cast<int>((count + grid.ColCount - 1) / grid.ColCount));
  return grid;
}

std::string DescribeComponentStream(std::span<const uint8_t> b) {
  if (b.size() < 5 || std::memcmp(b.data(), "TPF0", 4) != 0) return {};
  size_t at = 4;
  if ((b[at] & 0xF0) == 0xF0) {  // filer flags, and a child position after ffChildPos
    const bool child_pos = (b[at] & 0x02) != 0;
    ++at;
    if (child_pos) {
      if (at >= b.size()) return {};
      const uint8_t type = b[at++];
      const size_t size = type == 2 ? 1 : type == 3 ? 2 : type == 4 ? 4 : 0;
      if (size == 0 || at + size > b.size()) return {};
      at += size;
    }
  }
  auto short_string = [&](std::string& out) {
    if (at >= b.size()) return false;
    const size_t n = b[at++];
    if (at + n > b.size()) return false;
    out.assign(reinterpret_cast<const char*>(b.data() + at), n);
    at += n;
    return true;
  };
  std::string class_name, object_name;
  if (!short_string(class_name) || !short_string(object_name) || class_name.empty()) return {};
  return "object " + codepage::BytesToUtf8(object_name) + ": " + codepage::BytesToUtf8(class_name);
}

TClipboardViewer::~TClipboardViewer() {
  LeaveChain();
}

void TClipboardViewer::JoinChain() {
  if (in_chain_) return;
  in_chain_ = true;
  clipboard_.SetOnChange([this] { ClipboardChanged(); });
  clipboard_.SetOnBitmapReady([this] {
    if (waiting_for_bitmap_) Rebuild();
  });
  ClipboardChanged();
}

void TClipboardViewer::LeaveChain() {
  if (!in_chain_) return;
  clipboard_.SetOnChange(nullptr);
  clipboard_.SetOnBitmapReady(nullptr);
  in_chain_ = false;
}

bool TClipboardViewer::ViewFormatAvailable() const {
  switch (view_format_) {
    case cvText:
      return clipboard_.HasFormat(CF_TEXT);
    case cvOemText:
      return clipboard_.HasFormat(CF_OEMTEXT);
    case cvBitmap:
      return clipboard_.HasFormat(CF_BITMAP);
    case cvMetafile:
      return clipboard_.HasFormat(CF_METAFILEPICT) || clipboard_.HasFormat(CF_ENHMETAFILE);
    case cvPalette:
      return clipboard_.HasFormat(CF_PALETTE);
    case cvPicture:
      return ClipboardHasPicture(clipboard_);
    case cvComponent:
      return clipboard_.HasFormat(DelphiComponentFormat(clipboard_));
    case cvIcon:
      return clipboard_.HasFormat(DelphiIconFormat(clipboard_));
    default:
      return false;
  }
}

void TClipboardViewer::ClipboardChanged() {
  if (clipboard_.FormatCount() == 0)
    view_format_ = cvEmpty;
  else if (!ViewFormatAvailable())
    view_format_ = cvDefault;
  if (OnChange) OnChange();
  Rebuild();
}

void TClipboardViewer::ClipboardDestroyed() {
  view_format_ = cvEmpty;
  if (OnChange) OnChange();
  Rebuild();
}

void TClipboardViewer::SetClientWidth(int width, int scroll_bar_width) {
  client_width_ = width;
  scroll_bar_width_ = scroll_bar_width;
  if (shown_.Shows == TShownContent::Control::PaletteGrid) Rebuild();
}

void TClipboardViewer::Rebuild() {
  waiting_for_bitmap_ = false;
  try {
    shown_ = BuildContent();
  } catch (const Exception& e) {
    // Content that cannot be read (or a clipboard held by another program) is
    // reported in the view instead of failing the notification.
    shown_ = TShownContent();
    shown_.Shows = TShownContent::Control::Text;
    shown_.DisplayKind = cvUnknown;
    shown_.Text = std::string(kUnknownFormatText) + "\r\n" + e.what();
  }
  if (OnRebuilt) OnRebuilt();
}

TShownContent TClipboardViewer::BuildContent() {
  TShownContent c;
  if (clipboard_.FormatCount() == 0) return c;
  TClipboardViewFormat kind = view_format_;
  if (kind == cvDefault) {
    const IClipboard& cb = clipboard_;
    if (cb.HasFormat(CF_TEXT))
      kind = cvText;
    else if (cb.HasFormat(CF_OEMTEXT))
      kind = cvOemText;
    else if (cb.HasFormat(CF_BITMAP))
      kind = cvBitmap;
    else if (cb.HasFormat(CF_METAFILEPICT) || cb.HasFormat(CF_ENHMETAFILE))
      kind = cvMetafile;
    else if (cb.HasFormat(DelphiIconFormat(cb)))
      kind = cvIcon;
    else if (ClipboardHasPicture(cb))
      kind = cvPicture;
    else if (cb.HasFormat(DelphiComponentFormat(cb)))
      kind = cvComponent;
    else if (cb.HasFormat(CF_PALETTE))
      kind = cvPalette;
    else
      kind = cvUnknown;
  }
  c.DisplayKind = kind;
  TClipboardLock lock(clipboard_);
  switch (kind) {
    case cvPalette: {
      const std::optional<TLogPalette> palette = clipboard_.GetPalette();
      c.Shows = TShownContent::Control::PaletteGrid;
      c.Palette = LayoutPaletteGrid(palette ? *palette : TLogPalette(), client_width_, scroll_bar_width_);
      return c;
    }
    case cvComponent: {
      const std::optional<std::vector<uint8_t>> block =
          clipboard_.GetBlock(DelphiComponentFormat(clipboard_));
      c.Shows = TShownContent::Control::Text;
      c.Text = block ? DescribeComponentStream(*block) : std::string();
      if (c.Text.empty()) c.Text = kUnknownFormatText;
      return c;
    }
    case cvBitmap: {
      const TBitmapFuture later = clipboard_.GetBitmapLater();
      if (later.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        waiting_for_bitmap_ = true;
        c.Text = kReadingPictureText;
        return c;
      }
      // A photograph's tens of MB are not copied again for the view (its palette
      // rule concerns only bitmaps of 256 colours or fewer).
      const std::optional<TDib>& bitmap = later.get();
      if (bitmap && IsLargeDirectBitmap(*bitmap)) {
        c.LargeBitmap = later;
        break;
      }
      c.Picture.SetBitmap(BitmapFromClipboard(clipboard_));
      break;
    }
    case cvMetafile:
      c.Picture.SetMetafile(MetafileFromClipboard(clipboard_));
      break;
    case cvPicture:
      c.Picture = PictureFromClipboard(clipboard_);
      break;
    case cvIcon: {
      const std::optional<std::vector<uint8_t>> block = clipboard_.GetBlock(DelphiIconFormat(clipboard_));
      if (!block) throw EClipboardError(kInvalidClipboardFormatText);
      c.Picture.SetIcon(ReadIco(*block));
      break;
    }
    default: {  // cvDefault to cvText, and cvOemText: the text control
      c.Shows = TShownContent::Control::Text;
      const uint32_t format = kind == cvOemText ? CF_OEMTEXT : CF_TEXT;
      if (kind == cvOemText) c.FontName = kOemTextFontName;
      const std::optional<std::vector<uint8_t>> block = clipboard_.GetBlock(format);
      if (block) {
        const std::string_view text = BlockText(*block);
        c.Text = format == CF_OEMTEXT ? codepage::Cp437ToUtf8(text) : codepage::BytesToUtf8(text);
      } else {
        c.Text = clipboard_.FormatCount() == 0 ? kClipboardEmptyText : kUnknownFormatText;
      }
      return c;
    }
  }
  c.Shows = TShownContent::Control::Picture;
  return c;
}

}  // namespace qb
