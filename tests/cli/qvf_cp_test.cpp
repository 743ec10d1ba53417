// qvf cp: copies and moves between cabinets with the program's rules, and a kill at
// any moment of a move leaves every item in at least one cabinet, both valid.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <set>
#include <string>

#include "store/cabinet_store.h"
#include "support/test_support.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using qbtest::CommandResult;
using qbtest::ShellQuote;
using qbtest::TempDir;

CommandResult Qvf(std::initializer_list<std::string> args) {
  std::string line = ShellQuote(qbtest::QvfPath());
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return qbtest::RunCommand(line);
}

void Put(const std::string& cabinet, const std::string& name, const std::string& data,
         const std::string& comment) {
  qb::zip::TZipWriter zip;
  qb::store::ConfigureCabinetArchive(zip);
  zip.SetZipName(cabinet);
  qb::TMemoryStream stream(data);
  ASSERT_EQ(zip.AddFromStreamWithComment(&stream, name, comment), 1);
}

// name -> payload of every item; every entry must check out.
std::map<std::string, std::string> Items(const std::string& cabinet) {
  std::map<std::string, std::string> out;
  if (!fs::exists(cabinet)) return out;
  qb::zip::TZipReader zip;
  zip.SetZipName(cabinet);
  zip.ReadDirectory();
  EXPECT_EQ(zip.DirectoryDamage(), "");
  for (int i = 0; i < zip.EntryCount(); ++i) {
    std::string data;
    EXPECT_EQ(zip.CheckEntry(i,
                             [&](const uint8_t* p, size_t n) {
                               data.append(reinterpret_cast<const char*>(p), n);
                               return true;
                             }),
              "")
        << zip.EntryFullName(i);
    out[zip.EntryFullName(i)] = data;
  }
  return out;
}

TEST(QvfCp, CopiesMovesDrawersAndAsksForReplace) {
  TempDir dir;
  const std::string source = dir / "s.qvf", target = dir / "t.qvf";
  Put(source, "Code\\a", "a",
      "\x8C"
      "1\x8C\xBF");
  Put(source, "Code\\Deep\\b", "b",
      "\x8C"
      "1\x8C\xBF");
  Put(source, "Other", "o",
      "\x8C"
      "1\x8C\xBF");
  Put(target, "Other", "old",
      "\x8C"
      "1\x8C\xBF");

  CommandResult copy = Qvf({"cp", source, target, "code/", "Other"});
  EXPECT_EQ(copy.exit_code, 0) << copy.errors;
  EXPECT_EQ(copy.output, "Code\\a\nCode\\Deep\\b\n");
  EXPECT_NE(copy.errors.find("--replace"), std::string::npos);
  EXPECT_EQ(Items(target).at("Other"), "old");
  EXPECT_EQ(Items(source).size(), 3u);

  CommandResult move = Qvf({"cp", "--move", "--replace", source, target, "Other"});
  EXPECT_EQ(move.exit_code, 0) << move.errors;
  EXPECT_EQ(Items(target).at("Other"), "o");
  EXPECT_FALSE(Items(source).count("Other"));

  // An encrypted item (no password on the command line) and a drawer with no
  // items fail; what could go, went.
  {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(dir / "e.qvf");
    zip.SetPassword("secret");
    qb::TMemoryStream stream(std::string("locked"));
    ASSERT_EQ(zip.AddFromStream(&stream, "Locked"), 1);
  }
  const auto locked_bytes = qbtest::ReadFileBytes(dir / "e.qvf");
  CommandResult locked = Qvf({"cp", "--move", dir / "e.qvf", target, "Locked"});
  EXPECT_EQ(locked.exit_code, 1);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "e.qvf"), locked_bytes);
  EXPECT_NE(locked.errors.find("Locked needs a password"), std::string::npos) << locked.errors;
  CommandResult partly = Qvf({"cp", source, dir / "u.qvf", "Code\\a", "Nothing\\"});
  EXPECT_EQ(partly.exit_code, 3);
  EXPECT_EQ(partly.output, "Code\\a\n");
  EXPECT_TRUE(Items(source).count("Code\\a"));

  fs::create_symlink(source, dir / "link.qvf");
  CommandResult self = Qvf({"cp", "--move", source, dir / "link.qvf", "Code\\a"});
  EXPECT_EQ(self.exit_code, 2);
  EXPECT_TRUE(Items(source).count("Code\\a"));
}

TEST(QvfCp, KilledMoveLosesNoItem) {
  TempDir dir;
  const std::string source = dir / "s.qvf", target = dir / "t.qvf";
  const auto payload = qbtest::TextLikeBytes(300000, 5);
  const std::string data(payload.begin(), payload.end());
  const auto delays = qbtest::RandomBytes(16, 9);
  for (int round = 0; round < 8; ++round) {
    fs::remove(source);
    fs::remove(target);
    std::set<std::string> all;
    for (int i = 0; i < 12; ++i) {
      const std::string name = "D\\Item" + std::to_string(i);
      Put(source, name, data + name, "c");
      all.insert(name);
    }
    const int delay_ms = 5 + delays[round] % 400;
    qbtest::RunCommand(ShellQuote(qbtest::QvfPath()) + " cp --move " + ShellQuote(source) + " " +
                       ShellQuote(target) + " 'D\\' >/dev/null 2>&1 & pid=$!; sleep " +
                       std::to_string(delay_ms / 1000.0) + "; kill -9 $pid 2>/dev/null; wait $pid");
    const auto in_source = Items(source), in_target = Items(target);
    for (const std::string& name : all) {
      const bool somewhere = in_source.count(name) || in_target.count(name);
      EXPECT_TRUE(somewhere) << name << " lost after a kill at " << delay_ms << " ms";
      if (in_source.count(name)) {
        EXPECT_EQ(in_source.at(name), data + name);
      }
      if (in_target.count(name)) {
        EXPECT_EQ(in_target.at(name), data + name);
      }
    }
  }
}

}  // namespace
