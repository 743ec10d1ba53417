// TMemoDialog: the text editor dialog on screen, over TMemoForm's logic.
//
// The dialog is a QDialog of the design size holding the editor (TMemoEditor, a
// QPlainTextEdit with a bookmark gutter and the highlighting engine) above a bottom
// panel with OK and Cancel. It owns a TMemoForm and forwards to it: the pop-up
// menu and its shortcuts (set / go to bookmark, copy, paste, cut) call the form's
// handlers, a resize of the panel calls FormResize and the Cancel button goes where
// the form says, the gutter draws the marks the form's Memo1PaintGutter returns,
// and edits move the bookmarks through LinesReplaced.
//
// Lines go in and out as the text editor request has them: one string per line,
// without line breaks. An empty document is no lines. Until the text is edited, the
// lines that went in come out exactly as they were (whatever the document made of
// them); closing without OK after an edit asks before the edit is thrown away.
//
// A long text goes into the editor piece by piece: the first piece at once, so the
// first screen is up without waiting for the rest, the rest in slices between
// window events, appended at the end, neither undoable nor marking the text as
// modified. Any key, typed text, pasted or dropped text and every command of the
// pop-up menu first take in the rest of the text at once, so every edit works on
// the whole text.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "panes/text_editor.h"
#include "platform/interaction.h"

class QAction;
class QMenu;
class QPushButton;

namespace qb::qt {

class THLSyntaxHighlighter;

// The picture of bookmark mark n (0..9): a small ribbon with the digit, size x size
// logical pixels, drawn for the given device pixel ratio.
QPixmap BookmarkMarkPixmap(int n, int size = memo_form::kGutterImageSize, qreal device_pixel_ratio = 1.0);

// The editor font: "Courier New" at the design height when the system has it, else a
// metric-compatible or the system's fixed-width font.
QFont MemoEditorFont();

// The editor control: a plain-text editor with a gutter on its left.
class TMemoEditor : public QPlainTextEdit, public TMemoEditorControl {
  Q_OBJECT
 public:
  explicit TMemoEditor(QWidget* parent = nullptr);
  ~TMemoEditor() override;

  // What the gutter draws: called with the current metrics when it paints.
  void SetGutterImagesSource(std::function<std::vector<TGutterImage>(const TGutterMetrics&)> source) {
    gutter_source_ = std::move(source);
  }
  // Called after each edit with the lines replaced: first, removed, inserted.
  void SetLinesReplacedHandler(std::function<void(int, int, int)> handler) {
    lines_replaced_ = std::move(handler);
  }

  void SetLines(const std::vector<std::string>& lines);
  void SetLines(std::shared_ptr<const std::vector<std::string>> lines);
  // The whole text's lines (the rest of a text being loaded taken in first).
  std::vector<std::string> Lines();

  // Whether part of the text set is still to go in; FinishLoading takes it in now.
  bool Loading() const { return pending_ != nullptr; }
  void FinishLoading();
  // A text that costs more than this goes in piece by piece; the cost of lines is
  // their bytes and kLineCost for each line (a line is a block of the document).
  static constexpr size_t kFirstPieceCost = 64 * 1024;
  static constexpr size_t kLineCost = 100;

  TGutterMetrics GutterMetrics() const;
  // The marks drawn by the last paint of the gutter, in logical pixels of the gutter.
  const std::vector<TGutterImage>& LastPaintedMarks() const { return last_painted_; }
  QWidget* Gutter() const { return gutter_; }
  THLSyntaxHighlighter* Highlighter() const { return highlighter_; }

  // TMemoEditorControl
  int CaretX() const override;
  int CaretY() const override;
  void SetCaretX(int x) override;
  void SetCaretY(int y) override;
  void Repaint() override;
  void SetFocus() override;
  void CopyToClipboard() override;
  void CutToClipboard() override;
  void PasteFromClipboard() override;
  void SetHighLighter(THighLighter mode) override;
  void SetColors(const TColors& colors) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Colours what is about to be painted, then paints.
  void paintEvent(QPaintEvent* event) override;
  // Input that edits or moves the cursor: the rest of the text goes in first.
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  friend class TMemoGutter;
  void PaintGutter(QPaintEvent* event);
  void OnContentsChange(int position, int removed, int added);
  void ApplyPalette();
  // Appends lines [from, to) of the text being loaded.
  void AppendLines(size_t from, size_t to);
  void LoadSlice();

  QWidget* gutter_ = nullptr;
  THLSyntaxHighlighter* highlighter_ = nullptr;
  std::function<std::vector<TGutterImage>(const TGutterMetrics&)> gutter_source_;
  std::function<void(int, int, int)> lines_replaced_;
  std::vector<TGutterImage> last_painted_;
  int block_count_ = 1;
  int wanted_column_ = 0;
  // The text being loaded, the first of its lines not yet in the document, and the
  // cost of the next slice (made to take about 20 ms).
  std::shared_ptr<const std::vector<std::string>> pending_;
  size_t next_line_ = 0;
  size_t slice_cost_ = kFirstPieceCost;
  QTimer load_timer_;
};

class TMemoDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TMemoDialog(QWidget* parent = nullptr);
  ~TMemoDialog() override;

  // Caption, highlighter number and lines of a request.
  void Load(const TTextEditorRequest& request);
  // The lines of the request until the text is edited, then the editor's.
  std::vector<std::string> Lines() const;
  bool TextModified() const;
  // Where the question before throwing edits away goes (a box of the dialog's own
  // when none is set). Not owned.
  void SetInteraction(IUserInteraction* ui) { ui_ = ui; }

  // Cancel, Escape and the close box: asks first when the text was edited.
  void reject() override;

  TMemoForm& Form() { return *form_; }
  TMemoEditor* Editor() const { return editor_; }
  QPushButton* OKBtn() const { return ok_btn_; }
  QPushButton* CancelBtn() const { return cancel_btn_; }
  QWidget* Panel1() const { return panel1_; }
  QMenu* PopMnu() const { return pop_mnu_; }
  // The pop-up menu's action named as in PopMnuItems() ("N31", "Copy1" ...); null if none.
  QAction* MenuAction(const QString& name) const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenu();
  void PlaceButtons();

  TMemoEditor* editor_ = nullptr;
  std::unique_ptr<TMemoForm> form_;
  QWidget* panel1_ = nullptr;
  QPushButton* ok_btn_ = nullptr;
  QPushButton* cancel_btn_ = nullptr;
  QMenu* pop_mnu_ = nullptr;
  IUserInteraction* ui_ = nullptr;
  std::shared_ptr<const std::vector<std::string>> loaded_lines_;
};

}  // namespace qb::qt
