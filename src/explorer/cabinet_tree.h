// Filling the explorer tree from a cabinet: the root caption, the glyph and note
// mark of each entry, and the whole tree in archive order.
#pragma once

#include <string>
#include <string_view>

#include "explorer/tree.h"
#include "zip/zip_reader.h"

namespace qb {

// The root's caption for a cabinet path: the file name cut before the first ".qvf"
// (exact letter case). A name without ".qvf" in that case is shown without its
// extension; a name that would come out empty is shown whole.
std::string RootCaptionFor(const std::string& cabinet_path);

// The image and state index an entry's comment gives its node. glyph_count is the
// number of images in the glyph image list. A missing or empty glyph field, a glyph
// field that is not a decimal number (archives from other programs) and a glyph
// outside the list all give -1 (the default glyph); a comment containing 0xA7
// anywhere gives the note mark.
struct TEntryMarks {
  int Glyph = -1;
  int State = -1;
};
TEntryMarks EntryMarksOf(std::string_view comment, int glyph_count);

// Adds the root for zip's cabinet and one node chain per entry, in archive order.
// Reads the directory when the cabinet file exists (errors propagate, leaving the
// nodes added so far); a path at which no file exists gives the root alone. Does
// nothing for an empty ZipName. Returns the root (null when nothing was added).
// Dispatches the window's messages every few thousand entries through zip's
// message pump, when zip has one and may use it.
TTreeNode* FillCabinetTree(TTreeView& tree, zip::TZipReader& zip, int glyph_count);

}  // namespace qb
