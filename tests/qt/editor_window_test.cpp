// Edit Selected Text Item As through the real main window and the real editor
// dialog (offscreen): the item's bytes stay as they were unless the text is edited,
// and an edit keeps the item's line breaks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "explorer/tree_routines.h"
#include "qt/main_window.h"
#include "qt/memo_dialog.h"
#include "qt/qt_interaction.h"
#include "store/cabinet_store.h"
#include "store/item_paths.h"
#include "support/test_support.h"

static void InitEditorWindowResources() {
  Q_INIT_RESOURCE(quiverbox);
}

namespace qb::qt {
namespace {

void WhenEditor(std::function<void(TMemoDialog*)> action, int turns_left = 2000) {
  QTimer::singleShot(0, [action = std::move(action), turns_left]() mutable {
    if (auto* dialog = qobject_cast<TMemoDialog*>(QApplication::activeModalWidget())) {
      action(dialog);
    } else if (turns_left > 0) {
      WhenEditor(std::move(action), turns_left - 1);
    } else {
      ADD_FAILURE() << "the editor did not appear";
    }
  });
}

std::string Payload(const std::string& cabinet, const std::string& path) {
  zip::TZipWriter zip;
  store::ConfigureCabinetArchive(zip);
  zip.SetZipName(cabinet);
  store::RefreshDirectory(zip);
  TMemoryStream data;
  EXPECT_EQ(zip.ExtractIndexToStream(&data, store::FindItemEntry(zip, path)), 1);
  return data.ToString();
}

TEST(EditorWindow, EditingATextItemKeepsItsBytesAndLineBreaks) {
  InitEditorWindowResources();
  qbtest::TempDir dir;
  const std::string cabinet = dir / "Work.qvf";
  const std::string lf_text("one\ntwo\n\0slack", 14);
  {
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet);
    TMemoryStream a(lf_text), b(std::string_view("\r\n"));
    store::SaveItem(zip, a, "Notes\\Unix", 1);
    store::SaveItem(zip, b, "Notes\\Empty line", 1);
  }
  TMemoryClipboard clipboard;
  TQtInteraction ui;
  TQtMainWindow window(TPaths::InFolder(dir.Path().string()), &clipboard, &ui);
  window.show();
  window.OpenCabinet(cabinet);
  auto select = [&](const std::string& path) {
    TTreeView& tree = window.Form().DockableForm().TreeView1();
    TTreeNode* node = FindNodeByPath(tree, path);
    ASSERT_NE(node, nullptr) << path;
    tree.SetSelected(node);
  };
  const std::vector<uint8_t> before = qbtest::ReadFileBytes(cabinet);

  // OK without an edit: nothing is written.
  for (const char* path : {"Notes\\Unix", "Notes\\Empty line"}) {
    select(path);
    WhenEditor([](TMemoDialog* dialog) { dialog->OKBtn()->click(); });
    window.Run(TCommand::EditTextItemMiClick, 2);
  }
  EXPECT_EQ(qbtest::ReadFileBytes(cabinet), before);

  // An edit keeps LF as the line break and the final one.
  select("Notes\\Unix");
  WhenEditor([](TMemoDialog* dialog) {
    EXPECT_EQ(dialog->Lines(), (std::vector<std::string>{"one", "two"}));
    QTextCursor cursor(dialog->Editor()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("\nthree"));
    dialog->OKBtn()->click();
  });
  window.Run(TCommand::EditTextItemMiClick, 2);
  EXPECT_EQ(Payload(cabinet, "Notes\\Unix"), "one\ntwo\nthree\n");
  EXPECT_EQ(Payload(cabinet, "Notes\\Empty line"), "\r\n");
}

}  // namespace
}  // namespace qb::qt
