#include "glyphs/user_glyph_commands.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "panes/glyph_legend.h"
#include "platform/errors.h"
#include "platform/memory_stream.h"
#include "platform/paths.h"
#include "platform/picture.h"

namespace qb {

namespace fs = std::filesystem;
using glyphs::TBorrowedArchive;
using zip::TZipSortMode;

namespace {

constexpr const char* kCrLf = "\r\n";
// No picture file this large holds a glyph.
constexpr uintmax_t kMaxPictureFileBytes = 16u << 20;

std::string FolderOf(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  return (ec ? fs::path(path) : absolute).parent_path().string();
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) throw EFOpenError(path, ec.message());
  if (size > kMaxPictureFileBytes) throw EInvalidGraphic(kInvalidBitmapText);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError(path, "cannot be opened");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EInOutError("Cannot read " + path);
  return bytes;
}

// A name beside path that no file takes yet: path.damaged, path.damaged-2, ...
std::string FreeDamagedName(const std::string& path) {
  std::string name = path + ".damaged";
  std::error_code ec;
  for (int n = 2; fs::exists(fs::symlink_status(name, ec)); ++n)
    name = path + ".damaged-" + std::to_string(n);
  return name;
}

}  // namespace

TUserGlyphCommands::TUserGlyphCommands(TUserGlyphContext context) : context_(std::move(context)) {}

glyphs::TGlyphPicture TUserGlyphCommands::ReadPicture(const std::string& path) const {
  if (context_.ReadPicture) return context_.ReadPicture(path);
  return glyphs::ReadBmpPicture(ReadWholeFile(path));
}

void TUserGlyphCommands::SetGlyphs(std::vector<glyphs::TUserGlyph> glyphs) {
  glyphs_ = std::move(glyphs);
  names_.clear();
  for (const glyphs::TUserGlyph& glyph : glyphs_) names_.push_back(glyph.Title);
  context_.Explorer.SetGlyphImageCount(glyphs::kFixedGlyphCount + static_cast<int>(glyphs_.size()));
  if (OnGlyphsChanged) OnGlyphsChanged(glyphs_);
}

void TUserGlyphCommands::Reload(bool report) {
  glyphs::TLibraryContents contents = glyphs::ReadLibrary(context_.Zip1);
  problem_ = contents.Problem;
  SetGlyphs(std::move(contents.Glyphs));
  if (!report) return;
  IUserInteraction& ui = context_.UI;
  if (!problem_.empty()) {
    ui.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning),
                  "The user glyph library " + context_.Library + " cannot be read: " + problem_ + "." +
                      kCrLf + "Only the fixed glyphs are shown; the file is left as it is.",
                  MsgButtons::Ok);
  } else if (!contents.BadEntries.empty()) {
    std::string text = "These user glyphs cannot be shown; they keep their places in the legend:";
    for (const std::string& bad : contents.BadEntries) text += kCrLf + bad;
    ui.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning), text, MsgButtons::Ok);
  }
}

void TUserGlyphCommands::LoadUserGlyphs() {
  if (!RegularFileExists(context_.Library)) {
    problem_.clear();
    SetGlyphs({});
    return;
  }
  TBorrowedArchive borrowed(context_.Zip1, context_.Library, TZipSortMode::ByNone);
  Reload(/*report=*/true);
  borrowed.Restore();
}

bool TUserGlyphCommands::ReplaceUnreadableLibrary(const std::string& problem) {
  const std::string kept = FreeDamagedName(context_.Library);
  const MsgAnswer answer = context_.UI.MessageBox(
      MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation),
      "The user glyph library " + context_.Library + " cannot be read: " + problem + "." + kCrLf +
          "Adding this glyph starts a new library; the unreadable file is kept as " + kept + "." + kCrLf +
          "Do you wish to continue?",
      MsgButtons::YesNo);
  if (answer != MsgAnswer::Yes) return false;
  std::error_code ec;
  fs::rename(context_.Library, kept, ec);
  if (ec) throw EFCreateError(kept, ec.message());
  return true;
}

