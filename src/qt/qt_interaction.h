// TQtInteraction: the user-interaction interface shown with real Qt dialogs.
//
// Message boxes are QMessageBox with the kind's caption and icon; input boxes are
// QInputDialog; the file dialog is QFileDialog with the filter converted from the
// "Description|pattern;pattern|..." form the commands use; the text editor and the
// glyph legend/chooser are the program's own dialogs (TMemoDialog, TLegendDialog);
// the hourglass is the application's override cursor. Every text a command passes
// (item names, notes, file names) is shown as plain text, never as markup.
//
// The conversions that decide something (the filter, the default extension) are
// free functions so that they can be tested without showing a dialog.
#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/interaction.h"

namespace qb::qt {

// One filter of the common file dialog in Qt's form, "Description (pattern pattern)".
// Pairs come from "Description|pattern;pattern|...": an incomplete last pair is
// dropped, an empty pattern list means every file ("*"), an empty description shows
// the patterns. When the description already ends in the patterns in parentheses it
// is kept as it is; otherwise the patterns are appended, since Qt reads the patterns
// from the last parentheses of each filter.
QStringList QtFileFilters(const std::string& windows_filter);

// The path a file dialog answers with: the chosen path with the request's default
// extension applied to a name that has none (see ApplyDefaultExtension).
std::string FileDialogAnswer(const TFileDialogRequest& request, const std::string& chosen_path);

// The QMessageBox caption for a kind: the given caption, or the kind's default one.
QString MessageBoxCaption(MsgKind kind, const std::string& caption);

class TQtInteraction : public IUserInteraction {
 public:
  // parent: the window dialogs are centred on and modal to; may be null, and may go
  // away before this object does.
  explicit TQtInteraction(QWidget* parent = nullptr);
  ~TQtInteraction() override;
  TQtInteraction(const TQtInteraction&) = delete;
  TQtInteraction& operator=(const TQtInteraction&) = delete;

  void SetParent(QWidget* parent) { parent_ = parent; }
  QWidget* Parent() const { return parent_; }

  // The user glyphs (glyph indexes 22 on, in library order) the glyph dialog shows
  // after the 22 fixed glyphs.
  void SetUserGlyphImages(std::vector<QImage> images) { user_glyphs_ = std::move(images); }

  MsgAnswer MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                       MsgButtons buttons) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initial_text) override;
  std::optional<std::string> FileDialog(const TFileDialogRequest& request) override;
  // The file dialog offering every picture format Qt reads.
  std::optional<std::string> PictureDialog(const TFileDialogRequest& request) override;
  std::optional<std::vector<std::string>> TextEditor(const TTextEditorRequest& request) override;
  TGlyphDialogResult GlyphDialog(const TGlyphDialogRequest& request) override;
  TReplaceChoice ReplaceQuestion(const std::string& caption, const std::string& text) override;
  std::optional<std::string> PasswordDialog(const TPasswordRequest& request) override;
  bool TransferProgress(const TTransferProgress& progress) override;
  void CloseTransferProgress() override;
  // Nested: the override cursor is set on the first "on" and restored on the
  // matching last "off"; unmatched "off" calls do nothing.
  void Hourglass(bool on) override;
  int HourglassDepth() const { return hourglass_depth_; }

  // Opens a web address (http, https or mailto) with the desktop's default handler;
  // false when it is not such an address or could not be opened.
  bool OpenWebAddress(const std::string& address);

 private:
  QPointer<QWidget> parent_;
  std::vector<QImage> user_glyphs_;
  int hourglass_depth_ = 0;
  QPointer<QWidget> progress_;  // the transfer's progress window, while shown
};

}  // namespace qb::qt
