// The program's dialogs on screen (offscreen): the text editor dialog over
// TMemoForm, the glyph legend/chooser over TViewForm's requests, the About box, the
// help window with its manual, and TQtInteraction's boxes and conversions.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <functional>

#include "panes/glyph_legend.h"
#include "panes/text_editor.h"
#include "qt/about_dialog.h"
#include "qt/copy_move_dialogs.h"
#include "qt/help_window.h"
#include "qt/hl_syntax_highlighter.h"
#include "qt/legend_dialog.h"
#include "qt/memo_dialog.h"
#include "qt/qt_interaction.h"
#include "qt/qt_text.h"
#include "support/test_support.h"

static void InitQuiverboxResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(quiverbox);
    return true;
  }();
  (void)done;
}

QT_BEGIN_NAMESPACE
// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << '{' << l.join(QStringLiteral("|")).toStdString() << '}';
}
QT_END_NAMESPACE

namespace qb::qt {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Runs action on the modal dialog as soon as the event loop shows one; gives up (and
// fails) if none appears within many turns of the loop.
void WhenModal(std::function<void(QWidget*)> action, int turns_left = 2000) {
  QTimer::singleShot(0, [action = std::move(action), turns_left]() mutable {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      action(modal);
    } else if (turns_left > 0) {
      WhenModal(std::move(action), turns_left - 1);
    } else {
      ADD_FAILURE() << "no modal dialog appeared";
    }
  });
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitQuiverboxResources(); }
};

// --- the text editor dialog ------------------------------------------------------------

using MemoDialogTest = DialogsTest;

TEST_F(MemoDialogTest, LinesComeBackAsTheyWentInOnOkAndNothingOnCancel) {
  TQtInteraction ui;
  TTextEditorRequest request;
  request.Caption = "Editing Text Item : NewItems\\Item0";
  request.HighLighter = 2;
  request.Lines = {"int main() {", "", "\treturn 0; // caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "}", ""};
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<TMemoDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Editing Text Item : NewItems\\Item0"));
    dialog->OKBtn()->click();
  });
  EXPECT_EQ(ui.TextEditor(request), std::optional<std::vector<std::string>>(request.Lines));

  // An edit is what comes back.
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<TMemoDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTextCursor cursor(dialog->Editor()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("added\nlast"));
    dialog->OKBtn()->click();
  });
  const auto edited = ui.TextEditor(request);
  ASSERT_TRUE(edited.has_value());
  std::vector<std::string> expected = request.Lines;
  expected.back() = "added";
  expected.push_back("last");
  EXPECT_EQ(*edited, expected);

  WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });  // Escape, the close box
  EXPECT_EQ(ui.TextEditor(request), std::nullopt);
  WhenModal([](QWidget* modal) { qobject_cast<TMemoDialog*>(modal)->CancelBtn()->click(); });
  EXPECT_EQ(ui.TextEditor(request), std::nullopt);
}

// Runs action on the message box as soon as one is up over the editor.
void WhenMessageBox(std::function<void(QMessageBox*)> action, int turns_left = 2000) {
  QTimer::singleShot(0, [action = std::move(action), turns_left]() mutable {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      action(box);
    } else if (turns_left > 0) {
      WhenMessageBox(std::move(action), turns_left - 1);
    } else {
      ADD_FAILURE() << "no message box appeared";
    }
  });
}

// OK without an edit hands back exactly the lines that went in, also those a text
// document cannot tell apart (no lines and one empty line, a final empty line).
TEST_F(MemoDialogTest, UneditedLinesComeBackExactly) {
  TQtInteraction ui;
  for (const std::vector<std::string>& lines : std::vector<std::vector<std::string>>{
           {""}, {}, {"", ""}, {"a", ""}, {"cr\rinside", "tab\tx"}, {"\xEF\xB7\x90 frame mark"}}) {
    TTextEditorRequest request;
    request.Lines = lines;
    WhenModal([](QWidget* modal) { qobject_cast<TMemoDialog*>(modal)->OKBtn()->click(); });
    EXPECT_EQ(ui.TextEditor(request), std::optional<std::vector<std::string>>(lines));
  }
}

// Escape, Cancel and the close box throw edits away only when the user agrees.
TEST_F(MemoDialogTest, ClosingWithoutOkAfterAnEditAsksFirst) {
  TQtInteraction ui;
  TTextEditorRequest request;
  request.Lines = {"keep me"};
  std::vector<QString> asked;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<TMemoDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTest::keyClicks(dialog->Editor(), QStringLiteral("typed "));
    WhenMessageBox([&](QMessageBox* box) {
      asked.push_back(box->windowTitle() + QLatin1Char('|') + box->text());
      box->button(QMessageBox::No)->click();
    });
    QTest::keyClick(dialog->Editor(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());  // No: still editing
    WhenMessageBox([&](QMessageBox* box) {
      asked.push_back(box->text());
      box->button(QMessageBox::No)->click();
    });
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    WhenMessageBox([&](QMessageBox* box) {
      asked.push_back(box->text());
      box->button(QMessageBox::Yes)->click();
    });
    dialog->CancelBtn()->click();
  });
  EXPECT_EQ(ui.TextEditor(request), std::nullopt);
  EXPECT_EQ(asked, (std::vector<QString>{QStringLiteral("Confirm|Discard your changes?"),
                                         QStringLiteral("Discard your changes?"),
                                         QStringLiteral("Discard your changes?")}));

  // Without an edit (or with the edit undone) Escape closes at once.
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<TMemoDialog*>(modal);
    QTest::keyClicks(dialog->Editor(), QStringLiteral("x"));
    dialog->Editor()->undo();
    QTest::keyClick(dialog->Editor(), Qt::Key_Escape);
  });
  EXPECT_EQ(ui.TextEditor(request), std::nullopt);
}

TEST_F(MemoDialogTest, EmptyAndHostileTextLoadsWithoutHarm) {
  TMemoDialog dialog;
  dialog.Load({});
  EXPECT_EQ(dialog.windowTitle(), Q(std::string(memo_form::kDefaultCaption)));
  EXPECT_TRUE(dialog.Lines().empty());

  TTextEditorRequest request;
  request.HighLighter = -7;
  request.Lines = {std::string("nul\0inside", 10), "\xFF\xFE bad utf-8 \xC3", "cr\rin line",
                   "\xE2\x80\xA8 line separator",  "\xEF\xB7\x90 frame mark", std::string(100000, 'x')};
  dialog.Load(request);
  EXPECT_EQ(dialog.Form().HighLight(), hlNone);
  const std::vector<std::string> lines = dialog.Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], std::string("nul\0inside", 10));
  EXPECT_EQ(lines.back(), std::string(100000, 'x'));
  dialog.show();
  EXPECT_FALSE(dialog.grab().isNull());
}

