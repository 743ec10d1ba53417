#include "store/item_size.h"

namespace qb::store {

std::string SizeText(uint64_t bytes) {
  constexpr uint64_t kKb = 1024, kMb = kKb * 1024, kGb = kMb * 1024;
  // Rounded up, so that a size just over a limit never reads as the limit.
  if (bytes >= kGb) {
    const uint64_t tenths = (bytes * 10 + kGb - 1) / kGb;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " GB";
  }
  if (bytes >= kMb) return std::to_string((bytes + kMb - 1) / kMb) + " MB";
  if (bytes >= kKb) return std::to_string((bytes + kKb - 1) / kKb) + " KB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string ClipTooLargeText(uint64_t size, uint64_t limit) {
  return "The clipboard's content is too large to save (" + SizeText(size) + "); an item holds at most " +
         SizeText(limit);
}

std::string ItemTooLargeText(const std::string& path, uint64_t size, uint64_t limit,
                             const std::string& verb) {
  return "The item " + path + " is too large to " + verb + " (" + SizeText(size) +
         "); an item holds at most " + SizeText(limit);
}

}  // namespace qb::store