void TUserGlyphCommands::AddUserGlyphsMiClick() {
  using namespace user_glyph_text;
  IUserInteraction& ui = context_.UI;
  TFileDialogRequest request;
  request.Kind = TFileDialogKind::Open;
  request.Options = ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing;
  request.Title = kPictureDialogTitle;
  request.Filter = kPictureFilter;
  request.DefaultExt = kPictureDefaultExt;
  request.InitialDir = context_.PicDlgInitialDir;
  std::optional<std::string> chosen = ui.PictureDialog(request);
  if (!chosen || chosen->empty()) return;

  glyphs::TGlyphPicture picture = ReadPicture(*chosen);
  context_.PicDlgInitialDir = FolderOf(*chosen);
  if (picture.Width > glyphs::kGlyphSize || picture.Height > glyphs::kGlyphSize) {
    ShowError(ui, kTooBig);
    return;
  }
  if (picture.Bitmap.empty()) throw EInvalidGraphic(kInvalidBitmapText);

  TBorrowedArchive borrowed(context_.Zip1, context_.Library, TZipSortMode::ByNone);
  zip::TZipWriter& zip = context_.Zip1;
  std::vector<std::string> titles;
  try {
    titles = glyphs::LibraryTitles(zip);
  } catch (const std::exception& e) {
    if (!RegularFileExists(context_.Library)) throw;
    if (!ReplaceUnreadableLibrary(e.what())) return;
    borrowed.PointAt(context_.Library, TZipSortMode::ByNone);
  }

  std::optional<std::string> title =
      ui.InputBox(kTitleCaption, kTitlePrompt, glyphs::ProposeGlyphTitle(titles));
  for (;;) {
    if (!title) return;
    if (glyphs::TitleBlank(*title)) {
      ShowError(ui, kBlankTitle);
      title = ui.InputBox(kTitleCaption, kTitlePrompt, glyphs::ProposeGlyphTitle(titles));
      continue;
    }
    if (glyphs::TitleTaken(titles, *title)) {
      title = ui.InputBox(kDuplicateCaption, kDuplicatePrompt, *title);
      continue;
    }
    break;
  }

  {
    THourglass hourglass(ui);
    EnsureParentDir(context_.Library);
    TMemoryStream stream;
    stream.Write(picture.Bitmap.data(), picture.Bitmap.size());
    stream.SetPosition(0);
    const int added = zip.AddFromStream(&stream, *title);
    // The list is read back from the library, so it holds what was stored.
    borrowed.PointAt(context_.Library, TZipSortMode::ByNone);
    Reload(/*report=*/false);
    if (added != 1) ShowError(ui, kNotStored + ("\"" + *title + "\""));
  }
  borrowed.Restore();
}