// Whether any character of the block's first line is drawn bold.
bool HasBoldText(const QTextBlock& block) {
  for (const QTextLayout::FormatRange& range : block.layout()->formats())
    if (range.format.fontWeight() == QFont::Bold) return true;
  return false;
}

TEST_F(MemoDialogTest, TheTagChoosesTheHighlighter) {
  TMemoDialog dialog;
  TTextEditorRequest request;
  request.Lines = {"int x = 1;"};
  request.HighLighter = 2;  // C++
  dialog.Load(request);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.Form().HighLight(), hlCBuilder);
  EXPECT_EQ(dialog.Editor()->Highlighter()->HighLighter(), hlCBuilder);
  EXPECT_TRUE(HasBoldText(dialog.Editor()->document()->firstBlock()));  // "int" is a reserved word

  request.HighLighter = 0;
  dialog.Load(request);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.Editor()->Highlighter()->HighLighter(), hlNone);
  EXPECT_FALSE(HasBoldText(dialog.Editor()->document()->firstBlock()));

  for (int tag = 0; tag <= 9; ++tag) {
    request.HighLighter = tag;
    dialog.Load(request);
    EXPECT_EQ(dialog.Editor()->Highlighter()->HighLighter(), HighLighterFromNumber(tag)) << tag;
  }
  request.HighLighter = 10;
  dialog.Load(request);
  EXPECT_EQ(dialog.Editor()->Highlighter()->HighLighter(), hlNone);
}

