// Thumbnails of a cabinet's picture items, for the tool tips of the explorer tree
// and the history: each picture fitted into 256 x 256 pixels, its proportions
// kept (a smaller one keeps its size).
//
// Reading and decoding an item can take long (a screenshot is tens of megabytes
// in a cabinet), so it happens on another thread: the first look-up of an item
// starts the work and answers nothing yet; OnReady tells when it is done, and
// the next look-up has it. One item is made at a time; look-ups meanwhile leave
// only the latest waiting. The last few thumbnails are kept, by cabinet file (its
// stamp too: a saved cabinet is another) and item. A picture that cannot be read
// or drawn, or whose payload is larger than kMaxPayload, has no thumbnail; that
// answer is kept too, so it is not read again.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/format_registry.h"
#include "zip/buffered_file.h"

namespace qb::qt {

// Whether items of format can have a thumbnail: bitmaps, and the registered
// "Delphi Picture" (a BMP, PNG, JPEG, GIF or icon file image) and "Delphi Icon".
bool HasThumbnail(std::optional<long long> format,
                  const TClipboardFormatRegistry& registry = ClipboardFormats());

// A picture payload made into a thumbnail no larger than size x size; a null
// image when it cannot be read or drawn (metafiles cannot be drawn here).
QImage ThumbnailImage(std::optional<long long> format, std::string_view payload, int size,
                      const TClipboardFormatRegistry& registry = ClipboardFormats());

class TItemThumbnails {
 public:
  static constexpr int kSize = 256;
  static constexpr size_t kKept = 16;
  static constexpr uint64_t kMaxPayload = 64ull << 20;
  using TTask = std::function<void()>;
  // Runs work on another thread, then done on the user interface thread.
  using TRunner = std::function<void(TTask work, TTask done)>;

  explicit TItemThumbnails(TRunner runner);
  ~TItemThumbnails();
  TItemThumbnails(const TItemThumbnails&) = delete;
  TItemThumbnails& operator=(const TItemThumbnails&) = delete;

  // The thumbnail of item path (of format) in the cabinet file, as a PNG data URL
  // for an <img> of a tool tip; empty while it is being made (then it is started)
  // and for an item that has none.
  QString Find(const std::string& cabinet, const std::string& path, std::optional<long long> format);
  // Whether an item is being made or waits to be.
  bool Busy() const { return running_ || waiting_.has_value(); }
  // Called (on the user interface thread) when the thumbnail of path was made or
  // found impossible.
  std::function<void(const std::string& path)> OnReady;

 private:
  struct TKey {
    std::string cabinet;
    zip::FileStamp stamp;
    std::string path;
    bool operator==(const TKey&) const = default;
  };
  struct TRequest {
    TKey key;
    std::optional<long long> format;
  };
  void Start(TRequest request);

  TRunner runner_;
  std::list<std::pair<TKey, QString>> kept_;  // the latest first
  bool running_ = false;
  TKey running_key_;
  std::optional<TRequest> waiting_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qb::qt
