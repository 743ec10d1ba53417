// The explorer's Qt model keeps the rules every QAbstractItemModel must keep
// (rows, parents, indexes and their signals) through the commands that change
// the tree.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDockWidget>
#include <QPlainTextEdit>

#include "qt/explorer_tree.h"
#include "qt/explorer_view.h"
#include "qt/main_window_fixture.h"

namespace qb::qt {
namespace {

TEST_F(MainWindowTest, ExplorerModelKeepsQtsModelRulesThroughEveryChangeOfTheTree) {
  TExplorerModel* model = window_->ExplorerView()->ExplorerModel();
  ASSERT_NE(model, nullptr);
  // A broken rule ends the test program with the rule's message.
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  TTreeView& tree = window_->Form().DockableForm().TreeView1();

  ui_.EditorOk({"typed text"});
  ui_.Input("Work/Notes/First");
  window_->Run(TCommand::AddNewItemMiClick);
  ASSERT_NE(FindNodeByPath(tree, "Work\\Notes\\First"), nullptr);

  tree.SetSelected(FindNodeByPath(tree, "Work\\Notes\\First"));
  ui_.Input("Second");
  window_->Run(TCommand::RenameMiClick);
  ASSERT_NE(FindNodeByPath(tree, "Work\\Notes\\Second"), nullptr);

  tree.SetSelected(FindNodeByPath(tree, "Code\\Snippet"));
  ui_.Answer(MsgAnswer::Yes);
  window_->Run(TCommand::DeleteMiClick);
  EXPECT_EQ(FindNodeByPath(tree, "Code\\Snippet"), nullptr);

  window_->Run(TCommand::CollapseAllMiClick);
  window_->Run(TCommand::DisplayAllMiClick);
  window_->OpenCabinet(cabinet_);  // the whole tree again
  EXPECT_NE(FindNodeByPath(tree, "Work\\Notes\\Second"), nullptr);
  EXPECT_EQ(model->rowCount(), 1);  // the cabinet's root
}

}  // namespace
}  // namespace qb::qt