TEST_F(MemoDialogTest, PopUpMenuHasTheItemsAndShortcuts) {
  TMemoDialog dialog;
  QList<QAction*> top = dialog.PopMnu()->actions();
  ASSERT_EQ(top.size(), 6);
  EXPECT_EQ(top[0]->text(), QStringLiteral("&Set Bookmark"));
  ASSERT_NE(top[0]->menu(), nullptr);
  EXPECT_EQ(top[0]->menu()->actions().size(), 10);
  EXPECT_EQ(top[1]->text(), QStringLiteral("&Go To Bookmark"));
  EXPECT_TRUE(top[2]->isSeparator());
  EXPECT_EQ(top[3]->text(), QStringLiteral("&Copy"));
  EXPECT_EQ(top[4]->text(), QStringLiteral("&Paste"));
  EXPECT_EQ(top[5]->text(), QStringLiteral("C&ut"));
  EXPECT_EQ(top[3]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
  for (int n = 0; n <= 9; ++n) {
    QAction* set = dialog.MenuAction(QStringLiteral("N%1").arg(n) + QLatin1Char('1'));
    QAction* go = dialog.MenuAction(QStringLiteral("N%1").arg(n) + QLatin1Char('2'));
    ASSERT_NE(set, nullptr) << n;
    ASSERT_NE(go, nullptr) << n;
    EXPECT_EQ(set->text(), QStringLiteral("&%1").arg(n));
    EXPECT_EQ(set->shortcut(), QKeySequence(Qt::SHIFT | Qt::CTRL | (Qt::Key_0 + n)));
    EXPECT_EQ(go->shortcut(), QKeySequence(Qt::CTRL | (Qt::Key_0 + n)));
  }
}

TEST_F(MemoDialogTest, BookmarksAreSetClearedAndVisitedThroughTheShortcuts) {
  TMemoDialog dialog;
  TTextEditorRequest request;
  for (int i = 0; i < 40; ++i) request.Lines.push_back("line " + std::to_string(i));
  dialog.Load(request);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  TMemoEditor* editor = dialog.Editor();
  editor->setFocus();

  editor->SetCaretY(7);
  editor->SetCaretX(3);
  QTest::keyClick(editor, Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(dialog.Form().Bookmark(3).Valid);
  EXPECT_EQ(dialog.Form().Bookmark(3).Y, 7);
  EXPECT_EQ(dialog.Form().Bookmark(3).X, 3);

  editor->SetCaretY(30);
  editor->SetCaretX(0);
  QTest::keyClick(editor, Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(editor->CaretY(), 7);
  EXPECT_EQ(editor->CaretX(), 3);

  // Setting it again at the caret clears it; going to a cleared one stays put.
  QTest::keyClick(editor, Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(dialog.Form().Bookmark(3).Valid);
  editor->SetCaretY(12);
  dialog.MenuAction(QStringLiteral("N32"))->trigger();
  EXPECT_EQ(editor->CaretY(), 12);
  // No digit typed into the text by the shortcuts.
  EXPECT_EQ(dialog.Lines(), request.Lines);

  // A bookmark keeps to its line when lines are inserted above it.
  editor->SetCaretY(10);
  editor->SetCaretX(2);
  dialog.MenuAction(QStringLiteral("N51"))->trigger();
  QTextCursor cursor(editor->document());
  cursor.insertText(QStringLiteral("new 1\nnew 2\n"));
  EXPECT_EQ(dialog.Form().Bookmark(5).Y, 12);
  editor->SetCaretY(0);
  dialog.MenuAction(QStringLiteral("N52"))->trigger();
  EXPECT_EQ(editor->textCursor().block().text(), QStringLiteral("line 10"));
  EXPECT_EQ(editor->CaretX(), 2);
}

TEST_F(MemoDialogTest, GoToAColumnPastTheLineEndStopsAtTheEnd) {
  TMemoDialog dialog;
  dialog.Load({"", 0, {"a long line here", "ab", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"}});
  TMemoEditor* editor = dialog.Editor();
  editor->SetCaretY(0);
  editor->SetCaretX(12);
  dialog.MenuAction(QStringLiteral("N01"))->trigger();
  editor->SetCaretY(1);
  dialog.MenuAction(QStringLiteral("N02"))->trigger();
  EXPECT_EQ(editor->CaretY(), 0);
  EXPECT_EQ(editor->CaretX(), 12);
  editor->SetCaretX(99);
  EXPECT_EQ(editor->CaretX(), 16);
  editor->SetCaretY(1);
  EXPECT_EQ(editor->CaretX(), 2);
  editor->SetCaretY(2);  // never between the halves of a surrogate pair
  editor->SetCaretX(3);
  EXPECT_EQ(editor->CaretX(), 2);
  editor->SetCaretY(-5);
  EXPECT_EQ(editor->CaretY(), 0);
  editor->SetCaretY(1 << 30);
  EXPECT_EQ(editor->CaretY(), 2);
}

TEST_F(MemoDialogTest, CopyCutAndPasteUseTheClipboard) {
  TMemoDialog dialog;
  dialog.Load({"", 0, {"alpha", "beta"}});
  TMemoEditor* editor = dialog.Editor();
  editor->selectAll();
  dialog.MenuAction(QStringLiteral("Copy1"))->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("alpha\nbeta"));
  dialog.MenuAction(QStringLiteral("Cut1"))->trigger();
  EXPECT_TRUE(dialog.Lines().empty());
  dialog.MenuAction(QStringLiteral("Paste1"))->trigger();
  dialog.MenuAction(QStringLiteral("Paste1"))->trigger();
  EXPECT_EQ(dialog.Lines(), (std::vector<std::string>{"alpha", "betaalpha", "beta"}));
}

// Lines of C worth several first pieces, a comment open across many of them; with
// hostile, some lines the document does not keep as they are (broken UTF-8, a CR,
// a paragraph separator, a byte order mark).
std::vector<std::string> LongCText(bool hostile = false) {
  std::vector<std::string> lines;
  size_t cost = 0;
  for (int i = 0; cost < 4 * TMemoEditor::kFirstPieceCost; ++i) {
    lines.push_back(i % 97 == 5    ? "/* open \xC3\xA9"
                    : i % 97 == 60 ? "close */ int z;"
                                   : "int v" + std::to_string(i) + " = f(\"s\", 'c'); // \xE2\x82\xAC");
    if (hostile && i % 1500 == 700) lines.back() += "\xC3 \r /* \xE2\x80\xA9 \xEF\xBB\xBF";
    cost += lines.back().size() + TMemoEditor::kLineCost;
  }
  return lines;
}

// Runs the event loop until the editor has the whole text; false if it never does.
bool LoadedThroughEvents(TMemoEditor* editor) {
  for (int turn = 0; turn < 10000 && editor->Loading(); ++turn) QCoreApplication::processEvents();
  return !editor->Loading();
}

TEST_F(MemoDialogTest, ALongTextGoesInPieceByPieceAsIfAtOnce) {
  for (const bool hostile : {false, true}) {
    TTextEditorRequest request;
    request.HighLighter = 2;
    request.Lines = LongCText(hostile);
    TMemoDialog dialog;
    dialog.show();
    dialog.Load(request);
    TMemoEditor* editor = dialog.Editor();
    QTextDocument* doc = editor->document();
    ASSERT_TRUE(editor->Loading());
    EXPECT_LT(doc->blockCount(), static_cast<int>(request.Lines.size()));
    EXPECT_EQ(doc->firstBlock().text(), Q(request.Lines[0]));
    EXPECT_EQ(dialog.Lines(), request.Lines);  // unedited: the lines as they came, also meanwhile
    // The user's cursor at the end of what is in stays there as the rest comes.
    editor->moveCursor(QTextCursor::End);
    const int cursor_line = editor->CaretY();
    const int cursor_column = editor->CaretX();

    ASSERT_TRUE(LoadedThroughEvents(editor));
    // The document is what the text put in at once makes of it.
    QTextDocument at_once;
    QStringList lines;
    for (const std::string& line : request.Lines) lines.append(Q(line));
    at_once.setPlainText(lines.join(QLatin1Char('\n')));
    EXPECT_EQ(doc->toRawText(), at_once.toRawText());
    if (!hostile) {
      EXPECT_EQ(editor->Lines(), request.Lines);
    }
    EXPECT_FALSE(doc->isModified());
    EXPECT_FALSE(doc->isUndoAvailable());
    EXPECT_EQ(editor->textCursor().blockNumber(), cursor_line);
    EXPECT_EQ(editor->textCursor().positionInBlock(), cursor_column);
    // The highlighter followed: its copy of the text is the document's, and the last
    // line (after many comments opened and closed) starts in the state a fresh
    // engine gives it.
    THLSyntaxHighlighter* highlighter = editor->Highlighter();
    ASSERT_EQ(highlighter->Engine().LineCount(), static_cast<size_t>(doc->blockCount()));
    size_t n = 0;
    for (QTextBlock block = doc->firstBlock(); block.isValid(); block = block.next(), ++n)
      ASSERT_EQ(highlighter->Engine().Line(n), ToUtf8(block.text())) << n;
    THLEditor fresh;
    fresh.SetHighLighter(hlCBuilder);
    fresh.SetText(ToUtf8(editor->toPlainText()));
    const size_t last = n - 1;
    EXPECT_EQ(highlighter->Engine().LineStartState(last), fresh.LineStartState(last));
    EXPECT_EQ(highlighter->Resyncs(), 1);  // only when the highlighter was made
  }
}

// A key, a menu command or the caret moved by the program first take in the rest,
// and what the user does then is one undoable edit of the whole text.
TEST_F(MemoDialogTest, InputWhileALongTextGoesInWorksOnTheWholeText) {
  TTextEditorRequest request;
  request.Lines = LongCText();
  TMemoDialog dialog;
  dialog.show();
  TMemoEditor* editor = dialog.Editor();

  dialog.Load(request);
  ASSERT_TRUE(editor->Loading());
  QTest::keyClick(editor, Qt::Key_X);
  EXPECT_FALSE(editor->Loading());
  std::vector<std::string> typed = request.Lines;
  typed[0].insert(0, "x");
  EXPECT_EQ(dialog.Lines(), typed);
  editor->undo();
  EXPECT_EQ(editor->Lines(), request.Lines);
  EXPECT_FALSE(editor->document()->isUndoAvailable());

  dialog.Load(request);
  ASSERT_TRUE(editor->Loading());
  QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(editor->CaretY(), static_cast<int>(request.Lines.size()) - 1);

  dialog.Load(request);
  ASSERT_TRUE(editor->Loading());
  editor->SetCaretY(static_cast<int>(request.Lines.size()) - 2);
  EXPECT_EQ(editor->CaretY(), static_cast<int>(request.Lines.size()) - 2);

  dialog.Load(request);
  ASSERT_TRUE(editor->Loading());
  QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
  dialog.MenuAction(QStringLiteral("Cut1"))->trigger();
  EXPECT_TRUE(dialog.Lines().empty());

  // A text set anew while one goes in replaces it whole.
  dialog.Load(request);
  dialog.Load({"", 0, {"short"}});
  EXPECT_FALSE(editor->Loading());
  EXPECT_EQ(editor->Lines(), (std::vector<std::string>{"short"}));
}

TEST_F(MemoDialogTest, CancelKeepsTheOkButtonsMarginToTheRight) {
  TMemoDialog dialog;
  dialog.show();
  EXPECT_EQ(dialog.size(), QSize(memo_form::kDesignWidth, memo_form::kDesignHeight));
  EXPECT_EQ(dialog.Panel1()->height(), memo_form::kPanel1Height);
  EXPECT_EQ(dialog.OKBtn()->geometry(), QRect(6, 5, 82, 30));
  for (int width : {544, 800, 300}) {
    dialog.resize(width, 400);
    QCoreApplication::processEvents();
    const int panel = dialog.Panel1()->width();
    EXPECT_EQ(panel, width);
    EXPECT_EQ(dialog.CancelBtn()->geometry(), QRect(CancelButtonLeft(panel), 5, 82, 30));
    EXPECT_EQ(panel - dialog.CancelBtn()->geometry().right() - 1, memo_form::kOKBtnLeft) << width;
    EXPECT_EQ(dialog.Form().CancelBtnLeft(), dialog.CancelBtn()->x());
  }
}

TEST_F(MemoDialogTest, GutterMarksAreDrawnWhereTheFormSays) {
  TMemoDialog dialog;
  TTextEditorRequest request;
  for (int i = 0; i < 200; ++i) request.Lines.push_back("text line " + std::to_string(i));
  dialog.Load(request);
  dialog.show();
  TMemoEditor* editor = dialog.Editor();
  for (int n : {0, 4, 9}) {
    editor->SetCaretY(n * 2 + 1);
    dialog.Form().N01Click(n);
  }
  editor->SetCaretY(0);
  (void)editor->Gutter()->grab();
  const TGutterMetrics m = editor->GutterMetrics();
  EXPECT_EQ(m.TopLine, 0);
  EXPECT_GT(m.LineHeight, 0);
  const std::vector<TGutterImage> painted = editor->LastPaintedMarks();
  ASSERT_EQ(painted.size(), 3u);
  const std::vector<TGutterImage> wanted = dialog.Form().Memo1PaintGutter(m);
  for (size_t i = 0; i < painted.size(); ++i) {
    EXPECT_EQ(painted[i].Index, wanted[i].Index);
    EXPECT_EQ(painted[i].X, wanted[i].X);
    EXPECT_EQ(painted[i].Y, wanted[i].Y);
    // The mark sits on its line: nearer the middle of its line than of either neighbour.
    const QTextBlock block = editor->document()->findBlockByNumber(painted[i].Index * 2 + 1);
    const QRect cell = editor->cursorRect(QTextCursor(block));
    EXPECT_LT(std::abs(painted[i].Y + memo_form::kGutterImageSize / 2.0 - cell.center().y()),
              m.LineHeight / 2.0);
  }
  EXPECT_EQ(painted[0].X, memo_form::kGutterWidth - memo_form::kGutterImageSize - 2);

  // Scrolled down, the marks above the view lie above the gutter (clipped), not at its top.
  editor->verticalScrollBar()->setValue(15);
  (void)editor->Gutter()->grab();
  const std::vector<TGutterImage> scrolled = editor->LastPaintedMarks();
  ASSERT_EQ(scrolled.size(), 3u);
  EXPECT_EQ(editor->GutterMetrics().TopLine, 15);
  EXPECT_LT(scrolled[0].Y, -10 * editor->GutterMetrics().LineHeight);  // line 1
  EXPECT_LT(scrolled[1].Y, 0);                                         // line 9
  EXPECT_GT(scrolled[2].Y, 3 * editor->GutterMetrics().LineHeight);    // line 19, in view
}

TEST(BookmarkMark, EachDigitHasItsOwnPicture) {
  std::vector<QImage> images;
  for (int n = 0; n <= 9; ++n) {
    const QImage image = BookmarkMarkPixmap(n).toImage();
    EXPECT_EQ(image.size(), QSize(15, 15));
    EXPECT_EQ(image.pixelColor(0, 7).alpha(), 0) << "the left column stays clear";
    for (const QImage& other : images) EXPECT_NE(image, other) << n;
    images.push_back(image);
  }
  EXPECT_EQ(BookmarkMarkPixmap(3, 15, 2.0).toImage().size(), QSize(30, 30));
  EXPECT_FALSE(BookmarkMarkPixmap(-1, 0, -3.0).isNull());
}

// --- the glyph legend and choosers ------------------------------------------------------

using LegendDialogTest = DialogsTest;

std::vector<QImage> UserGlyphs(int count) {
  std::vector<QImage> images;
  for (int i = 0; i < count; ++i) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(QColor::fromHsv(i * 40 % 360, 200, 200));
    images.push_back(image);
  }
  return images;
}

QStringList Captions(const TLegendDialog& dialog) {
  QStringList captions;
  for (int i = 0; i < dialog.ListView1()->topLevelItemCount(); ++i)
    captions.append(dialog.ListView1()->topLevelItem(i)->text(0));
  return captions;
}

TEST_F(LegendDialogTest, TheLegendShowsEveryGlyphWithASingleCentredOk) {
  TViewForm form;
  form.PrepareLegend({"Mine", "Yours", "Theirs"}, 25);
  TLegendDialog dialog(form.Request(), TGlyphImageList(UserGlyphs(3)));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Legend"));
  EXPECT_EQ(dialog.size(), QSize(view_form::kClientWidth, view_form::kClientHeight));
  const QStringList captions = Captions(dialog);
  ASSERT_EQ(captions.size(), 25);
  EXPECT_EQ(captions[0], QStringLiteral("Currently loaded File Cabinet"));
  EXPECT_EQ(captions[13], QStringLiteral("Note Available"));
  EXPECT_EQ(captions[21], QStringLiteral("Delphi"));
  EXPECT_EQ(captions[24], QStringLiteral("Theirs"));
  for (int i = 0; i < 25; ++i) EXPECT_FALSE(dialog.ListView1()->topLevelItem(i)->icon(0).isNull()) << i;
  // Row 0 shows the cabinet glyph 13, row 13 the note glyph 0.
  const auto image_of = [&](int row) {
    return dialog.ListView1()->topLevelItem(row)->icon(0).pixmap(16, 16).toImage();
  };
  EXPECT_EQ(image_of(0), QIcon(TGlyphImageList::FixedGlyphPath(13)).pixmap(16, 16).toImage());
  EXPECT_EQ(image_of(13), QIcon(TGlyphImageList::FixedGlyphPath(0)).pixmap(16, 16).toImage());
  EXPECT_EQ(dialog.ListView1()->headerItem()->text(0), QStringLiteral("  Clip Glyphs And Their Meaning :"));
  EXPECT_EQ(dialog.ListView1()->columnWidth(0), view_form::kColumnWidth);
  EXPECT_FALSE(dialog.ListView1()->header()->sectionsClickable());
  EXPECT_EQ(dialog.ListView1()->header()->sectionResizeMode(0), QHeaderView::Fixed);
  dialog.show();
  EXPECT_FALSE(dialog.CancelBtn()->isVisible());
  EXPECT_EQ(dialog.OKBtn()->x(), view_form::kClientWidth / 2 - view_form::kButtonWidth / 2);
  EXPECT_EQ(dialog.OKBtn()->size(), QSize(view_form::kButtonWidth, view_form::kButtonHeight));
  EXPECT_EQ(dialog.OKBtn()->text(), QStringLiteral("&OK"));
}

TEST_F(LegendDialogTest, ClickingTextInTheChooserAndOkChoosesGlyph3) {
  TViewForm form;
  form.PrepareChangeGlyph({}, 22);
  TLegendDialog dialog(form.Request(), TGlyphImageList());
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Change glyph for selected item"));
  ASSERT_EQ(Captions(dialog).size(), 19);
  EXPECT_TRUE(dialog.CancelBtn()->isVisibleTo(&dialog));
  EXPECT_EQ(dialog.CancelBtn()->text(), QStringLiteral("&Cancel"));
  dialog.show();
  QTreeWidget* list = dialog.ListView1();
  const int text_row = static_cast<int>(Captions(dialog).indexOf(QStringLiteral("Text")));
  ASSERT_GE(text_row, 0);
  const QRect rect = list->visualItemRect(list->topLevelItem(text_row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_EQ(dialog.MouseDownRow(), text_row);
  dialog.OKBtn()->click();
  const TGlyphDialogResult result = dialog.Result();
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(form.ApplyResult(result), 3);
}

TEST_F(LegendDialogTest, KeyboardSelectionAloneRecordsNoChoice) {
  TViewForm form;
  form.PrepareChangeGlyph({}, 22);
  TLegendDialog dialog(form.Request(), TGlyphImageList());
  dialog.show();
  dialog.ListView1()->setFocus();
  dialog.ListView1()->setCurrentItem(dialog.ListView1()->topLevelItem(4));
  dialog.OKBtn()->click();
  const TGlyphDialogResult result = dialog.Result();
  EXPECT_EQ(result.MouseDownRow, -1);
  EXPECT_EQ(result.SelectedRows, std::vector<int>{4});
  EXPECT_EQ(form.ApplyResult(result), -1);
}

TEST_F(LegendDialogTest, DoubleClickInTheChooserChoosesAndCloses) {
  TViewForm form;
  form.PrepareChangeGlyph({"Mine"}, 23);
  TQtInteraction ui;
  ui.SetUserGlyphImages(UserGlyphs(1));
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<TLegendDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTreeWidget* list = dialog->ListView1();
    ASSERT_EQ(list->topLevelItemCount(), 20);
    QTreeWidgetItem* mine = list->topLevelItem(19);  // after glyphs 2..12 and 14..21
    ASSERT_EQ(mine->text(0), QStringLiteral("Mine"));
    list->scrollToItem(mine);
    const QPoint at = list->visualItemRect(mine).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  });
  const TGlyphDialogResult result = ui.GlyphDialog(form.Request());
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.MouseDownRow, 19);
  EXPECT_EQ(form.ApplyResult(result), 22);
}

TEST_F(LegendDialogTest, TheDeletionChooserTakesSeveralUserGlyphs) {
  TViewForm form;
  form.PrepareDeletion({"One", "Two", "Three"}, 25);
  TLegendDialog dialog(form.Request(), TGlyphImageList(UserGlyphs(3)));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select glyphs for deletion"));
  EXPECT_EQ(Captions(dialog), (QStringList{"One", "Two", "Three"}));
  EXPECT_EQ(dialog.ListView1()->selectionMode(), QAbstractItemView::ExtendedSelection);
  dialog.show();
  QTreeWidget* list = dialog.ListView1();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(2)).center());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    list->visualItemRect(list->topLevelItem(0)).center());
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                     list->visualItemRect(list->topLevelItem(1)).center());
  EXPECT_FALSE(dialog.isHidden()) << "a double click does not delete at once";
  EXPECT_EQ(dialog.MouseDownRow(), 0);  // the first selected row in list order
  // A press below the rows clears the selection but keeps the choice.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 2));
  EXPECT_TRUE(dialog.SelectedRows().empty());
  EXPECT_EQ(dialog.MouseDownRow(), 0);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    list->visualItemRect(list->topLevelItem(0)).center());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    list->visualItemRect(list->topLevelItem(2)).center());
  dialog.reject();
  TGlyphDialogResult result = dialog.Result();
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.SelectedRows, (std::vector<int>{0, 2}));
  EXPECT_EQ(form.GlyphsOfRows({0, 2}), (std::vector<int>{22, 24}));

  TLegendDialog empty(TViewForm().Request(), TGlyphImageList());
  TViewForm none;
  none.PrepareDeletion({}, 22);
  TLegendDialog no_rows(none.Request(), TGlyphImageList());
  EXPECT_EQ(no_rows.ListView1()->topLevelItemCount(), 0);
  no_rows.show();
  QTest::mouseClick(no_rows.ListView1()->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(no_rows.Result().MouseDownRow, -1);
}

