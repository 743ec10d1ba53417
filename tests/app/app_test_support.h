// The fixture of the command tests: a main form over a real cabinet file in a
// temporary folder (QUIVERBOX_HOME points there too), driven through the scripted
// interaction double, with helpers that read back what is on disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "explorer/tree_routines.h"
#include "platform/memory_stream.h"
#include "platform/paths.h"
#include "store/cabinet_store.h"
#include "store/item_paths.h"
#include "support/scripted_interaction.h"
#include "support/test_support.h"
#include "zip/zip_writer.h"

namespace qbtest {

// 'F' 'G' 'N' 'C' spell the marker bytes 8C A5 A7 BF.
inline std::string Bytes(std::string_view spelled) {
  std::string out;
  for (char c : spelled)
    out += c == 'F' ? '\x8C' : c == 'G' ? '\xA5' : c == 'N' ? '\xA7' : c == 'C' ? '\xBF' : c;
  return out;
}

struct DiskEntry {
  std::string Name;
  std::string Comment;
  std::string Data;
  bool operator==(const DiskEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const DiskEntry& e) {
  return os << "{" << e.Name << ", comment " << ::testing::PrintToString(e.Comment) << ", data "
            << ::testing::PrintToString(e.Data) << "}";
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_ / "home";
    ::setenv("QUIVERBOX_HOME", home_.c_str(), 1);
    form_ = std::make_unique<qb::TMainForm>(ui_, qb::TPaths::FromEnvironment());
    cabinet_ = dir_ / "Work.qvf";
  }
  void TearDown() override {
    form_.reset();
    ::unsetenv("QUIVERBOX_HOME");
  }

  // Writes an entry with exactly this comment straight through another writer.
  void Put(const std::string& name, const std::string& data, const std::string& comment,
           const std::string& cabinet = {}) {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet.empty() ? cabinet_ : cabinet);
    qb::TMemoryStream stream(data);
    ASSERT_EQ(zip.AddFromStreamWithComment(&stream, name, comment), 1);
  }

  // Opens a cabinet through the Open command.
  void Open(const std::string& path) {
    ui_.ChooseFile(path);
    form_->OpenMiClick();
    ui_.ClearRecords();
  }
  void OpenWork() { Open(cabinet_); }

  qb::TTreeView& Tree() { return form_->DockableForm().TreeView1(); }
  std::string Dump() { return qb::DumpTree(Tree()); }
  qb::TTreeNode* Select(const std::string& path) {
    qb::TTreeNode* node = qb::FindNodeByPath(Tree(), path);
    EXPECT_NE(node, nullptr) << path;
    Tree().SetSelected(node);
    return node;
  }

  // Everything on disk, read by a fresh reader, in archive order.
  std::vector<DiskEntry> Disk(const std::string& cabinet = {}) {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet.empty() ? cabinet_ : cabinet);
    qb::store::RefreshDirectory(zip);
    std::vector<DiskEntry> out;
    for (int i = 0; i < zip.EntryCount(); ++i) {
      qb::TMemoryStream data;
      EXPECT_EQ(zip.ExtractIndexToStream(&data, i), 1);
      out.push_back(
          {zip.EntryFullName(i), zip.EntryHasComment(i) ? zip.EntryComment(i) : "", data.ToString()});
    }
    return out;
  }
  std::vector<uint8_t> FileBytes() { return ReadFileBytes(cabinet_); }

  TempDir dir_;
  std::string home_;
  std::string cabinet_;
  ScriptedInteraction ui_;
  std::unique_ptr<qb::TMainForm> form_;
};

}  // namespace qbtest
