// The node tables by address: growing keeps every node and value, clearing
// empties them for reuse, and iteration gives each node once.
#include "explorer/node_set.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "explorer/tree.h"

namespace {

TEST(NodeSet, GrowsClearsAndIteratesEveryNodeOnce) {
  qb::TTreeView tree;
  std::vector<qb::TTreeNode*> nodes;
  qb::TTreeNode* root = tree.AddChild(nullptr, "root");
  for (int k = 0; k < 5000; ++k) nodes.push_back(tree.AddChild(root, "n" + std::to_string(k)));

  qb::TNodeMap<int> rows;
  for (int k = 0; k < 5000; k += 2) *rows.Insert(nodes[static_cast<size_t>(k)]).first = k;
  EXPECT_FALSE(rows.Insert(nodes[10]).second);  // there already; its value kept
  ASSERT_EQ(rows.Size(), 2500u);
  for (int k = 0; k < 5000; ++k) {
    const int* row = rows.Find(nodes[static_cast<size_t>(k)]);
    if (k % 2)
      EXPECT_EQ(row, nullptr) << k;
    else
      EXPECT_TRUE(row && *row == k) << k;
  }
  EXPECT_EQ(rows.Find(nullptr), nullptr);
  EXPECT_EQ(rows.Insert(nullptr).first, nullptr);

  qb::TNodeSet set;
  for (qb::TTreeNode* node : nodes) set.insert(node);
  set.insert(root);
  EXPECT_EQ(set.size(), 5001u);
  const std::set<const qb::TTreeNode*> seen(set.begin(), set.end());
  EXPECT_EQ(seen.size(), 5001u);
  set.clear();
  EXPECT_TRUE(set.empty());
  EXPECT_EQ(set.count(root), 0u);
  EXPECT_EQ(set.begin(), set.end());
  EXPECT_TRUE(set.insert(root));
  EXPECT_EQ(set.count(root), 1u);
}

}  // namespace