TEST_F(LegendDialogTest, HostileRowsAndImagesShowWithoutHarm) {
  TGlyphDialogRequest request;
  request.Caption = "<b>caption</b>";
  request.Rows = {{"line\nbreak\ttab", -1}, {"", 1000}, {std::string(5000, 'w'), 23}, {"\xFF\xFE", 22}};
  request.OKBtnLeft = -400;
  std::vector<QImage> glyphs = {QImage(), QImage(300, 10, QImage::Format_RGB32)};
  glyphs[1].fill(Qt::red);
  TLegendDialog dialog(request, TGlyphImageList(glyphs));
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("<b>caption</b>"));
  EXPECT_EQ(dialog.ListView1()->topLevelItem(0)->text(0), QStringLiteral("line break tab"));
  EXPECT_TRUE(dialog.ListView1()->topLevelItem(0)->icon(0).isNull());
  EXPECT_TRUE(dialog.ListView1()->topLevelItem(1)->icon(0).isNull());
  EXPECT_TRUE(dialog.ListView1()->topLevelItem(3)->icon(0).isNull());  // an empty user image
  EXPECT_FALSE(dialog.ListView1()->topLevelItem(2)->icon(0).isNull());
  EXPECT_GE(dialog.OKBtn()->x(), 0);

  // User glyphs: fuchsia is transparent, other colours stay.
  QImage glyph(16, 16, QImage::Format_RGB32);
  glyph.fill(QColor(255, 0, 255));
  glyph.setPixel(3, 4, qRgb(10, 200, 30));
  const QImage shown =
      TGlyphImageList({glyph}).Icon(22).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
  EXPECT_EQ(shown.pixel(3, 4), qRgb(10, 200, 30));
  EXPECT_TRUE(TGlyphImageList({glyph}).Icon(23).isNull());
  EXPECT_FALSE(dialog.grab().isNull());
}

