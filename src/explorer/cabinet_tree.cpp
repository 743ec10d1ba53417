#include "explorer/cabinet_tree.h"

#include <filesystem>
#include <functional>
#include <system_error>

#include "explorer/tree_routines.h"
#include "platform/errors.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"

namespace qb {

std::string RootCaptionFor(const std::string& cabinet_path) {
  const size_t separator = cabinet_path.find_last_of('/');
  const std::string name = separator == std::string::npos ? cabinet_path : cabinet_path.substr(separator + 1);
  std::string caption;
  if (size_t cut = name.find(".qvf"); cut != std::string::npos) {
    caption = name.substr(0, cut);
  } else {
    const size_t dot = name.rfind('.');
    caption = dot == std::string::npos ? name : name.substr(0, dot);
  }
  return caption.empty() ? name : caption;
}

TEntryMarks EntryMarksOf(std::string_view comment, int glyph_count) {
  TEntryMarks marks;
  if (comment.empty()) return marks;
  try {
    if (std::optional<long long> glyph = store::ReadGlyphIndex(comment);
        glyph && *glyph >= 0 && *glyph <= static_cast<long long>(glyph_count) - 1)
      marks.Glyph = static_cast<int>(*glyph);
  } catch (const EConvertError&) {
    // Not a number: shown with the default glyph.
  }
  if (store::CommentHasNote(comment)) marks.State = kNoteStateIndex;
  return marks;
}

// Filling the tree of a large cabinet takes a while (a tenth of a second at 60,000
// items): the window's messages are dispatched after every so many items, through
// the cabinet's message pump. Meanwhile a tree in a batch update shows nothing.
constexpr int kItemsBetweenPumps = 2048;

TTreeNode* FillCabinetTree(TTreeView& tree, zip::TZipReader& zip, int glyph_count) {
  if (zip.ZipName().empty()) return nullptr;
  const std::function<void()> pump = zip.MessagePump();  // a copy: what it runs may set another
  const bool pumping = zip.DoProcessMessages() && pump;
  store::RefreshDirectory(zip);
  const int count = zip.EntryCount();
  // One pass over the central directory instead of one file open per comment.
  if (count > 0) {
    if (pumping && count > kItemsBetweenPumps) pump();
    zip.LoadAllComments();
  }
  TTreeNode* root = tree.AddChild(nullptr, RootCaptionFor(zip.ZipName()));
  root->SetImageIndex(kRootImage);
  root->SetSelectedIndex(kRootImage);
  for (int i = 0; i < count; ++i) {
    if (pumping && i > 0 && i % kItemsBetweenPumps == 0) pump();
    TEntryMarks marks;
    if (zip.EntryHasComment(i)) marks = EntryMarksOf(zip.EntryComment(i), glyph_count);
    InsertItemPath(tree, root, zip.EntryFullName(i), marks.Glyph, marks.State);
  }
  return root;
}

}  // namespace qb
