#include "qt/finder_pane.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShortcut>
#include <QTabWidget>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include "explorer/tree_routines.h"
#include "finder/item_preview.h"
#include "qt/explorer_view.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

constexpr const char* kReadingText = "Reading the cabinet for the search...";

QString FormatName(std::optional<long long> format) {
  if (!format) return "no format";
  switch (*format) {
    case 1:
      return "Text";
    case 2:
      return "Bitmap";
    case 3:
      return "Metafile Picture";
    case 7:
      return "OEM Text";
    case 9:
      return "Palette";
    case 12:
      return "Wave";
    case 14:
      return "Enhanced Metafile";
    default:
      break;
  }
  if (*format >= TClipboardFormatRegistry::kFirstNumber && *format <= TClipboardFormatRegistry::kLastNumber)
    if (auto name = ClipboardFormats().NameOf(static_cast<uint32_t>(*format))) return FromUtf8(*name);
  return QString("Format %1").arg(*format);
}

}  // namespace

// --- TBackgroundRunner -------------------------------------------------------------

TBackgroundRunner::~TBackgroundRunner() {
  for (TJob& job : jobs_) job.thread.join();
}

void TBackgroundRunner::Run(std::function<void()> work, std::function<void()> done) {
  // Threads that have ended are joined as new ones start.
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    if (it->finished->load()) {
      it->thread.join();
      it = jobs_.erase(it);
    } else {
      ++it;
    }
  }
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([this, work = std::move(work), done = std::move(done), finished]() mutable {
    work();
    // Posted to this object: dropped with it if it goes first (it waits for this
    // thread before it goes, so the call is posted to a live object).
    QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
    finished->store(true);
  });
  jobs_.push_back({std::move(thread), std::move(finished)});
}

// --- THistoryModel -------------------------------------------------------------------

void THistoryModel::Fill(const zip::TZipReader& zip, const std::unordered_set<std::string>* shown) {
  beginResetModel();
  rows_.clear();
  std::vector<TRow> rows;
  const int count = zip.DirectoryLoaded() ? zip.EntryCount() : 0;
  rows.reserve(static_cast<size_t>(count));
  std::vector<uint32_t> dates;
  dates.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const zip::TZipHeaderInfo& entry = zip.Entry(i);
    if (entry.file_name.empty()) continue;
    std::string path = entry.FullName();
    if (shown && !shown->count(path)) continue;
    dates.push_back(entry.dos_date_time);
    rows.push_back({std::move(path), entry.dos_date_time});
  }
  rows_.reserve(rows.size());
  for (int k : finder::NewestFirst(dates)) rows_.push_back(std::move(rows[static_cast<size_t>(k)]));
  endResetModel();
}

std::shared_ptr<const finder::TCabinetIndex> THistoryModel::SetIndex(
    std::shared_ptr<const finder::TCabinetIndex> index) {
  std::swap(index_, index);
  if (!rows_.empty())
    emit dataChanged(this->index(0, PreviewColumn), this->index(rowCount() - 1, PreviewColumn));
  return index;
}

const finder::TIndexedItem* THistoryModel::Indexed(const std::string& path) const {
  const int k = index_ ? index_->Find(path) : -1;
  return k < 0 ? nullptr : &index_->Items()[static_cast<size_t>(k)];
}

