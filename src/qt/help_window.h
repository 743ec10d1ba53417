// THelpWindow: the program's help manual in a window of its own.
//
// The manual is a set of HTML pages (resources/manual, compiled in under
// ":/manual/"). The window shows one page at a time in a QTextBrowser, with Back,
// Forward and Contents on its tool bar; links between pages are followed inside the
// window, web links open in the desktop's browser. It is opened at one of three
// entry points: the contents, the page on using help, or a topic by its context
// number (40 is "How To", 38 the tool bar). A manual that cannot be found is
// reported on the page itself.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QUrl>

class QAction;
class QTextBrowser;

namespace qb::qt {

namespace help {
inline constexpr int kToolbarContext = 38;
inline constexpr int kHowToContext = 40;
inline constexpr const char* kContentsPage = "index.html";
inline constexpr const char* kUsingHelpPage = "using-help.html";
}  // namespace help

// The page of a context number; the contents page for a number the manual lacks.
QString HelpPageOfContext(int context);

class THelpWindow : public QMainWindow {
  Q_OBJECT
 public:
  // manual_root: the folder of the pages, as a URL ("qrc:/manual/" or a file URL);
  // empty for DefaultManualRoot().
  explicit THelpWindow(QWidget* parent = nullptr, const QUrl& manual_root = QUrl());

  // Where the pages are: the compiled-in manual when present, else a "manual"
  // folder in the program's data folder (../share/quiverbox/manual beside the
  // executable) or beside the executable; the compiled-in location when none exists.
  static QUrl DefaultManualRoot();

  // The three entry points; each shows the window and brings it to the front.
  void ShowContents();
  void ShowHelpOnHelp();
  void ShowContext(int context);

  // The page shown now (its file name), empty when the manual is missing.
  QString CurrentPage() const;
  bool ManualFound() const { return manual_found_; }
  QTextBrowser* Browser() const { return browser_; }
  QAction* BackAction() const { return back_; }
  QAction* ForwardAction() const { return forward_; }
  QAction* ContentsAction() const { return contents_; }

 private:
  void ShowPage(const QString& page);
  void UpdateTitle();

  QUrl root_;
  bool manual_found_ = false;
  QTextBrowser* browser_ = nullptr;
  QAction* back_ = nullptr;
  QAction* forward_ = nullptr;
  QAction* contents_ = nullptr;
  QAction* using_help_ = nullptr;
};

}  // namespace qb::qt