// --- the About box ---------------------------------------------------------------------

using AboutDialogTest = DialogsTest;

TEST_F(AboutDialogTest, ShowsTheProgramAndOpensItsWebSite) {
  std::vector<std::string> opened;
  TAboutDialog dialog([&](const std::string& address) { opened.push_back(address); });
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(dialog.width(), 258);
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_EQ(dialog.TitleLabel()->text(), QStringLiteral("Quiverbox v1.01"));
  EXPECT_TRUE(dialog.TitleLabel()->font().bold());
  EXPECT_EQ(dialog.TitleLabel()->font().pixelSize(), 24);
  EXPECT_LE(dialog.TitleLabel()->sizeHint().width(), 258);
  EXPECT_FALSE(dialog.IconLabel()->pixmap().isNull());

  TWebLabel* web = dialog.WebLabel();
  EXPECT_EQ(web->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(web->TextRole(), QPalette::WindowText);
  EXPECT_EQ(web->palette().color(QPalette::WindowText), dialog.palette().color(QPalette::WindowText));
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QApplication::sendEvent(web, &enter);
  EXPECT_EQ(web->TextRole(), QPalette::Highlight);
  EXPECT_EQ(web->palette().color(QPalette::WindowText), dialog.palette().color(QPalette::Highlight));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(web, &leave);
  EXPECT_EQ(web->TextRole(), QPalette::WindowText);

  QTest::mouseClick(web, Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], std::string(about_box::kWebAddress));
  QTest::mouseClick(web, Qt::RightButton);
  EXPECT_EQ(opened.size(), 1u);
  QTest::keyClick(web, Qt::Key_Space);
  EXPECT_EQ(opened.size(), 2u);
}