const THistoryModel::TRow* THistoryModel::Row(int row) const {
  return row >= 0 && row < rowCount() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

int THistoryModel::RowOf(const std::string& path) const {
  for (size_t k = 0; k < rows_.size(); ++k)
    if (rows_[k].path == path) return static_cast<int>(k);
  return -1;
}

QString THistoryModel::ToolTipOf(const std::string& path) const {
  const finder::TIndexedItem* item = Indexed(path);
  if (!item) return QString();
  QString tip = FromUtf8(item->opening.empty() ? item->preview : item->opening).toHtmlEscaped();
  tip.replace("\n", "<br>");
  if (Thumbnail)
    if (const QString url = Thumbnail(path, *item); !url.isEmpty())
      tip = "<img src=\"" + url + "\"><br>" + tip;
  tip += QString("<br><i>%1, %2 bytes, %3</i>")
             .arg(FormatName(item->format).toHtmlEscaped())
             .arg(item->size)
             .arg(FromUtf8(finder::DosDateTimeText(item->dos_date_time)));
  return "<qt>" + tip + "</qt>";
}

int THistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int THistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant THistoryModel::data(const QModelIndex& index, int role) const {
  const TRow* row = Row(index.row());
  if (!row) return QVariant();
  if (role == Qt::ToolTipRole) return ToolTipOf(row->path);
  if (role != Qt::DisplayRole) return QVariant();
  const size_t cut = row->path.rfind('\\');
  switch (index.column()) {
    case DateColumn:  // to the minute: the seconds are in the tool tip
      return FromUtf8(finder::DosDateTimeText(row->dos_date_time).substr(0, 16));
    case DrawerColumn:
      return cut == std::string::npos ? QString() : FromUtf8(std::string_view(row->path).substr(0, cut));
    case ItemColumn:
      return FromUtf8(cut == std::string::npos ? std::string_view(row->path)
                                               : std::string_view(row->path).substr(cut + 1));
    case PreviewColumn: {
      const finder::TIndexedItem* item = Indexed(row->path);
      return item ? FromUtf8(item->preview) : QString();
    }
    default:
      return QVariant();
  }
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  static const char* const kTitles[] = {"Date", "Preview", "Item", "Drawer"};
  return section >= 0 && section < ColumnCount ? QString(kTitles[section]) : QVariant();
}

// --- TFinderPane ---------------------------------------------------------------------

TFinderPane::TFinderPane(TTreeView& tree, TExplorerView* tree_view, const zip::TZipReader& zip,
                         QWidget* parent)
    : QWidget(parent), tree_(tree), tree_view_(tree_view), zip_(zip) {
  runner_ = new TBackgroundRunner(this);
  auto run = [this](std::function<void()> work, std::function<void()> done) {
    runner_->Run(std::move(work), std::move(done));
  };
  finder_ = std::make_unique<finder::TItemFinder>(tree, run);
  thumbnails_ = std::make_unique<TItemThumbnails>(run);

  search_ = new QLineEdit;
  search_->setObjectName("SearchField");
  search_->setPlaceholderText("Search (Ctrl+F)");
  search_->setClearButtonEnabled(true);
  search_->installEventFilter(this);

  history_ = new THistoryModel(this);
  history_view_ = new QTreeView;
  history_view_->setObjectName("HistoryView");
  history_view_->setModel(history_);
  history_view_->setRootIsDecorated(false);
  history_view_->setUniformRowHeights(true);
  history_view_->setAllColumnsShowFocus(true);
  history_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  history_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  history_view_->header()->setStretchLastSection(true);
  history_view_->header()->setSectionResizeMode(THistoryModel::DateColumn, QHeaderView::ResizeToContents);
  history_view_->viewport()->installEventFilter(this);
  tree_view_->viewport()->installEventFilter(this);

  tabs_ = new QTabWidget;
  tabs_->setObjectName("ExplorerTabs");
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  tabs_->addTab(tree_view, "Cabinet");
  tabs_->addTab(history_view_, "History");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(search_);
  layout->addWidget(tabs_);

  AddKeys(tree_view);
  AddKeys(history_view_);

  connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
    CabinetChanged(zip_.ZipName());
    finder_->SetQuery(ToUtf8(text));
  });

  connect(tabs_, &QTabWidget::currentChanged, this, [this] {
    if (HistoryShown()) {
      CabinetChanged(zip_.ZipName());
      // Previews come from the index: read it now if it is not there.
      finder_->Refresh(true);
      if (history_stale_) FillHistory();
    }
  });
  // Moving along the history with the keys selects the item, as in the tree.
  connect(history_view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (!choosing_ && current.isValid()) HistoryRowChosen(current, Qt::LeftButton, QPoint());
          });
  finder_->OnResults = [this] {
    if (ShowStatus) {
      const bool reading = finder_->Reading() && finder_->Searching();
      if (reading || status_shown_) ShowStatus(reading ? QString(kReadingText) : QString());
      status_shown_ = reading;
    }
    history_stale_ = true;
    if (HistoryShown()) FillHistory();
    if (OnResults) OnResults();
  };
  finder_->OnIndexRead = [this] { finder_->LetGo(history_->SetIndex(finder_->Index())); };
  history_->Thumbnail = [this](const std::string& path, const finder::TIndexedItem& item) {
    return thumbnails_->Find(zip_.ZipName(), path, item.format);
  };
  thumbnails_->OnReady = [this](const std::string& path) {
    // The tool tip still up over that item shows the thumbnail now.
    if (path == tip_path_ && tip_widget_ && QToolTip::isVisible())
      QToolTip::showText(tip_pos_, history_->ToolTipOf(path), tip_widget_);
  };
}

TFinderPane::~TFinderPane() {
  finder_->OnResults = nullptr;
  finder_->OnIndexRead = nullptr;
  thumbnails_->OnReady = nullptr;
}

bool TFinderPane::HistoryShown() const {
  return tabs_->currentWidget() == history_view_;
}

void TFinderPane::FocusSearch() {
  search_->setFocus(Qt::ShortcutFocusReason);
  search_->selectAll();
}

