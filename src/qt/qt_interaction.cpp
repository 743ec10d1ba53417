#include "qt/qt_interaction.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

#include "qt/copy_move_dialogs.h"
#include "qt/glyph_pictures.h"
#include "qt/legend_dialog.h"
#include "qt/memo_dialog.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

// Patterns of one filter, ";" or blanks between them, as Qt wants them: blank-separated.
QString NormalisedPatterns(const QString& patterns) {
  QStringList list;
  for (const QString& p : patterns.split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts))
    list.append(p);
  return list.join(QLatin1Char(' '));
}

QMessageBox::Icon IconOf(MsgKind kind) {
  switch (kind) {
    case MsgKind::Error:
      return QMessageBox::Critical;
    case MsgKind::Warning:
      return QMessageBox::Warning;
    case MsgKind::Information:
      return QMessageBox::Information;
    case MsgKind::Confirmation:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// While a dialog is up, the pointer is an arrow even when the hourglass is on.
class TArrowWhileModal {
 public:
  explicit TArrowWhileModal(bool hourglass) : active_(hourglass) {
    if (active_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~TArrowWhileModal() {
    if (active_) QApplication::restoreOverrideCursor();
  }
  TArrowWhileModal(const TArrowWhileModal&) = delete;
  TArrowWhileModal& operator=(const TArrowWhileModal&) = delete;

 private:
  bool active_;
};

}  // namespace

QStringList QtFileFilters(const std::string& windows_filter) {
  QStringList filters;
  const QStringList parts = FromUtf8(windows_filter).split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QString patterns = NormalisedPatterns(parts[i + 1]);
    // Qt takes the patterns from the last parentheses: keep them out of the text.
    patterns.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
    if (patterns.isEmpty()) patterns = QStringLiteral("*");
    if (description.isEmpty()) description = patterns;
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    const bool shows_patterns =
        description.endsWith(QLatin1Char(')')) && open >= 0 &&
        NormalisedPatterns(description.mid(open + 1, description.size() - open - 2)) == patterns;
    filters.append(shows_patterns ? parts[i].trimmed()
                                  : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return filters;
}

std::string FileDialogAnswer(const TFileDialogRequest& request, const std::string& chosen_path) {
  if (chosen_path.empty()) return chosen_path;
  return ApplyDefaultExtension(chosen_path, request.DefaultExt);
}

QString MessageBoxCaption(MsgKind kind, const std::string& caption) {
  return caption.empty() ? QString::fromLatin1(DefaultCaption(kind)) : FromUtf8(caption);
}

TQtInteraction::TQtInteraction(QWidget* parent) : parent_(parent) {}

TQtInteraction::~TQtInteraction() {
  while (hourglass_depth_ > 0) Hourglass(false);
}

MsgAnswer TQtInteraction::MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                                     MsgButtons buttons) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  QMessageBox box(IconOf(kind), MessageBoxCaption(kind, caption), FromUtf8(text), QMessageBox::NoButton,
                  parent_.data());
  box.setTextFormat(Qt::PlainText);
  QPushButton* first = nullptr;
  QPushButton* second = nullptr;
  MsgAnswer first_answer = MsgAnswer::Ok, second_answer = MsgAnswer::Cancel;
  switch (buttons) {
    case MsgButtons::Ok:
      first = box.addButton(QMessageBox::Ok);
      break;
    case MsgButtons::OkCancel:
      first = box.addButton(QMessageBox::Ok);
      second = box.addButton(QMessageBox::Cancel);
      break;
    case MsgButtons::YesNo:
      first = box.addButton(QMessageBox::Yes);
      second = box.addButton(QMessageBox::No);
      first_answer = MsgAnswer::Yes;
      second_answer = MsgAnswer::No;
      break;
    case MsgButtons::YesCancel:
      first = box.addButton(QMessageBox::Yes);
      second = box.addButton(QMessageBox::Cancel);
      first_answer = MsgAnswer::Yes;
      break;
  }
  box.setDefaultButton(first);
  box.setEscapeButton(second ? second : first);
  box.exec();
  if (second == nullptr) return first_answer;
  return box.clickedButton() == first ? first_answer : second_answer;
}

std::optional<std::string> TQtInteraction::InputBox(const std::string& caption, const std::string& prompt,
                                                    const std::string& initial_text) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  QInputDialog dialog(parent_.data());
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(FromUtf8(caption));
  dialog.setLabelText(FromUtf8(prompt));
  dialog.setTextValue(FromUtf8(initial_text));
  for (QLabel* label : dialog.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  dialog.resize(std::max(dialog.sizeHint().width(), 360), dialog.sizeHint().height());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ToUtf8(dialog.textValue());
}

std::optional<std::string> TQtInteraction::FileDialog(const TFileDialogRequest& request) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  QFileDialog dialog(parent_.data(), FromUtf8(request.Title));
  const bool save = request.Kind == TFileDialogKind::Save;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save || !(request.Options & ofFileMustExist) ? QFileDialog::AnyFile
                                                                  : QFileDialog::ExistingFile);
  if (save && !(request.Options & ofOverwritePrompt))
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  const QStringList filters = QtFileFilters(request.Filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!request.DefaultExt.empty()) dialog.setDefaultSuffix(FromUtf8(request.DefaultExt));
  const QString initial_dir = FromUtf8(request.InitialDir);
  if (!initial_dir.isEmpty() && QFileInfo(initial_dir).isDir()) dialog.setDirectory(initial_dir);
  if (!request.FileName.empty()) dialog.selectFile(FromUtf8(request.FileName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
  return FileDialogAnswer(request, ToUtf8(QDir::toNativeSeparators(chosen.front())));
}

std::optional<std::string> TQtInteraction::PictureDialog(const TFileDialogRequest& request) {
  TFileDialogRequest pictures = request;
  pictures.Filter = PictureFileFilter();
  return FileDialog(pictures);
}

std::optional<std::vector<std::string>> TQtInteraction::TextEditor(const TTextEditorRequest& request) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  TMemoDialog dialog(parent_.data());
  dialog.SetInteraction(this);
  dialog.Load(request);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Lines();
}

TGlyphDialogResult TQtInteraction::GlyphDialog(const TGlyphDialogRequest& request) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  TLegendDialog dialog(request, TGlyphImageList(user_glyphs_), parent_.data());
  dialog.exec();
  return dialog.Result();
}

