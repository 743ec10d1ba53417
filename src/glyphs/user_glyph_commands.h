// TUserGlyphCommands: the user glyphs of the running program - loading the library
// at start-up, Add To User Glyphs and Delete User Glyphs with the re-indexing of
// cabinets - and the state they keep: the glyphs in library order (titles and
// pictures), which the glyph image list, the legend and the choosers show after
// the 22 fixed glyphs.
//
// Both commands borrow the main window's archive object for the library and the
// cabinets they re-index, and point it back at the open cabinet on every way out
// (TBorrowedArchive). They run as commands of the main window's operation queue,
// so nothing else works on the archive object meanwhile.
//
// Decisions beyond the bare commands:
// - The glyph list is always read back from the library after it changed, so
//   image 22 + k is library entry k even when the engine stored a title other than
//   the one typed (a title with a drive or a path prefix) or refused it.
// - A title that is empty, only blanks, or stored as no name at all is refused
//   with a message and asked for again; nothing is stored.
// - A title is taken when its stored form equals an existing title, ASCII letters
//   folded (the engine would otherwise replace that glyph in place).
// - A library that cannot be read at start-up is reported; the program runs with
//   the fixed glyphs and the file is left alone. Adding a glyph then says that a
//   new library will be started and keeps the unreadable file beside it as
//   "UserGlyphs.dll.damaged"; deleting says that nothing can be deleted from it.
// - Entries that are not readable pictures keep their place as empty glyphs, so
//   the indexes of the glyphs behind them stay right.
// - The deletion checks that the library still holds the glyphs the dialog
//   showed (another instance may have changed it) before it deletes anything.
// - A cabinet that cannot be re-indexed (read-only, damaged, held by another
//   writer) does not end the deletion: the others are still done, and the ones
//   that failed are listed at the end. A cabinet already re-indexed in the same
//   deletion (the open cabinet, a Re-Open entry, an earlier choice; the same file
//   on disk) is never shifted twice: a choice of one says so and is skipped.
// - The hourglass shows while the archive work runs, not while a question waits.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "explorer/explorer_window.h"
#include "glyphs/user_glyph_library.h"
#include "platform/interaction.h"
#include "zip/zip_writer.h"

namespace qb {

namespace user_glyph_text {
inline constexpr const char* kPictureDialogTitle = "Choose Glyph To Add To UserGlyph.dll";
inline constexpr const char* kPictureDefaultExt = "bmp";
inline constexpr const char* kPictureFilter = "Bitmaps (*.bmp)|*.bmp|All files (*)|*";
inline constexpr const char* kTooBig =
    "Glyphs are required to be no bigger than 16 x 16,\r\nhave a maximum of 256 colours, and a background "
    "colour of clFuchsia";
inline constexpr const char* kTitleCaption = "Glyph Legend Title";
inline constexpr const char* kTitlePrompt = "Provide a title for your glyph";
inline constexpr const char* kDuplicateCaption = "Glyph Name Already Exists!";
inline constexpr const char* kDuplicatePrompt = "Supply a different name for this glyph";
inline constexpr const char* kBlankTitle = "A glyph needs a title: it may not be empty or only blanks.";
inline constexpr const char* kNotStored = "The glyph could not be stored under the title ";
inline constexpr const char* kReOpenQuestion =
    "Do you wish to update the image indexes within the\r\nFile Cabinets listed in your ReOpen menu ?";
inline constexpr const char* kAnotherQuestion =
    "Is there another File Cabinet you wish to amend the alocated glyphs for?";
inline constexpr const char* kResortTitle = "Open A File Cabinet For Glyph Resorting";
inline constexpr const char* kAlreadyDone =
    "has already been updated in this deletion; it is not changed again.";
inline constexpr const char* kNotUpdated =
    "These File Cabinets could not be updated; their items may now show other glyphs:";
inline constexpr const char* kLibraryChanged =
    "The user glyph library has changed since it was loaded. Nothing was deleted;\r\n"
    "the glyphs are shown as the library holds them now.";
}  // namespace user_glyph_text

// What the main window lends the user glyph commands; everything outlives them.
struct TUserGlyphContext {
  IUserInteraction& UI;
  zip::TZipWriter& Zip1;
  TDockableForm& Explorer;  // its glyph image count follows the glyph list
  std::string Library;      // the library file
  // The picture dialog's folder (PicDlg.InitialDir) and the cabinet open dialog's.
  std::string& PicDlgInitialDir;
  std::string& OpenDialogInitialDir;
  // Reads a picture file the user picked: its size, and when it is no larger than
  // 16 x 16 its BMP form. Throws for a file that is no picture. When empty, BMP
  // files are read (ReadBmpPicture).
  std::function<glyphs::TGlyphPicture(const std::string& path)> ReadPicture;
  // The paths of the Re-Open list's entries, in list order; may be empty.
  std::function<std::vector<std::string>()> ReOpenCabinets;
  // Rebuilds the explorer tree from the open cabinet; may be empty.
  std::function<void()> RebuildCabinetTree;
};

class TUserGlyphCommands {
 public:
  explicit TUserGlyphCommands(TUserGlyphContext context);

  // The titles, in library order (the user glyph name list).
  std::vector<std::string>& Names() { return names_; }
  const std::vector<std::string>& Names() const { return names_; }
  // The glyphs, in library order.
  const std::vector<glyphs::TUserGlyph>& Glyphs() const { return glyphs_; }
  // Why the library could not be read at the last load; empty when it was.
  const std::string& LibraryProblem() const { return problem_; }
  // The reader of picture files the windowing layer has (see TUserGlyphContext).
  void SetPictureReader(std::function<glyphs::TGlyphPicture(const std::string& path)> reader) {
    context_.ReadPicture = std::move(reader);
  }
  // Called whenever the glyph list changed (the image list is to be rebuilt).
  std::function<void(const std::vector<glyphs::TUserGlyph>&)> OnGlyphsChanged;

  // Start-up: reads the library (nothing when it does not exist) and reports a
  // library or entries that cannot be read.
  void LoadUserGlyphs();
  void AddUserGlyphsMiClick();
  void RemoveUserGlyphsMiClick();

 private:
  // Reads the library the archive object points at into the glyph list; reports
  // what could not be read when report is set.
  void Reload(bool report);
  void SetGlyphs(std::vector<glyphs::TUserGlyph> glyphs);
  // Asks before a new library replaces one that cannot be read; moves that one
  // aside on Yes.
  bool ReplaceUnreadableLibrary(const std::string& problem);
  glyphs::TGlyphPicture ReadPicture(const std::string& path) const;

  TUserGlyphContext context_;
  std::vector<glyphs::TUserGlyph> glyphs_;
  std::vector<std::string> names_;
  std::string problem_;
};

}  // namespace qb
