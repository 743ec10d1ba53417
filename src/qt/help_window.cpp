#include "qt/help_window.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>

namespace qb::qt {

namespace {

QString PathOf(const QUrl& url) {
  if (url.scheme() == QLatin1String("qrc")) return QLatin1Char(':') + url.path();
  return url.toLocalFile();
}

bool PageExists(const QUrl& root, const QString& page) {
  return QFile::exists(PathOf(root.resolved(QUrl(page))));
}

QUrl FolderUrl(const QString& dir) {
  QUrl url = QUrl::fromLocalFile(QDir(dir).absolutePath() + QLatin1Char('/'));
  return url;
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

}  // namespace

QString HelpPageOfContext(int context) {
  switch (context) {
    case help::kHowToContext:
      return QStringLiteral("howto.html");
    case help::kToolbarContext:
      return QStringLiteral("toolbar.html");
    default:
      return QString::fromLatin1(help::kContentsPage);
  }
}

QUrl THelpWindow::DefaultManualRoot() {
  const QUrl compiled(QStringLiteral("qrc:/manual/"));
  if (PageExists(compiled, QString::fromLatin1(help::kContentsPage))) return compiled;
  const QString app_dir = QCoreApplication::applicationDirPath();
  for (const QString& dir :
       {app_dir + QStringLiteral("/../share/quiverbox/manual"), app_dir + QStringLiteral("/manual")}) {
    const QUrl url = FolderUrl(dir);
    if (PageExists(url, QString::fromLatin1(help::kContentsPage))) return url;
  }
  return compiled;
}

THelpWindow::THelpWindow(QWidget* parent, const QUrl& manual_root)
    : QMainWindow(parent, Qt::Window), root_(manual_root.isEmpty() ? DefaultManualRoot() : manual_root) {
  setObjectName(QStringLiteral("HelpWindow"));
  if (!root_.path().endsWith(QLatin1Char('/'))) root_.setPath(root_.path() + QLatin1Char('/'));
  manual_found_ = PageExists(root_, QString::fromLatin1(help::kContentsPage));

  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setOpenExternalLinks(true);
  browser_->setOpenLinks(true);
  browser_->document()->setDocumentMargin(10);
  setCentralWidget(browser_);

  QToolBar* bar = addToolBar(tr("Navigation"));
  bar->setObjectName(QStringLiteral("HelpNavigation"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  back_ = bar->addAction(ThemeIcon("go-previous", QStyle::SP_ArrowBack), tr("&Back"), browser_,
                         &QTextBrowser::backward);
  back_->setShortcut(QKeySequence::Back);
  forward_ = bar->addAction(ThemeIcon("go-next", QStyle::SP_ArrowForward), tr("&Forward"), browser_,
                            &QTextBrowser::forward);
  forward_->setShortcut(QKeySequence::Forward);
  contents_ = bar->addAction(ThemeIcon("go-home", QStyle::SP_DirHomeIcon), tr("&Contents"), this,
                             [this] { ShowPage(QString::fromLatin1(help::kContentsPage)); });
  contents_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
  using_help_ = bar->addAction(ThemeIcon("help-about", QStyle::SP_MessageBoxQuestion), tr("&Using Help"),
                               this, [this] { ShowPage(QString::fromLatin1(help::kUsingHelpPage)); });
  back_->setEnabled(false);
  forward_->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] { UpdateTitle(); });

  resize(680, 540);
  UpdateTitle();
}

void THelpWindow::ShowPage(const QString& page) {
  if (!manual_found_) {
    browser_->setHtml(
        tr("<h2>The help manual could not be found</h2>"
           "<p>The pages of the manual are missing from this installation of Quiverbox. "
           "Reinstalling the program restores them.</p>"));
    UpdateTitle();
    return;
  }
  const QString name = PageExists(root_, page) ? page : QString::fromLatin1(help::kContentsPage);
  browser_->setSource(root_.resolved(QUrl(name)));
}

void THelpWindow::ShowContents() {
  ShowPage(QString::fromLatin1(help::kContentsPage));
  show();
  raise();
  activateWindow();
}

void THelpWindow::ShowHelpOnHelp() {
  ShowPage(QString::fromLatin1(help::kUsingHelpPage));
  show();
  raise();
  activateWindow();
}

void THelpWindow::ShowContext(int context) {
  ShowPage(HelpPageOfContext(context));
  show();
  raise();
  activateWindow();
}

QString THelpWindow::CurrentPage() const {
  if (!manual_found_ || browser_->source().isEmpty()) return QString();
  return QFileInfo(browser_->source().path()).fileName();
}

void THelpWindow::UpdateTitle() {
  const QString title = browser_->documentTitle();
  setWindowTitle(title.isEmpty() ? tr("Quiverbox Help") : tr("Quiverbox Help - %1").arg(title));
}

}  // namespace qb::qt
