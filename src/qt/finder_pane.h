// TFinderPane: the explorer pane's search field and its two views of the cabinet,
// the tree ("Cabinet") and the history ("History", every item newest first with
// its date, drawer and a one-line preview).
//
// What to show comes from the finder's logic (finder::TItemFinder): the search
// filters the tree and the history alike. The pane draws, and hands choices back
// to the window: a row chosen in the history selects that item in the tree, as a
// click on its row would, so the commands and the note pane act on it; Enter (and
// a double click in the history) loads it onto the clipboard, Delete deletes it,
// F2 renames it, all through the commands of the menus with their questions.
// Ctrl+F (the window's) focuses the search field; Escape clears it.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "finder/item_finder.h"
#include "qt/item_thumbnails.h"
#include "zip/buffered_file.h"
#include "zip/zip_reader.h"

class QLineEdit;
class QTabWidget;
class QTreeView;

namespace qb::qt {

class TExplorerView;

// Runs work on threads of its own and hands each result back on the thread the
// object lives on. Waits for its threads when it goes.
class TBackgroundRunner : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  ~TBackgroundRunner() override;
  void Run(std::function<void()> work, std::function<void()> done);

 private:
  struct TJob {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  std::vector<TJob> jobs_;
};

// The history's rows: items newest first, read from the cabinet's directory.
class THistoryModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { DateColumn, PreviewColumn, ItemColumn, DrawerColumn, ColumnCount };
  struct TRow {
    std::string path;
    uint32_t dos_date_time = 0;
  };
  using QAbstractTableModel::QAbstractTableModel;

  // Fills the rows from the directory zip has loaded, newest first; with shown
  // given, only the items whose paths it holds.
  void Fill(const zip::TZipReader& zip, const std::unordered_set<std::string>* shown);
  // Where previews and tool tips come from; returns the index used before.
  std::shared_ptr<const finder::TCabinetIndex> SetIndex(std::shared_ptr<const finder::TCabinetIndex> index);
  std::shared_ptr<const finder::TCabinetIndex> Index() const { return index_; }
  const TRow* Row(int row) const;
  int RowOf(const std::string& path) const;
  // The tool tip of an item: the first lines of its text (or what it is, below
  // the picture's thumbnail when there is one), its format, size and date; empty
  // for a path the index does not know.
  QString ToolTipOf(const std::string& path) const;
  // The thumbnail of a picture item as an image URL (empty: none, or not yet).
  std::function<QString(const std::string& path, const finder::TIndexedItem& item)> Thumbnail;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  const finder::TIndexedItem* Indexed(const std::string& path) const;
  std::vector<TRow> rows_;
  std::shared_ptr<const finder::TCabinetIndex> index_;
};

class TFinderPane : public QWidget {
  Q_OBJECT
 public:
  // tree: the explorer's tree view, which the pane takes in.
  TFinderPane(TTreeView& tree, TExplorerView* tree_view, const zip::TZipReader& zip,
              QWidget* parent = nullptr);
  ~TFinderPane() override;

  finder::TItemFinder& Finder() { return *finder_; }
  QLineEdit* SearchField() const { return search_; }
  QTabWidget* Tabs() const { return tabs_; }
  QTreeView* HistoryView() const { return history_view_; }
  THistoryModel* History() const { return history_; }
  TItemThumbnails& Thumbnails() { return *thumbnails_; }
  bool HistoryShown() const;
  // Puts the focus into the search field, its text selected.
  void FocusSearch();
  // The cabinet may have changed (after a command, a save, a rebuild): the history
  // is filled again from the directory (also when it waited for a command), the
  // index follows the changes or is read again when it is needed. Waits while a
  // command runs.
  void CabinetChanged(const std::string& cabinet);
  // The tool tip of a tree node.
  QString ToolTipOf(const TTreeNode* node) const;

  // The window's side: select the item of node as a press on its row with button
  // would (the right button opens the pop-up at screen); run a key's command.
  std::function<void(TTreeNode* node, Qt::MouseButton button, QPoint screen)> PressNode;
  enum class TKey { Load, Delete, Rename };
  std::function<void(TKey)> KeyCommand;
  // The filter changed: the window sets the tree's filter from Finder().Visible().
  std::function<void()> OnResults;
  // True while a command runs: its archive work lets events through, but the
  // cabinet's directory must not be read then (the history waits for the command).
  std::function<bool()> Busy;
  // A message for the status bar (empty clears the pane's last one).
  std::function<void(const QString&)> ShowStatus;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillHistory();
  void HistoryRowChosen(const QModelIndex& index, Qt::MouseButton button, QPoint screen);
  void AddKeys(QWidget* view);

  TTreeView& tree_;
  TExplorerView* tree_view_;
  const zip::TZipReader& zip_;
  TBackgroundRunner* runner_ = nullptr;
  std::unique_ptr<finder::TItemFinder> finder_;
  std::unique_ptr<TItemThumbnails> thumbnails_;
  // Where the last tool tip was asked for: shown again once its thumbnail is made.
  QPointer<QWidget> tip_widget_;
  QPoint tip_pos_;
  std::string tip_path_;
  QLineEdit* search_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTreeView* history_view_ = nullptr;
  THistoryModel* history_ = nullptr;
  bool history_stale_ = true;
  std::string filled_cabinet_;  // what CabinetChanged last saw
  zip::FileStamp filled_stamp_;
  bool choosing_ = false;  // the history's current row is being set by the pane itself
  bool status_shown_ = false;
};

}  // namespace qb::qt
