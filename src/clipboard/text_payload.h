// Text payloads as lines, for the text editor: what an item or clipboard text
// looks like in the editor, and the payload the editor's lines become.
//
// A text payload is the text up to its first zero byte. Text (format 1) is UTF-8;
// bytes that are not valid UTF-8 (cabinets written on Windows) are read as
// Windows-1252. OEM text (format 7) is code page 437. Lines end at CR LF, LF or a
// lone CR; a line break at the very end does not start another line. The editor's
// lines are written back each followed by CR LF, in the item's own code page: OEM
// text stays code page 437, with "?" for characters that code page lacks.
//
// Written back, the lines keep the layout the text came with: its kind of line
// break and whether the last line ends with one. New text (and text that was
// empty) has the lines each followed by CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

// How a text's lines are laid out as bytes.
struct TTextLayout {
  std::string LineBreak = "\r\n";  // between lines: CR LF, LF or CR
  bool FinalBreak = true;          // the last line ends with a line break too
  friend bool operator==(const TTextLayout&, const TTextLayout&) = default;
};

std::vector<std::string> TextPayloadLines(std::string_view payload, long long format);
// The layout of the payload's text (up to its first zero byte): its first line
// break (CR LF when it has none) and whether it ends with one. An empty text has the
// layout of new text.
TTextLayout TextPayloadLayout(std::string_view payload);
std::string TextPayloadFromLines(const std::vector<std::string>& lines, long long format,
                                 const TTextLayout& layout = {});

}  // namespace qb
