// The fixture of the main window tests: the real window over a real cabinet
// "Work.qvf" (NewItems\Item0, and Code\Snippet with glyph 15 and a note), an
// in-memory clipboard and the scripted interaction double, on the offscreen
// platform; with helpers that find rows and read back what is on disk.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "explorer/tree_routines.h"
#include "qt/explorer_view.h"
#include "qt/main_window.h"
#include "store/cabinet_store.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "support/scripted_interaction.h"
#include "support/test_support.h"

// Resource initialisers live in the global namespace.
inline void InitMainWindowResources() {
  Q_INIT_RESOURCE(quiverbox);
}

namespace qb::qt {

// One entry as a fresh reader finds it on disk.
struct TDiskEntry {
  std::string Name;
  std::string Comment;
  std::string Data;
};

// Waits out the explorer's mouse-down lock (250 ms after a handled press), so that
// the next click is a press of its own. QTest::qWait may return without handling a
// timer that fell due while the test was not running, as on a busy machine: the
// events are handled once more after it.
inline void PastTheMouseDownLock() {
  QTest::qWait(300);
  QCoreApplication::processEvents();
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitMainWindowResources();
    cabinet_ = dir_ / "Work.qvf";
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    TMemoryStream a(std::string_view("hello\0", 6)), b(std::string_view("code\0", 5));
    store::SaveItem(zip, a, "NewItems\\Item0", 1);
    store::SaveItem(zip, b, "Code\\Snippet", 1, 15);
    store::SetItemNote(zip, "Code\\Snippet", "remember this");
    window_ = std::make_unique<TQtMainWindow>(TPaths::InFolder(dir_.Path().string()), &clipboard_, &ui_);
    window_->resize(700, 500);
    window_->show();
    window_->OpenCabinet(cabinet_);
    window_->ExplorerView()->expandAll();
  }

  // The centre of the row that shows an item path's node.
  QPoint RowPoint(const std::string& path) {
    TTreeNode* node = FindNodeByPath(window_->Form().DockableForm().TreeView1(), path);
    EXPECT_NE(node, nullptr) << path;
    QRect rect = window_->ExplorerView()->visualRect(window_->ExplorerView()->ExplorerModel()->IndexOf(node));
    return QPoint(rect.left() + 40, rect.center().y());  // on the caption
  }

  QPlainTextEdit* NotePane() { return window_->NoteDock()->findChild<QPlainTextEdit*>(); }

  // Every entry of a cabinet file, read by a fresh reader, in archive order.
  static std::vector<TDiskEntry> Disk(const std::string& cabinet) {
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet);
    store::RefreshDirectory(zip);
    std::vector<TDiskEntry> out;
    for (int i = 0; i < zip.EntryCount(); ++i) {
      TMemoryStream data;
      EXPECT_EQ(zip.ExtractIndexToStream(&data, i), 1);
      out.push_back(
          {zip.EntryFullName(i), zip.EntryHasComment(i) ? zip.EntryComment(i) : "", data.ToString()});
    }
    return out;
  }
  std::vector<TDiskEntry> Disk() { return Disk(cabinet_); }
  static std::vector<std::string> Names(const std::vector<TDiskEntry>& entries) {
    std::vector<std::string> names;
    for (const TDiskEntry& e : entries) names.push_back(e.Name);
    return names;
  }
  // The note of an item as stored in its entry comment; "-" when it has none.
  std::string StoredNote(const std::string& path, const std::string& cabinet = {}) {
    for (const TDiskEntry& e : Disk(cabinet.empty() ? cabinet_ : cabinet))
      if (e.Name == path) return store::CommentHasNote(e.Comment) ? store::ReadNoteText(e.Comment) : "-";
    ADD_FAILURE() << path << " is not in the cabinet";
    return {};
  }

  qbtest::TempDir dir_;
  std::string cabinet_;
  TMemoryClipboard clipboard_;
  qbtest::ScriptedInteraction ui_;
  std::unique_ptr<TQtMainWindow> window_;
};

}  // namespace qb::qt
