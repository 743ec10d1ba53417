#include "platform/clipboard.h"

#include <algorithm>

#include "platform/codepage.h"

namespace qb {

namespace {

std::vector<uint8_t> TextBlock(std::string_view text) {
  std::vector<uint8_t> block(text.begin(), text.end());
  block.push_back(0);
  return block;
}

}  // namespace

bool IsObjectFormat(uint32_t format) {
  return format == CF_BITMAP || format == CF_METAFILEPICT || format == CF_PALETTE || format == CF_ENHMETAFILE;
}

TBitmapFuture IClipboard::GetBitmapLater() {
  std::promise<std::optional<TDib>> now;
  now.set_value(GetBitmap());
  return now.get_future().share();
}

std::string_view BlockText(const std::vector<uint8_t>& block) {
  const auto zero = std::find(block.begin(), block.end(), uint8_t{0});
  return std::string_view(reinterpret_cast<const char*>(block.data()),
                          static_cast<size_t>(zero - block.begin()));
}

bool IsSecretClip(IClipboard& clipboard) {
  // Registered, not just looked up: a desktop clipboard registers the names it
  // offers only when its formats are listed, which may not have happened yet.
  const uint32_t hint = clipboard.Registry().Register(kPasswordManagerHintFormat);
  if (hint == 0 || !clipboard.HasFormat(hint)) return false;
  TClipboardLock lock(clipboard);
  const std::optional<std::vector<uint8_t>> block = clipboard.GetBlock(hint);
  if (!block) return false;
  std::string_view text = BlockText(*block);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.remove_suffix(1);
  return text == kPasswordManagerSecret;
}

// --- TMemoryClipboard -------------------------------------------------------------

void TMemoryClipboard::Open() {
  if (open_) throw EClipboardError(kCannotOpenClipboardText);
  open_ = true;
  changed_ = false;
}

void TMemoryClipboard::Close() {
  if (!open_) return;
  open_ = false;
  if (changed_) {
    changed_ = false;
    ++change_count_;
    NotifyChange();
  }
}

void TMemoryClipboard::RequireOpen() const {
  if (!open_) throw EClipboardError("The clipboard is not open");
}

const TMemoryClipboard::Slot* TMemoryClipboard::Find(uint32_t format) const {
  for (const Slot& s : slots_)
    if (s.format == format) return &s;
  return nullptr;
}

void TMemoryClipboard::Put(uint32_t format, Content content) {
  RequireOpen();
  changed_ = true;
  for (Slot& s : slots_)
    if (s.format == format) {
      s.content = std::move(content);
      return;
    }
  slots_.push_back(Slot{format, std::move(content)});
}

std::vector<uint32_t> TMemoryClipboard::RealFormats() const {
  std::vector<uint32_t> out;
  for (const Slot& s : slots_) out.push_back(s.format);
  return out;
}

std::vector<uint32_t> TMemoryClipboard::Formats() const {
  std::vector<uint32_t> out = RealFormats();
  const auto has = [&](uint32_t f) { return Find(f) != nullptr; };
  if (has(CF_TEXT) && !has(CF_OEMTEXT)) out.push_back(CF_OEMTEXT);
  if (has(CF_OEMTEXT) && !has(CF_TEXT)) out.push_back(CF_TEXT);
  if (has(CF_ENHMETAFILE) && !has(CF_METAFILEPICT)) out.push_back(CF_METAFILEPICT);
  if (has(CF_METAFILEPICT) && !has(CF_ENHMETAFILE)) out.push_back(CF_ENHMETAFILE);
  return out;
}

bool TMemoryClipboard::HasFormat(uint32_t format) const {
  if (format == 0) return false;
  const std::vector<uint32_t> all = Formats();
  return std::find(all.begin(), all.end(), format) != all.end();
}

void TMemoryClipboard::Empty() {
  RequireOpen();
  slots_.clear();
  changed_ = true;
}

std::optional<std::vector<uint8_t>> TMemoryClipboard::GetBlock(uint32_t format) {
  RequireOpen();
  if (const Slot* s = Find(format)) {
    if (const auto* block = std::get_if<std::vector<uint8_t>>(&s->content)) return *block;
    return std::nullopt;
  }
  if (format == CF_TEXT || format == CF_OEMTEXT) {
    const Slot* other = Find(format == CF_TEXT ? CF_OEMTEXT : CF_TEXT);
    const auto* block = other ? std::get_if<std::vector<uint8_t>>(&other->content) : nullptr;
    if (!block) return std::nullopt;
    const std::string_view text = BlockText(*block);
    return TextBlock(format == CF_TEXT ? codepage::Cp437ToUtf8(text) : codepage::Utf8ToCp437Lossy(text));
  }
  return std::nullopt;
}

bool TMemoryClipboard::SetBlock(uint32_t format, std::vector<uint8_t> block) {
  RequireOpen();
  if (format == 0 || IsObjectFormat(format)) return false;
  Put(format, std::move(block));
  return true;
}

std::optional<TDib> TMemoryClipboard::GetBitmap() {
  RequireOpen();
  const Slot* s = Find(CF_BITMAP);
  if (!s) return std::nullopt;
  return std::get<TDib>(s->content);
}

void TMemoryClipboard::SetBitmap(TDib bitmap) {
  Put(CF_BITMAP, std::move(bitmap));
}

std::optional<TLogPalette> TMemoryClipboard::GetPalette() {
  RequireOpen();
  const Slot* s = Find(CF_PALETTE);
  if (!s) return std::nullopt;
  return std::get<TLogPalette>(s->content);
}

void TMemoryClipboard::SetPalette(TLogPalette palette) {
  Put(CF_PALETTE, std::move(palette));
}

std::optional<TMetafile> TMemoryClipboard::GetMetafile(uint32_t format) {
  RequireOpen();
  if (format != CF_METAFILEPICT && format != CF_ENHMETAFILE) return std::nullopt;
  const Slot* s = Find(format);
  if (!s) s = Find(format == CF_METAFILEPICT ? CF_ENHMETAFILE : CF_METAFILEPICT);
  if (!s) return std::nullopt;
  return std::get<TMetafile>(s->content);
}

void TMemoryClipboard::SetMetafile(uint32_t format, TMetafile metafile) {
  if (format != CF_METAFILEPICT && format != CF_ENHMETAFILE)
    throw EClipboardError("A metafile goes under format 3 or 14, not " + std::to_string(format));
  Put(format, std::move(metafile));
}

void TMemoryClipboard::PutText(std::string_view text, size_t slack) {
  std::vector<uint8_t> block = TextBlock(text);
  block.resize(block.size() + slack, 0);
  TClipboardLock lock(*this);
  Empty();
  SetBlock(CF_TEXT, std::move(block));
}

void TMemoryClipboard::PutSecretText(std::string_view text) {
  const uint32_t hint = Registry().Register(kPasswordManagerHintFormat);
  TClipboardLock lock(*this);
  Empty();
  SetBlock(CF_TEXT, TextBlock(text));
  SetBlock(hint, std::vector<uint8_t>(kPasswordManagerSecret, kPasswordManagerSecret + 6));
}

}  // namespace qb