// --- the help window and the manual -------------------------------------------------------

QUrl SourceManual() {
  return QUrl::fromLocalFile(QStringLiteral(QB_SOURCE_DIR "/resources/manual/"));
}

TEST(HelpWindow, OpensAtEachEntryPointAndNavigates) {
  EXPECT_EQ(HelpPageOfContext(40), QStringLiteral("howto.html"));
  EXPECT_EQ(HelpPageOfContext(38), QStringLiteral("toolbar.html"));
  EXPECT_EQ(HelpPageOfContext(0), QStringLiteral("index.html"));
  EXPECT_EQ(HelpPageOfContext(-12345), QStringLiteral("index.html"));

  THelpWindow window(nullptr, SourceManual());
  ASSERT_TRUE(window.ManualFound());
  window.ShowContents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("index.html"));
  EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("Quiverbox Help - ")));
  EXPECT_FALSE(window.BackAction()->isEnabled());
  window.ShowHelpOnHelp();
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("using-help.html"));
  window.ShowContext(help::kHowToContext);
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("howto.html"));
  EXPECT_TRUE(window.Browser()->toPlainText().contains(QStringLiteral("AutoSave")));
  window.ShowContext(help::kToolbarContext);
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("toolbar.html"));
  EXPECT_TRUE(window.BackAction()->isEnabled());
  window.BackAction()->trigger();
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("howto.html"));
  EXPECT_TRUE(window.ForwardAction()->isEnabled());
  window.ForwardAction()->trigger();
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("toolbar.html"));
  window.ContentsAction()->trigger();
  EXPECT_EQ(window.CurrentPage(), QStringLiteral("index.html"));
}

TEST(HelpWindow, AMissingManualIsReportedOnThePage) {
  QTemporaryDir empty;
  THelpWindow window(nullptr, QUrl::fromLocalFile(empty.path() + QLatin1Char('/')));
  EXPECT_FALSE(window.ManualFound());
  window.ShowContext(40);
  EXPECT_TRUE(window.CurrentPage().isEmpty());
  EXPECT_TRUE(window.Browser()->toPlainText().contains(QStringLiteral("could not be found")));
}

TEST(HelpManual, EveryPageIsListedInTheResourceFileAndEveryLinkLeadsToAPage) {
  const QString dir = QStringLiteral(QB_SOURCE_DIR "/resources/manual");
  QFile qrc(QStringLiteral(QB_SOURCE_DIR "/resources/manual.qrc"));
  ASSERT_TRUE(qrc.open(QIODevice::ReadOnly));
  const QString qrc_text = QString::fromUtf8(qrc.readAll());
  const QStringList pages = QDir(dir).entryList({QStringLiteral("*.html")}, QDir::Files);
  ASSERT_GE(pages.size(), 8);
  for (const char* page : {"index.html", "howto.html", "using-help.html", "toolbar.html", "menu-file.html",
                           "menu-edit.html", "menu-clipboard.html", "menu-view.html", "menu-help.html"})
    EXPECT_TRUE(pages.contains(QString::fromLatin1(page))) << page;
  const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
  for (const QString& page : pages) {
    EXPECT_TRUE(qrc_text.contains(QStringLiteral(">manual/") + page + QLatin1Char('<')))
        << page.toStdString();
    QFile file(dir + QLatin1Char('/') + page);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(html.contains(QStringLiteral("<title>"))) << page.toStdString();
    for (auto it = href.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      if (target.startsWith(QStringLiteral("http")) || target.startsWith(QLatin1Char('#'))) continue;
      const QString file_part = target.section(QLatin1Char('#'), 0, 0);
      EXPECT_TRUE(QFile::exists(dir + QLatin1Char('/') + file_part))
          << page.toStdString() << " links to " << target.toStdString();
    }
  }
}

// --- TQtInteraction ---------------------------------------------------------------------

