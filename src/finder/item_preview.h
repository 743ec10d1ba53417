// What an item holds, in words: the text of text items, for searching, and the
// one-line preview the history and the tooltips show ("Picture 1920 x 1080",
// "Wave 3.2 s", the start of a text).
//
// Text items are text (format 1: UTF-8, or Windows-1252 when the bytes are not
// UTF-8), OEM text (format 7: code page 437) and registered formats whose name
// says they are text (a MIME type under "text/", such as "text/html", and a few
// textual application types); their text runs up to the first zero byte. Nothing
// else is text: pictures, sounds and other data are found by path and note only.
//
// A preview needs only the start of most payloads: PreviewPrefix says how many
// bytes of an item to read for it. Every reader here takes the payload as
// untrusted bytes and answers something for anything it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/format_registry.h"

namespace qb::finder {

// Whether items of this clipboard format hold text (see above).
bool IsTextFormat(std::optional<long long> format,
                  const TClipboardFormatRegistry& registry = ClipboardFormats());

// The text of a text payload as UTF-8 (up to its first zero byte); for any other
// format, nothing.
std::optional<std::string> ItemText(std::optional<long long> format, std::string_view payload,
                                    const TClipboardFormatRegistry& registry = ClipboardFormats());

// How many bytes from the start of an item's payload ItemPreview needs: the whole
// payload for text items, a header's worth for everything else.
uint64_t PreviewPrefix(std::optional<long long> format, uint64_t size,
                       const TClipboardFormatRegistry& registry = ClipboardFormats());

// The one-line preview of an item. payload holds (at least) the first
// PreviewPrefix bytes of it; size is the whole payload's size.
std::string ItemPreview(std::optional<long long> format, std::string_view payload, uint64_t size,
                        const TClipboardFormatRegistry& registry = ClipboardFormats());

// The start of a text on one line: runs of white space and control characters
// become one space, leading and trailing ones go; longer than max_chars characters,
// it is cut at a character boundary and ends with "...".
std::string TextPreview(std::string_view utf8, size_t max_chars = 80);

// The first lines of a text, for a tool tip: at most max_lines lines and
// max_chars characters, line breaks as LF, control characters as spaces, blank
// lines at the start and end left out; "..." ends a text that was cut.
std::string TextOpening(std::string_view utf8, size_t max_lines = 8, size_t max_chars = 400);

}  // namespace qb::finder