void TUserGlyphCommands::RemoveUserGlyphsMiClick() {
  using namespace user_glyph_text;
  IUserInteraction& ui = context_.UI;
  if (!problem_.empty()) {
    ShowError(ui, "The user glyph library " + context_.Library + " cannot be read: " + problem_ + "." +
                      kCrLf + "No glyph can be deleted from it.");
    return;
  }
  // 1. and 2. The deletion form of the glyph dialog.
  TViewForm chooser;
  chooser.PrepareDeletion(names_, glyphs::kFixedGlyphCount + static_cast<int>(names_.size()));
  const TGlyphDialogResult result = ui.GlyphDialog(chooser.Request());
  if (!result.Ok) return;

  zip::TZipWriter& zip = context_.Zip1;
  TBorrowedArchive borrowed(zip, context_.Library, TZipSortMode::ByNone);
  const std::string cabinet = borrowed.Remembered();
  std::vector<std::string> done;    // re-indexed in this deletion (or tried)
  std::vector<std::string> failed;  // with the reason
  std::exception_ptr failure;
  bool library_changed = false;
  glyphs::TReindexMap map;  // the re-index map, for this deletion only

  auto reindex = [&](const std::string& path) {
    done.push_back(path);
    if (!RegularFileExists(path)) return;
    THourglass hourglass(ui);
    try {
      borrowed.PointAt(path, TZipSortMode::ByName);
      glyphs::ReindexCabinet(zip, map);
    } catch (const std::exception& e) {
      failed.push_back(path + ": " + e.what());
    }
  };
  auto already_done = [&](const std::string& path) {
    for (const std::string& d : done)
      if (SameFilePath(d, path)) return true;
    return false;
  };

  try {
    // 3. to 6. The library loses the chosen glyphs.
    std::vector<std::string> before;
    {
      THourglass hourglass(ui);
      before = glyphs::LibraryTitles(zip);
    }
    if (before != names_) {
      library_changed = true;
    } else {
      std::vector<std::string> deleted;
      for (int row : result.SelectedRows) {
        const std::vector<int> glyph = chooser.GlyphsOfRows({row});
        if (glyph.empty()) continue;
        const size_t position = static_cast<size_t>(glyph.front() - glyphs::kFixedGlyphCount);
        if (position < before.size()) deleted.push_back(before[position]);
      }
      map = glyphs::TReindexMap(before, deleted);
      int marked = 0;
      for (int i = 0; i < zip.EntryCount(); ++i) {
        const bool gone = map.IsDeleted(zip.EntryFullName(i));
        zip.SetEntrySelected(i, gone);
        marked += gone ? 1 : 0;
      }
      if (marked > 0) {
        THourglass hourglass(ui);
        zip.RemoveEntries();
      }

      // 7. The open cabinet.
      if (!cabinet.empty()) reindex(cabinet);

      // 8. The cabinets of the Re-Open list.
      std::vector<std::string> listed;
      if (context_.ReOpenCabinets) listed = context_.ReOpenCabinets();
      if (!listed.empty() && ui.MessageBox(MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation),
                                           kReOpenQuestion, MsgButtons::YesNo) == MsgAnswer::Yes) {
        for (const std::string& path : listed)
          if (!path.empty() && !already_done(path)) reindex(path);
      }

      // 9. Further cabinets the user names.
      while (ui.MessageBox(MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation), kAnotherQuestion,
                           MsgButtons::YesNo) == MsgAnswer::Yes) {
        TFileDialogRequest request;
        request.Kind = TFileDialogKind::Open;
        request.Options = ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing;
        request.Title = kResortTitle;
        request.Filter = "File Cabinet  (*.qvf)|*.qvf";
        request.DefaultExt = "qvf";
        request.InitialDir = context_.OpenDialogInitialDir;
        std::optional<std::string> chosen = ui.FileDialog(request);
        if (!chosen || chosen->empty()) continue;
        if (already_done(*chosen)) {
          ui.MessageBox(MsgKind::Information, DefaultCaption(MsgKind::Information),
                        *chosen + kCrLf + kAlreadyDone, MsgButtons::Ok);
          continue;
        }
        reindex(*chosen);
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }

  // 10. to 12., on every way out: the glyphs as the library holds them now, the
  // open cabinet back in the archive object and in the tree.
  auto keep_first = [&failure] {
    if (!failure) failure = std::current_exception();
  };
  try {
    THourglass hourglass(ui);
    borrowed.PointAt(context_.Library, TZipSortMode::ByNone);
    Reload(/*report=*/false);
  } catch (...) {
    keep_first();
  }
  try {
    borrowed.Restore();
  } catch (...) {
    keep_first();
  }
  try {
    if (context_.RebuildCabinetTree) context_.RebuildCabinetTree();
  } catch (...) {
    keep_first();
  }
  if (failure) std::rethrow_exception(failure);
  if (library_changed)
    ui.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning), kLibraryChanged, MsgButtons::Ok);
  if (!failed.empty()) {
    std::string text = kNotUpdated;
    for (const std::string& f : failed) text += kCrLf + f;
    ui.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning), text, MsgButtons::Ok);
  }
}

}  // namespace qb