TEST(QtFileFilters, ConvertsTheDescriptionPatternPairs) {
  EXPECT_EQ(QtFileFilters("File Cabinet  (*.qvf)|*.qvf"),
            QStringList{QStringLiteral("File Cabinet  (*.qvf)")});
  EXPECT_EQ(QtFileFilters("Bitmaps|*.bmp;*.dib|All files (*.*)|*.*"),
            (QStringList{QStringLiteral("Bitmaps (*.bmp *.dib)"), QStringLiteral("All files (*.*)")}));
  // Qt reads the patterns from the last parentheses: other parentheses get the real ones after them.
  EXPECT_EQ(QtFileFilters("Pictures (bmp, ico)|*.bmp;*.ico"),
            QStringList{QStringLiteral("Pictures (bmp, ico) (*.bmp *.ico)")});
  EXPECT_EQ(QtFileFilters("Spaced ( *.a ; *.b )|*.a; *.b"),
            QStringList{QStringLiteral("Spaced ( *.a ; *.b )")});
  EXPECT_EQ(QtFileFilters("|*.txt"), QStringList{QStringLiteral("*.txt (*.txt)")});
  EXPECT_EQ(QtFileFilters("Anything|"), QStringList{QStringLiteral("Anything (*)")});
  EXPECT_EQ(QtFileFilters("Odd|*.a|Dangling"), QStringList{QStringLiteral("Odd (*.a)")});
  EXPECT_EQ(QtFileFilters("Paren|*.(x)"), QStringList{QStringLiteral("Paren (*.x)")});
  EXPECT_TRUE(QtFileFilters("").isEmpty());
  EXPECT_TRUE(QtFileFilters("|").size() == 1);
  EXPECT_EQ(QtFileFilters("||||||").size(), 3);
}

TEST(FileDialogAnswer, AppliesTheDefaultExtensionToNamesWithoutOne) {
  TFileDialogRequest request;
  request.DefaultExt = "qvf";
  EXPECT_EQ(FileDialogAnswer(request, "/home/u/clips"), "/home/u/clips.qvf");
  EXPECT_EQ(FileDialogAnswer(request, "/home/u/clips.zip"), "/home/u/clips.zip");
  EXPECT_EQ(FileDialogAnswer(request, "/home/u.d/clips"), "/home/u.d/clips.qvf");
  EXPECT_EQ(FileDialogAnswer(request, ""), "");
  request.DefaultExt.clear();
  EXPECT_EQ(FileDialogAnswer(request, "/home/u/clips"), "/home/u/clips");
}

TEST(QtInteraction, MessageBoxesHaveTheKindsCaptionIconAndButtons) {
  struct Case {
    MsgKind kind;
    std::string caption;
    MsgButtons buttons;
    QString title;
    QMessageBox::Icon icon;
    QMessageBox::StandardButton press;  // NoButton: Escape
    MsgAnswer answer;
  };
  const Case cases[] = {
      {MsgKind::Error, "", MsgButtons::Ok, "Error", QMessageBox::Critical, QMessageBox::Ok, MsgAnswer::Ok},
      {MsgKind::Warning, "", MsgButtons::OkCancel, "Warning", QMessageBox::Warning, QMessageBox::Cancel,
       MsgAnswer::Cancel},
      {MsgKind::Information, "", MsgButtons::Ok, "Information", QMessageBox::Information,
       QMessageBox::NoButton, MsgAnswer::Ok},
      {MsgKind::Confirmation, "", MsgButtons::YesNo, "Confirm", QMessageBox::Question, QMessageBox::Yes,
       MsgAnswer::Yes},
      {MsgKind::Confirmation, "", MsgButtons::YesNo, "Confirm", QMessageBox::Question, QMessageBox::NoButton,
       MsgAnswer::No},
      {MsgKind::Confirmation, "Delete", MsgButtons::YesCancel, "Delete", QMessageBox::Question,
       QMessageBox::NoButton, MsgAnswer::Cancel},
      {MsgKind::Warning, "Overwrite", MsgButtons::OkCancel, "Overwrite", QMessageBox::Warning,
       QMessageBox::Ok, MsgAnswer::Ok},
  };
  TQtInteraction ui;
  for (const Case& c : cases) {
    WhenModal([&c](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle(), c.title);
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(box->textFormat(), Qt::PlainText);
      EXPECT_EQ(box->text(), QStringLiteral("<b>not bold</b>\nsecond line"));
      const int count = static_cast<int>(box->buttons().size());
      EXPECT_EQ(count, c.buttons == MsgButtons::Ok ? 1 : 2);
      if (c.press == QMessageBox::NoButton)
        QTest::keyClick(box, Qt::Key_Escape);
      else
        box->button(c.press)->click();
    });
    EXPECT_EQ(ui.MessageBox(c.kind, c.caption, "<b>not bold</b>\nsecond line", c.buttons), c.answer)
        << c.title.toStdString();
  }
}

TEST(QtInteraction, InputBoxAnswersTheTextOrNothing) {
  TQtInteraction ui;
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<QInputDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Rename Item"));
    EXPECT_EQ(dialog->labelText(), QStringLiteral("Rename the <i>item</i> to..."));
    for (QLabel* label : dialog->findChildren<QLabel*>()) EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(dialog->textValue(), QStringLiteral("Item0"));
    dialog->setTextValue(QStringLiteral("Caf\u00e9 \\ 1"));
    dialog->accept();
  });
  EXPECT_EQ(ui.InputBox("Rename Item", "Rename the <i>item</i> to...", "Item0"),
            std::optional<std::string>("Caf\xC3\xA9 \\ 1"));
  WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  EXPECT_EQ(ui.InputBox("Add New Drawer", "State full path", "NewDrawer\\"), std::nullopt);
  WhenModal([](QWidget* modal) {
    qobject_cast<QInputDialog*>(modal)->setTextValue(QString());
    qobject_cast<QDialog*>(modal)->accept();
  });
  EXPECT_EQ(ui.InputBox("c", "p", "x"), std::optional<std::string>(""));
}

TEST(QtInteraction, PasswordDialogMasksOnlyTheShowingAndCancelGivesNothing) {
  TQtInteraction ui;
  WhenModal([](QWidget* modal) {
    auto* dialog = dynamic_cast<TPWordDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Password"));
    EXPECT_EQ(dialog->ActionLbl()->text(), QStringLiteral("&Enter old password..."));
    EXPECT_EQ(dialog->ActionLbl()->buddy(), dialog->Password());
    EXPECT_FALSE(dialog->AllBtn()->isVisible());
    QTest::keyClicks(dialog->Password(), QStringLiteral("s3cr"));
    dialog->Password()->insert(QStringLiteral("\u00e9t"));
    EXPECT_EQ(dialog->Password()->displayText(), QStringLiteral("s3cr\u00e9t"));
    dialog->MaskCB()->click();
    EXPECT_EQ(dialog->Password()->displayText(), QString(6, QChar('*')));
    dialog->MaskCB()->click();
    EXPECT_EQ(dialog->Password()->displayText(), QStringLiteral("s3cr\u00e9t"));
    dialog->OKBtn()->click();
  });
  TPasswordRequest request;
  request.Label = "&Enter old password...";
  EXPECT_EQ(ui.PasswordDialog(request), std::optional<std::string>("s3cr\xC3\xA9t"));
  WhenModal([](QWidget* modal) { dynamic_cast<TPWordDlg*>(modal)->CancelBtn()->click(); });
  EXPECT_EQ(ui.PasswordDialog(request), std::nullopt);
}