TReplaceChoice TQtInteraction::ReplaceQuestion(const std::string& caption, const std::string& text) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  QMessageBox box(QMessageBox::Question, FromUtf8(caption), FromUtf8(text), QMessageBox::NoButton,
                  parent_.data());
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(QMessageBox::Yes);
  QPushButton* no = box.addButton(QMessageBox::No);
  QPushButton* all = box.addButton(QMessageBox::YesToAll);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(yes);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == yes) return TReplaceChoice::Yes;
  if (box.clickedButton() == no) return TReplaceChoice::No;
  if (box.clickedButton() == all) return TReplaceChoice::YesToAll;
  return TReplaceChoice::Cancel;
}

std::optional<std::string> TQtInteraction::PasswordDialog(const TPasswordRequest& request) {
  const TArrowWhileModal arrow(hourglass_depth_ > 0);
  TPWordDlg dialog(parent_.data());
  dialog.ActionLbl()->setText(FromUtf8(request.Label));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ToUtf8(dialog.Password()->text());
}

bool TQtInteraction::TransferProgress(const TTransferProgress& progress) {
  auto* window = static_cast<TCpyMvFrm*>(progress_.data());
  if (!window) {
    window = new TCpyMvFrm(parent_.data());
    window->setAttribute(Qt::WA_DeleteOnClose);
    progress_ = window;
  }
  window->Show(FromUtf8(progress.Action), FromUtf8(progress.From), FromUtf8(progress.To), progress.Whole,
               progress.Entry);
  return !window->CancelPressed();
}

void TQtInteraction::CloseTransferProgress() {
  if (progress_) progress_->close();
  progress_ = nullptr;
}

void TQtInteraction::Hourglass(bool on) {
  if (on) {
    if (hourglass_depth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (hourglass_depth_ > 0) {
    if (--hourglass_depth_ == 0) QApplication::restoreOverrideCursor();
  }
}

bool TQtInteraction::OpenWebAddress(const std::string& address) {
  const QUrl url(FromUtf8(address), QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http") &&
                         scheme != QLatin1String("mailto")))
    return false;
  return QDesktopServices::openUrl(url);
}

}  // namespace qb::qt
