// Text payloads as lines, for the text editor: what an item or clipboard text
// looks like in the editor, and the payload the editor's lines become.
//
// A text payload is the text up to its first zero byte. Text (format 1) is UTF-8;
// bytes that are not valid UTF-8 (cabinets written on Windows) are read as
// Windows-1252. OEM text (format 7) is code page 437. Lines end at CR LF, LF or a
// lone CR; a line break at the very end does not start another line. The editor's
// lines are written back each followed by CR LF, in the item's own code page: OEM
// text stays code page 437, with "?" for characters that code page lacks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

std::vector<std::string> TextPayloadLines(std::string_view payload, long long format);
std::string TextPayloadFromLines(const std::vector<std::string>& lines, long long format);

}  // namespace qb
