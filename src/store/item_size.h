// The size limit of one item in the program. The archive holds entries up to
// 2 GB, but the program holds a payload whole in memory, more than once on its way
// between the clipboard and the cabinet; so clipboard contents beyond
// kMaxItemSize are not saved, and items beyond it are not loaded, viewed or edited.
// Each refusal says so and changes nothing: the clipboard keeps its content, the
// cabinet its item.
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace qb::store {

inline constexpr uint64_t kMaxItemSize = 1ull << 30;

// A size as people read it, rounded up: "1 GB", "1.1 GB", "300 MB", "12 KB",
// "10 bytes".
std::string SizeText(uint64_t bytes);

// "The clipboard's content is too large to save (1.5 GB); an item holds at most 1 GB"
std::string ClipTooLargeText(uint64_t size, uint64_t limit);
// "The item Big\One is too large to load (1.5 GB); an item holds at most 1 GB",
// with "load", "view" or "edit".
std::string ItemTooLargeText(const std::string& path, uint64_t size, uint64_t limit, const std::string& verb);

}  // namespace qb::store