void TFinderPane::CabinetChanged(const std::string& cabinet) {
  // A running command may have the cabinet half written: the window calls again
  // once it is done.
  if (Busy && Busy()) {
    history_stale_ = true;
    return;
  }
  const zip::FileStamp stamp = cabinet.empty() ? zip::FileStamp{} : zip::StampOf(cabinet);
  if (cabinet != filled_cabinet_ || stamp != filled_stamp_) {
    filled_cabinet_ = cabinet;
    filled_stamp_ = stamp;
    finder_->SetCabinet(cabinet);
    // The program's own changes are followed from its directory; others read again.
    if (!finder_->Follow(zip_)) finder_->Refresh(HistoryShown());
    history_stale_ = true;
  }
  if (history_stale_ && HistoryShown()) FillHistory();
}

void TFinderPane::FillHistory() {
  // An index read can arrive while a command rewrites the cabinet; the window
  // calls CabinetChanged once the command is done.
  if (Busy && Busy()) {
    history_stale_ = true;
    return;
  }
  history_stale_ = false;
  std::unordered_set<std::string> shown;
  const bool filtered = finder_->Visible() != nullptr;
  if (filtered && finder_->Index())
    for (int k : finder_->Found()) shown.insert(finder_->Index()->Items()[static_cast<size_t>(k)].path);
  const std::string current = [&] {
    const THistoryModel::TRow* row = history_->Row(history_view_->currentIndex().row());
    return row ? row->path : std::string();
  }();
  history_->Fill(zip_, filtered ? &shown : nullptr);
  if (history_->Index() != finder_->Index()) finder_->LetGo(history_->SetIndex(finder_->Index()));
  // The row of the selected item stays selected.
  const TTreeNode* selected = tree_.Selected();
  const std::string keep = IsItemNode(selected) ? ItemPathOf(selected) : current;
  const int row = keep.empty() ? -1 : history_->RowOf(keep);
  if (row >= 0) {
    choosing_ = true;
    history_view_->setCurrentIndex(history_->index(row, 0));
    choosing_ = false;
  }
}

QString TFinderPane::ToolTipOf(const TTreeNode* node) const {
  if (!IsItemNode(node)) return FromUtf8(node ? node->Caption() : std::string());
  // The tool tips come from the index: the first one asks for it.
  if (!finder_->Index()) finder_->Refresh(true);
  const QString tip = history_->ToolTipOf(ItemPathOf(node));
  return tip.isEmpty() ? FromUtf8(node->Caption()) : tip;
}

void TFinderPane::HistoryRowChosen(const QModelIndex& index, Qt::MouseButton button, QPoint screen) {
  const THistoryModel::TRow* row = history_->Row(index.row());
  if (!row || !PressNode) return;
  TTreeNode* node = FindNodeByPath(tree_, row->path);
  if (IsItemNode(node)) PressNode(node, button, screen);
}

void TFinderPane::AddKeys(QWidget* view) {
  const std::pair<QKeySequence, TKey> keys[] = {{QKeySequence(Qt::Key_Return), TKey::Load},
                                                {QKeySequence(Qt::Key_Enter), TKey::Load},
                                                {QKeySequence(Qt::Key_Delete), TKey::Delete},
                                                {QKeySequence(Qt::Key_F2), TKey::Rename}};
  for (const auto& [sequence, key] : keys) {
    auto* shortcut = new QShortcut(sequence, view);
    shortcut->setContext(Qt::WidgetShortcut);
    const TKey k = key;
    connect(shortcut, &QShortcut::activated, this, [this, k] {
      if (KeyCommand) KeyCommand(k);
    });
  }
}

bool TFinderPane::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip &&
      (watched == tree_view_->viewport() || watched == history_view_->viewport())) {
    auto* help = static_cast<QHelpEvent*>(event);
    std::string path;
    if (watched == tree_view_->viewport()) {
      const TTreeNode* node = tree_view_->NodeAt(help->pos());
      if (IsItemNode(node)) path = ItemPathOf(node);
    } else if (const THistoryModel::TRow* row = history_->Row(history_view_->indexAt(help->pos()).row())) {
      path = row->path;
    }
    tip_widget_ = static_cast<QWidget*>(watched);
    tip_pos_ = help->globalPos();
    tip_path_ = path;
    return false;  // the view shows the tip
  }
  if (watched == search_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      if (search_->text().isEmpty())
        tabs_->currentWidget()->setFocus(Qt::OtherFocusReason);
      else
        search_->clear();
      return true;
    }
    if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      tabs_->currentWidget()->setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  if (watched == history_view_->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QModelIndex index = history_view_->indexAt(mouse->position().toPoint());
    if (index.isValid()) {
      history_view_->setFocus(Qt::MouseFocusReason);
      choosing_ = true;
      history_view_->setCurrentIndex(index);
      choosing_ = false;
      if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        if (KeyCommand) KeyCommand(TKey::Load);
      } else {
        HistoryRowChosen(index, mouse->button(), mouse->globalPosition().toPoint());
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qb::qt