TEST(QtInteraction, TransferProgressShowsBothGaugesAndReportsCancel) {
  TQtInteraction ui;
  TTransferProgress progress{"Moving Files", "/a/From.qvf", "/b/To.qvf", 40, 70};
  EXPECT_TRUE(ui.TransferProgress(progress));
  QWidget* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QStringLiteral("CpyMvFrm") && w->isVisible()) window = w;
  auto* frame = dynamic_cast<TCpyMvFrm*>(window);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->ActionLbl()->text(), QStringLiteral("Moving Files"));
  EXPECT_EQ(frame->FromLbl()->text(), QStringLiteral("/a/From.qvf"));
  EXPECT_EQ(frame->ToLbl()->text(), QStringLiteral("/b/To.qvf"));
  EXPECT_EQ(frame->Gauge2()->value(), 40);
  EXPECT_EQ(frame->Gauge1()->value(), 70);
  frame->CancelBtn()->click();
  progress.Whole = 50;
  EXPECT_FALSE(ui.TransferProgress(progress));
  ui.CloseTransferProgress();
  QCoreApplication::processEvents();
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(w->objectName() == QStringLiteral("CpyMvFrm") && w->isVisible());
}

TEST(QtInteraction, SaveDialogAddsTheDefaultExtensionAndStartsInTheFolder) {
  QTemporaryDir dir;
  TQtInteraction ui;
  TFileDialogRequest request;
  request.Kind = TFileDialogKind::Save;
  request.Options = ofOverwritePrompt | ofHideReadOnly | ofPathMustExist | ofEnableSizing;
  request.Title = "Create A File Cabinet";
  request.Filter = "File Cabinet  (*.qvf)|*.qvf";
  request.DefaultExt = "qvf";
  request.InitialDir = dir.path().toStdString();
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Create A File Cabinet"));
    EXPECT_EQ(dialog->nameFilters(),
              QStringList{QStringLiteral("File Cabinet (*.qvf)")});  // Qt's own spacing
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    dialog->selectFile(QStringLiteral("clips"));
    static_cast<QDialog*>(dialog)->accept();
  });
  const auto chosen = ui.FileDialog(request);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QDir(QFileInfo(Q(*chosen)).path()).canonicalPath(), QDir(dir.path()).canonicalPath());
  EXPECT_EQ(QFileInfo(Q(*chosen)).fileName(), QStringLiteral("clips.qvf"));

  WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  request.Kind = TFileDialogKind::Open;
  EXPECT_EQ(ui.FileDialog(request), std::nullopt);
}

TEST(QtInteraction, HourglassNestsAndUnmatchedOffsAreHarmless) {
  const int before = QApplication::overrideCursor() ? 1 : 0;
  {
    TQtInteraction ui;
    ui.Hourglass(false);
    EXPECT_EQ(ui.HourglassDepth(), 0);
    ui.Hourglass(true);
    ui.Hourglass(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.Hourglass(false);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.Hourglass(false);
    EXPECT_EQ(ui.HourglassDepth(), 0);
    EXPECT_EQ(QApplication::overrideCursor() ? 1 : 0, before);
    { THourglass hourglass(ui); }
    EXPECT_EQ(ui.HourglassDepth(), 0);
    ui.Hourglass(true);  // left on: the object restores the cursor when it goes
  }
  EXPECT_EQ(QApplication::overrideCursor() ? 1 : 0, before);
}

TEST(QtInteraction, OnlyWebAddressesAreOpened) {
  TQtInteraction ui;
  EXPECT_FALSE(ui.OpenWebAddress(""));
  EXPECT_FALSE(ui.OpenWebAddress("javascript:alert(1)"));
  EXPECT_FALSE(ui.OpenWebAddress("file:///etc/passwd"));
  EXPECT_FALSE(ui.OpenWebAddress("/usr/bin/xterm"));
  EXPECT_FALSE(ui.OpenWebAddress("http://exa mple.org/ bad"));
}

// --- pictures to look at ------------------------------------------------------------------

// Writes the dialogs as pictures into $QB_SCREENSHOT_DIR when it is set.
TEST_F(DialogsTest, Screenshots) {
  // The pictures go to QB_SCREENSHOT_DIR when it is set (for looking at them), else
  // to a temporary folder: either way each dialog must paint and save.
  qbtest::TempDir temp;
  QString dir = qEnvironmentVariable("QB_SCREENSHOT_DIR");
  if (dir.isEmpty()) dir = QString::fromStdString(temp.Path().string());
  TMemoDialog memo;
  TTextEditorRequest request;
  request.Caption = "Editing Text Item : Code\\hello.cpp";
  request.HighLighter = 2;
  request.Lines = {"// Greets the world.",
                   "#include <cstdio>",
                   "",
                   "/* The entry point: prints one line",
                   "   and returns 0. */",
                   "int main(int argc, char** argv) {",
                   "\tconst char* text = \"Hello, world\";",
                   "\tfor (int i = 0; i < 3; ++i)",
                   "\t\tstd::printf(\"%s %d\\n\", text, i);",
                   "\treturn 0;",
                   "}"};
  memo.Load(request);
  memo.show();
  memo.Editor()->SetCaretY(5);
  memo.Form().N01Click(1);
  memo.Editor()->SetCaretY(8);
  memo.Form().N01Click(7);
  memo.Editor()->SetCaretY(0);
  QCoreApplication::processEvents();
  EXPECT_TRUE(memo.grab().save(dir + QStringLiteral("/memo_dialog.png")));

  TViewForm form;
  form.PrepareLegend({"Mine"}, 23);
  TLegendDialog legend(form.Request(), TGlyphImageList(UserGlyphs(1)));
  legend.show();
  EXPECT_TRUE(legend.grab().save(dir + QStringLiteral("/legend_dialog.png")));
  TViewForm chooser_form;
  chooser_form.PrepareChangeGlyph({}, 22);
  TLegendDialog chooser(chooser_form.Request(), TGlyphImageList());
  chooser.show();
  chooser.ListView1()->topLevelItem(1)->setSelected(true);
  EXPECT_TRUE(chooser.grab().save(dir + QStringLiteral("/chooser_dialog.png")));

  TAboutDialog about([](const std::string&) {});
  about.show();
  EXPECT_TRUE(about.grab().save(dir + QStringLiteral("/about_dialog.png")));

  THelpWindow help(nullptr, SourceManual());
  help.ShowContext(40);
  EXPECT_TRUE(help.grab().save(dir + QStringLiteral("/help_window.png")));
}

}  // namespace
}  // namespace qb::qt
