#include "app/tray_menu.h"

#include <algorithm>

#include "finder/cabinet_index.h"
#include "finder/item_preview.h"
#include "platform/errors.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "zip/zip_reader.h"

namespace qb {

namespace {

// A text's preview needs no more than its start.
constexpr uint64_t kTextPreviewBytes = 4096;

// Drops a UTF-8 sequence cut short at the end of bytes, so that a text read in
// part still reads as UTF-8.
void DropCutCharacter(std::string& bytes) {
  size_t lead = bytes.size();
  for (int back = 0; back < 4 && lead > 0; ++back) {
    const auto c = static_cast<unsigned char>(bytes[--lead]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    if (bytes.size() - lead < length) bytes.resize(lead);
    return;
  }
}

std::string PreviewOf(zip::TZipReader& zip, int index, std::optional<long long> format) {
  const zip::TZipHeaderInfo& entry = zip.Entry(index);
  const bool text = finder::IsTextFormat(format);
  const uint64_t want =
      std::min(entry.uncompressed_size,
               text ? kTextPreviewBytes : finder::PreviewPrefix(format, entry.uncompressed_size));
  // An item read whole is checked whole (its CRC); one read in part as far as read.
  const bool whole = want >= entry.uncompressed_size;
  std::string payload;
  std::string problem;
  bool stopped = false;
  try {
    problem = zip.CheckEntry(index, [&](const uint8_t* data, size_t size) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(size, want - payload.size()));
      payload.append(reinterpret_cast<const char*>(data), take);
      if (whole || payload.size() < want) return true;
      stopped = true;
      return false;
    });
  } catch (const Exception& e) {
    problem = e.what();
  }
  if (!stopped && !problem.empty()) return "Cannot be read: it " + problem;
  if (text && payload.size() < entry.uncompressed_size) DropCutCharacter(payload);
  return finder::ItemPreview(format, payload, entry.uncompressed_size);
}

}  // namespace

std::vector<TRecentItem> NewestItems(const std::string& cabinet, int count) {
  if (cabinet.empty() || count <= 0) return {};
  zip::TZipReader zip;
  zip.SetSortMode(zip::TZipSortMode::ByName);  // the cabinet's order, as the tree lists it
  zip.SetDoProcessMessages(false);
  zip.SetZipName(cabinet);
  return NewestItems(zip, count);
}

std::vector<TRecentItem> NewestItems(zip::TZipReader& zip, int count) {
  std::vector<TRecentItem> items;
  if (zip.ZipName().empty() || count <= 0) return items;
  // The program's reader is lent for a moment: as it was afterwards, and no window
  // messages meanwhile (a save starting inside this read).
  struct TLent {
    zip::TZipReader& zip;
    bool pumped = zip.DoProcessMessages();
    bool kept_open = zip.KeepZipOpen();
    ~TLent() {
      zip.SetKeepZipOpen(kept_open);
      zip.SetDoProcessMessages(pumped);
    }
  } lent{zip};
  zip.SetDoProcessMessages(false);
  zip.SetKeepZipOpen(true);
  if (!zip.DirectoryLoaded()) zip.ReadDirectory();
  std::vector<int> entries;
  entries.reserve(static_cast<size_t>(zip.EntryCount()));
  for (int i = 0; i < zip.EntryCount(); ++i)
    if (!zip.Entry(i).file_name.empty()) entries.push_back(i);  // not a drawer
  // Newest first, one date in the directory's (the cabinet's) order.
  const auto take = std::min(entries.size(), static_cast<size_t>(count));
  std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(take), entries.end(),
                    [&](int a, int b) {
                      const uint32_t x = zip.Entry(a).dos_date_time, y = zip.Entry(b).dos_date_time;
                      return x != y ? x > y : a < b;
                    });
  entries.resize(take);
  for (int index : entries) {
    TRecentItem item;
    item.Path = zip.Entry(index).FullName();
    item.DosDateTime = zip.Entry(index).dos_date_time;
    std::optional<long long> format;
    try {
      if (zip.EntryHasComment(index)) format = store::ReadFormatNumber(zip.EntryComment(index));
    } catch (const Exception&) {
      // A damaged comment: an item of no known format.
    }
    item.Preview = PreviewOf(zip, index, format);
    item.Text = finder::IsTextFormat(format);
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<TRecentItem> NewestItems(const finder::TCabinetIndex& index, int count) {
  std::vector<TRecentItem> items;
  if (count <= 0) return items;
  for (int k : index.History(static_cast<size_t>(count))) {
    const finder::TIndexedItem& indexed = index.Items()[static_cast<size_t>(k)];
    TRecentItem item;
    item.Path = indexed.path;
    item.DosDateTime = indexed.dos_date_time;
    item.Preview = indexed.preview;
    item.Text = finder::IsTextFormat(indexed.format);
    items.push_back(std::move(item));
  }
  return items;
}

std::string TrayItemCaption(const TRecentItem& item) {
  std::string name(store::ItemNameOf(item.Path));
  if (name.empty()) name = item.Path;
  if (item.Preview.empty() || item.Preview.rfind("Cannot be read", 0) == 0) return name;
  const std::string preview = finder::TextPreview(item.Preview, tray_menu::kCaptionChars);
  return item.Text ? preview : name + " (" + preview + ")";
}

}  // namespace qb
