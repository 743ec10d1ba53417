// The clipboard: the program's stand-in for the platform clipboard, with the
// semantics the clipboard commands rely on, and its in-memory implementation.
//
// Contents are held per format number, in the order they were put on the
// clipboard. Most formats hold a memory block whose allocated size may exceed its
// content (the "slack" a reader of the block sees too). Bitmap (2), palette (9) and
// the two metafile formats (3, 14) hold objects instead, as the platform's handles
// do: a TDib, a TLogPalette, a TMetafile. Format names registered with the program's
// format registry have numbers from 0xC000 up.
//
// Synthesised formats: text (1) and OEM text (7) each count as available when the
// other is on the clipboard, and reading one gives the other converted (the
// program's 8-bit text is UTF-8, OEM text is code page 437; the converted block is
// zero-terminated); metafile picture (3) and enhanced metafile (14) likewise, both
// reading the same metafile. Synthesised formats follow the real ones when the
// formats are listed.
//
// Open and close: every read and write needs the clipboard open; a second open
// while it is held (by this program or another) fails with "Cannot open
// clipboard". Use TClipboardLock to hold it for a scope. When the clipboard is
// closed after its content changed, the change notification runs once (the
// viewer chain's draw notification); it may open the clipboard itself.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/errors.h"
#include "platform/format_registry.h"
#include "platform/picture.h"

namespace qb {

// The platform's clipboard format numbers that the program meets.
inline constexpr uint32_t CF_TEXT = 1;
inline constexpr uint32_t CF_BITMAP = 2;
inline constexpr uint32_t CF_METAFILEPICT = 3;
inline constexpr uint32_t CF_OEMTEXT = 7;
inline constexpr uint32_t CF_PALETTE = 9;
inline constexpr uint32_t CF_WAVE = 12;
inline constexpr uint32_t CF_ENHMETAFILE = 14;

// The mark a password manager puts beside a secret it copies (as the Linux desktops
// do): a format of this name whose block holds "secret".
inline constexpr const char* kPasswordManagerHintFormat = "x-kde-passwordManagerHint";
inline constexpr const char* kPasswordManagerSecret = "secret";

inline constexpr const char* kCannotOpenClipboardText = "Cannot open clipboard";

class EClipboardError : public Exception {
 public:
  using Exception::Exception;
};

// A bitmap that may still be on its way: another program's picture is read from
// the desktop at once and decoded on a worker thread.
using TBitmapFuture = std::shared_future<std::optional<TDib>>;

// True for the formats whose content is an object rather than a memory block.
bool IsObjectFormat(uint32_t format);

class IClipboard {
 public:
  virtual ~IClipboard() = default;

  // Throws EClipboardError(kCannotOpenClipboardText) when the clipboard is held.
  virtual void Open() = 0;
  // Closing a clipboard that is not open does nothing.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // These need no open clipboard. Synthesised formats count.
  virtual bool HasFormat(uint32_t format) const = 0;
  // Every available format: the real ones in clipboard order, then synthesised.
  virtual std::vector<uint32_t> Formats() const = 0;
  size_t FormatCount() const { return Formats().size(); }

  // The rest throw EClipboardError when the clipboard is not open.
  virtual void Empty() = 0;
  // The whole allocated block of a block format (converted for a synthesised
  // text format); nothing when the format is absent or holds an object.
  virtual std::optional<std::vector<uint8_t>> GetBlock(uint32_t format) = 0;
  // Puts a block under format, replacing that format only. Returns false (and
  // changes nothing) for format 0 and for the object formats, which the platform
  // refuses as blocks.
  virtual bool SetBlock(uint32_t format, std::vector<uint8_t> block) = 0;
  virtual std::optional<TDib> GetBitmap() = 0;
  // The bitmap as GetBitmap gives it, possibly still being decoded on another
  // thread: what the clipboard holds is taken now, so the result is the bitmap of
  // the moment of the call. When it was handed out unfinished, the bitmap-ready
  // notification runs (on this thread) once it is done. By default it is read at
  // once.
  virtual TBitmapFuture GetBitmapLater();
  virtual void SetBitmap(TDib bitmap) = 0;
  virtual std::optional<TLogPalette> GetPalette() = 0;
  virtual void SetPalette(TLogPalette palette) = 0;
  // format is CF_METAFILEPICT or CF_ENHMETAFILE; either reads the one metafile.
  virtual std::optional<TMetafile> GetMetafile(uint32_t format) = 0;
  virtual void SetMetafile(uint32_t format, TMetafile metafile) = 0;

  // The change notification; replaces any earlier handler.
  void SetOnChange(std::function<void()> handler) { on_change_ = std::move(handler); }
  // Runs when a bitmap GetBitmapLater handed out unfinished is ready; replaces any
  // earlier handler.
  void SetOnBitmapReady(std::function<void()> handler) { on_bitmap_ready_ = std::move(handler); }

  // Registered format names (through the program's registry).
  TClipboardFormatRegistry& Registry() const { return *registry_; }
  void SetRegistry(TClipboardFormatRegistry& registry) { registry_ = &registry; }

 protected:
  // Runs the change handler. The handler reports its own failures (the viewer shows
  // them, the commands put them in an error box); anything that still escapes is
  // dropped here, since the notification runs while the clipboard is being closed,
  // often from a destructor.
  void NotifyChange() noexcept {
    if (!on_change_) return;
    try {
      on_change_();
    } catch (...) {
    }
  }
  void NotifyBitmapReady() noexcept {
    if (!on_bitmap_ready_) return;
    try {
      on_bitmap_ready_();
    } catch (...) {
    }
  }

 private:
  std::function<void()> on_change_;
  std::function<void()> on_bitmap_ready_;
  TClipboardFormatRegistry* registry_ = &ClipboardFormats();
};

// Holds the clipboard open for a scope; closes it on every way out.
class TClipboardLock {
 public:
  explicit TClipboardLock(IClipboard& clipboard) : clipboard_(clipboard) { clipboard_.Open(); }
  ~TClipboardLock() { clipboard_.Close(); }
  TClipboardLock(const TClipboardLock&) = delete;
  TClipboardLock& operator=(const TClipboardLock&) = delete;

 private:
  IClipboard& clipboard_;
};

// The content of a block up to its first zero byte (all of it without one).
std::string_view BlockText(const std::vector<uint8_t>& block);

// True when a password manager marked the clipboard's content as secret. Opens
// the clipboard for the test.
bool IsSecretClip(IClipboard& clipboard);

// The in-memory clipboard: the test double, and the clipboard of a program that
// runs without a display.
class TMemoryClipboard : public IClipboard {
 public:
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

  // Conveniences for tests and for the program without a display; each opens and
  // closes the clipboard (and so notifies).
  // Text as the platform puts it: the UTF-8 bytes, a zero byte, then slack zero
  // bytes of slack.
  void PutText(std::string_view text, size_t slack = 0);
  // A secret as a password manager copies it: the text plus the hint format.
  void PutSecretText(std::string_view text);
  // The real (not synthesised) formats, in clipboard order.
  std::vector<uint32_t> RealFormats() const;
  // How many change notifications were sent so far.
  int ChangeCount() const { return change_count_; }

 private:
  using Content = std::variant<std::vector<uint8_t>, TDib, TLogPalette, TMetafile>;
  struct Slot {
    uint32_t format;
    Content content;
  };
  void RequireOpen() const;
  const Slot* Find(uint32_t format) const;
  void Put(uint32_t format, Content content);

  std::vector<Slot> slots_;
  bool open_ = false;
  bool changed_ = false;
  int change_count_ = 0;
};

}  // namespace qb
