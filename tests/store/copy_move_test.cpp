// Copy and move between two real cabinet files: what reaches the target, what
// leaves the source, and that no failure, refusal or cancel loses an item.
#include "store/copy_move.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "store/cabinet_store.h"
#include "support/raw_zip.h"
#include "support/test_support.h"
#include "zip/zip_format.h"

namespace qb::store {
namespace {

using qbtest::ReadFileBytes;
using qbtest::ShellQuote;
using qbtest::TempDir;

class CopyMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_path_ = dir_ / "source.qvf";
    target_path_ = dir_ / "target.qvf";
    ConfigureCabinetArchive(source_);
    source_.SetZipName(source_path_);
    Put(source_, "Code\\a.txt", "alpha payload",
        "\x8C"
        "1\x8C\xBF\xA7note a\xA7\xBF");
    Put(source_, "Code\\b.txt", std::string(5000, 'b'),
        "\x8C"
        "1\x8C\xBF");
    Put(source_, "Other", "other payload",
        "\x8C"
        "7\x8C\xBF");
    cm_.SetZipReader(&source_);
    cm_.SetTargetZip(target_path_);
    cm_.OnCompletion = [this](TZipCopyMove&, int t, int d, int s, const std::vector<std::string>& fails) {
      counts_ = {t, d, s};
      fails_ = fails;
    };
  }
  static void Put(zip::TZipWriter& zip, const std::string& name, const std::string& data,
                  const std::string& comment) {
    TMemoryStream stream(data);
    ASSERT_EQ(zip.AddFromStreamWithComment(&stream, name, comment), 1);
  }
  // name -> (payload, comment, date) of every entry of the cabinet at path.
  static std::map<std::string, std::tuple<std::string, std::string, uint32_t>> Contents(
      const std::string& path, const std::string& password = "") {
    zip::TZipReader zip;
    zip.SetZipName(path);
    zip.SetPassword(password);
    zip.ReadDirectory();
    std::map<std::string, std::tuple<std::string, std::string, uint32_t>> out;
    for (int i = 0; i < zip.EntryCount(); ++i) {
      std::string data;
      EXPECT_EQ(zip.CheckEntry(i,
                               [&](const uint8_t* p, size_t n) {
                                 data.append(reinterpret_cast<const char*>(p), n);
                                 return true;
                               }),
                "");
      out[zip.EntryFullName(i)] = {data, zip.EntryComment(i), zip.Entry(i).dos_date_time};
    }
    return out;
  }
  // The passwords the user types at the prompts, in turn; then the user cancels.
  void AnswerPasswords(std::vector<std::string> typed) {
    typed_ = std::move(typed);
    prompts_ = 0;
    cm_.OnPassword = [this](TZipCopyMove&, int, std::string& password) {
      if (prompts_ >= typed_.size()) return false;
      password = typed_[prompts_++];
      return true;
    };
  }
  void Run(std::vector<std::string> names, TTransferType type) {
    cm_.FilesList() = std::move(names);
    cm_.SetTransferType(type);
    cm_.Transfer();
  }

  TempDir dir_;
  std::string source_path_, target_path_;
  zip::TZipWriter source_;
  TZipCopyMove cm_;
  std::array<int, 3> counts_{-1, -1, -1};
  std::vector<std::string> fails_;
  std::vector<std::string> typed_;
  size_t prompts_ = 0;
};

TEST_F(CopyMoveTest, CopyCarriesPayloadCommentAndDateAndLeavesTheSource) {
  const auto before = Contents(source_path_);
  const auto source_bytes = ReadFileBytes(source_path_);
  Run({"code\\A.TXT", "Code\\b.txt"}, TTransferType::ttCopy);
  EXPECT_EQ(counts_, (std::array<int, 3>{2, 0, 0}));
  EXPECT_TRUE(fails_.empty()) << (cm_.Failures().empty()
                                      ? ""
                                      : cm_.Failures()[0].name + ": " + cm_.Failures()[0].reason);
  const auto after = Contents(target_path_);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after.at("Code\\a.txt"), before.at("Code\\a.txt"));  // stored under the source's spelling
  EXPECT_EQ(after.at("Code\\b.txt"), before.at("Code\\b.txt"));
  EXPECT_EQ(ReadFileBytes(source_path_), source_bytes);
}

TEST_F(CopyMoveTest, MoveRemovesExactlyWhatReachedTheTarget) {
  // An existing target keeps its own items.
  zip::TZipWriter target;
  ConfigureCabinetArchive(target);
  target.SetZipName(target_path_);
  Put(target, "Kept", "kept",
      "\x8C"
      "1\x8C\xBF");
  const auto before = Contents(source_path_);
  Run({"Code\\a.txt", "Missing", "Other"}, TTransferType::ttMove);
  EXPECT_EQ(counts_, (std::array<int, 3>{2, 2, 0}));
  EXPECT_EQ(fails_, std::vector<std::string>{"Missing"});
  const auto src = Contents(source_path_);
  EXPECT_EQ(src.size(), 1u);
  EXPECT_TRUE(src.count("Code\\b.txt"));
  const auto dst = Contents(target_path_);
  EXPECT_EQ(dst.size(), 3u);
  EXPECT_EQ(dst.at("Other"), before.at("Other"));
  // The open cabinet's object shows the change, and was not pointed elsewhere.
  EXPECT_EQ(source_.ZipName(), source_path_);
  EXPECT_EQ(source_.EntryCount(), 1);
}

// Entries another program wrote go over as they are stored: the compressed (and
// encrypted) bytes, name bytes, comment, date, attributes and extra fields; only
// the data descriptor of an unencrypted entry goes, its sizes being in the header.
TEST_F(CopyMoveTest, CopyAndMoveCarryEntriesAsStoredWithTheirExtraFields) {
  // Python writing to a pipe: data descriptors, level 9, an extra field of its
  // own, a UTF-8 name. Info-ZIP: an encrypted entry whose check byte is the time's.
  const std::string streamed = dir_ / "streamed.qvf", locked = dir_ / "locked.qvf";
  const std::string python = R"(
import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    i = zipfile.ZipInfo('Code/a.txt', (2001, 2, 3, 4, 5, 6))
    i.compress_type = zipfile.ZIP_DEFLATED
    i.extra = b'\xfe\xca\x03\x00xyz'
    i.comment = b'\x8c1\x8c\xbf\xa7note\xa7\xbf'
    z.writestr(i, b'alpha beta ' * 400)
    i = zipfile.ZipInfo('Caf\u00e9', (2010, 12, 31, 23, 59, 58))
    i.compress_type = zipfile.ZIP_STORED
    i.comment = b'\x8c7\x8c\xbf'
    z.writestr(i, b'stored payload')
)";
  const auto made = qbtest::RunCommand("python3 -c " + ShellQuote(python) + " | cat > " +
                                       ShellQuote(streamed) + " && cd " + ShellQuote(dir_.Path().string()) +
                                       " && printf 'locked payload' > Locked && zip -q -e -P secret " +
                                       ShellQuote(locked) + " Locked");
  ASSERT_EQ(made.exit_code, 0) << made.output << made.errors;
  cm_.OnPassword = [](TZipCopyMove&, int, std::string& password) {
    password = "secret";
    return true;
  };

  for (const std::string& peer : {streamed, locked}) {
    const auto peer_bytes = ReadFileBytes(peer);
    std::map<std::string, qbtest::RawZipEntry> before;
    std::vector<std::string> names;
    for (auto& e : qbtest::ReadRawZip(peer)) {
      ASSERT_TRUE(e.flags & zip::format::kFlagDataDescriptor) << e.name;
      before[e.name] = e;
    }
    {
      zip::TZipReader z;
      z.SetZipName(peer);
      z.ReadDirectory();
      for (int i = 0; i < z.EntryCount(); ++i) names.push_back(z.EntryFullName(i));
    }
    const auto payloads = Contents(peer, "secret");
    for (const TTransferType type : {TTransferType::ttCopy, TTransferType::ttMove}) {
      SCOPED_TRACE(peer + (type == TTransferType::ttCopy ? " copy" : " move"));
      qbtest::WriteFileBytes(peer, peer_bytes);
      std::filesystem::remove(target_path_);
      zip::TZipWriter source;
      ConfigureCabinetArchive(source);
      source.SetZipName(peer);
      cm_.SetZipReader(&source);
      Run(names, type);
      const int n = static_cast<int>(names.size());
      EXPECT_EQ(counts_, (std::array<int, 3>{n, type == TTransferType::ttMove ? n : 0, 0}));
      std::map<std::string, qbtest::RawZipEntry> after;
      for (auto& e : qbtest::ReadRawZip(target_path_)) after[e.name] = e;
      ASSERT_EQ(after.size(), before.size());
      for (const auto& [name, old] : before) {
        const qbtest::RawZipEntry& now = after.at(name);
        const bool encrypted = old.flags & zip::format::kFlagEncrypted;
        EXPECT_EQ(now.data, old.data) << name;  // not compressed again, still encrypted
        EXPECT_EQ(now.crc32, old.crc32) << name;
        EXPECT_EQ(now.method, old.method) << name;
        EXPECT_EQ(now.flags, encrypted ? old.flags : old.flags & ~zip::format::kFlagDataDescriptor) << name;
        EXPECT_EQ(now.comment, old.comment) << name;
        EXPECT_EQ(now.central_extra, old.central_extra) << name;
        EXPECT_EQ(now.local_extra, old.local_extra) << name;
        EXPECT_EQ(now.version_made_by, old.version_made_by) << name;
        EXPECT_EQ(now.external_attributes, old.external_attributes) << name;
      }
      EXPECT_EQ(Contents(target_path_, "secret"), payloads);  // payload, comment and date
      // Another program reads the target as it reads the source.
      const auto tested = qbtest::RunCommand("unzip -tq -P secret " + ShellQuote(target_path_));
      EXPECT_EQ(tested.exit_code, 0) << tested.output << tested.errors;
      if (type == TTransferType::ttCopy)
        EXPECT_EQ(ReadFileBytes(peer), peer_bytes);
      else
        EXPECT_TRUE(qbtest::ReadRawZip(peer).empty());
    }
  }
}

TEST_F(CopyMoveTest, SkippingEveryEntryChangesNothing) {
  const auto source_bytes = ReadFileBytes(source_path_);
  std::vector<std::string> asked;
  cm_.OnBeginTransfer = [&](TZipCopyMove&, const std::string& name, bool& skip) {
    asked.push_back(name);
    skip = true;
  };
  Run({"Code\\a.txt", "Other"}, TTransferType::ttMove);
  EXPECT_EQ(counts_, (std::array<int, 3>{0, 0, 2}));
  EXPECT_EQ(asked, (std::vector<std::string>{"Code\\a.txt", "Other"}));
  EXPECT_EQ(ReadFileBytes(source_path_), source_bytes);
  EXPECT_FALSE(std::filesystem::exists(target_path_));
}

TEST_F(CopyMoveTest, SameNamedItemIsReplacedOnlyWhenTheUserSaysSo) {
  zip::TZipWriter target;
  ConfigureCabinetArchive(target);
  target.SetZipName(target_path_);
  Put(target, "CODE\\A.TXT", "old a",
      "\x8C"
      "1\x8C\xBF\xA7old note\xA7\xBF");
  Put(target, "Other", "old other",
      "\x8C"
      "1\x8C\xBF");
  const auto source = Contents(source_path_);
  const auto old_target = Contents(target_path_);

  struct Case {
    std::vector<TReplaceAnswer> answers;
    int asked, transferred, skipped;
    bool a_replaced, other_replaced;
  };
  const Case cases[] = {
      {{TReplaceAnswer::No, TReplaceAnswer::Yes}, 2, 2, 1, false, true},
      {{TReplaceAnswer::YesToAll}, 1, 3, 0, true, true},
      {{TReplaceAnswer::Yes, TReplaceAnswer::Cancel}, 2, 0, 3, false, false},
  };
  const auto target_bytes = ReadFileBytes(target_path_);
  for (const Case& c : cases) {
    qbtest::WriteFileBytes(target_path_, target_bytes);
    size_t asked = 0;
    cm_.OnReplaceQuery = [&](TZipCopyMove&, const std::string&) { return c.answers.at(asked++); };
    Run({"Code\\a.txt", "Code\\b.txt", "Other"}, TTransferType::ttCopy);
    EXPECT_EQ(asked, static_cast<size_t>(c.asked));
    EXPECT_EQ(counts_[0], c.transferred);
    EXPECT_EQ(counts_[2], c.skipped);
    const auto now = Contents(target_path_);
    // A replaced item takes the incoming payload and comment; a kept one keeps its note.
    const auto& a = c.a_replaced ? source.at("Code\\a.txt") : old_target.at("CODE\\A.TXT");
    const auto a_now = now.count("Code\\a.txt") ? now.at("Code\\a.txt") : now.at("CODE\\A.TXT");
    EXPECT_EQ(std::get<0>(a_now), std::get<0>(a));
    EXPECT_EQ(std::get<1>(a_now), std::get<1>(a));
    EXPECT_EQ(std::get<0>(now.at("Other")),
              std::get<0>(c.other_replaced ? source.at("Other") : old_target.at("Other")));
  }
  // Without anyone to ask, the target's item is kept.
  qbtest::WriteFileBytes(target_path_, target_bytes);
  cm_.OnReplaceQuery = nullptr;
  Run({"Other"}, TTransferType::ttMove);
  EXPECT_EQ(counts_, (std::array<int, 3>{0, 0, 1}));
  EXPECT_EQ(ReadFileBytes(target_path_), target_bytes);
}

TEST_F(CopyMoveTest, EncryptedEntryNeedsItsPasswordAndStaysOtherwise) {
  source_.SetPassword("secret");
  Put(source_, "Locked", "locked payload",
      "\x8C"
      "1\x8C\xBF");
  source_.SetPassword("");
  AnswerPasswords({"wrong", "secret"});
  Run({"Locked"}, TTransferType::ttMove);
  EXPECT_EQ(prompts_, 2u);
  EXPECT_EQ(counts_, (std::array<int, 3>{1, 1, 0}));
  // It stays encrypted under its own password.
  EXPECT_EQ(std::get<0>(Contents(target_path_, "secret").at("Locked")), "locked payload");
  zip::TZipReader target;
  target.SetZipName(target_path_);
  EXPECT_EQ(target.CheckEntry(target.FindEntry("Locked")), "is encrypted");
  EXPECT_EQ(source_.Password(), "");  // the open cabinet's password is restored

  Put(source_, "Plain", "x", "");
  source_.SetPassword("other");
  Put(source_, "Locked2", "locked payload",
      "\x8C"
      "1\x8C\xBF");
  source_.SetPassword("");
  AnswerPasswords({"wrong"});
  Run({"Locked2"}, TTransferType::ttMove);
  EXPECT_EQ(counts_, (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(fails_, std::vector<std::string>{"Locked2"});
  zip::TZipReader check;
  check.SetZipName(source_path_);
  check.ReadDirectory();
  EXPECT_LT(check.FindEntry("Locked2"), check.EntryCount());
  EXPECT_FALSE(Contents(target_path_, "secret").count("Locked2"));
}

TEST_F(CopyMoveTest, WrongPasswordThatPassesTheHeaderCheckIsAskedAgain) {
  source_.SetPackLevel(0);
  source_.SetPassword("secret");
  Put(source_, "Locked", "locked payload",
      "\x8C"
      "1\x8C\xBF");
  source_.SetPassword("");
  // One password in 256 passes the encryption header's check byte: find one.
  std::string lucky;
  {
    zip::TZipReader probe;
    probe.SetZipName(source_path_);
    probe.ReadDirectory();
    for (int i = 0; i < 100000 && lucky.empty(); ++i) {
      probe.SetPassword("try" + std::to_string(i));
      if (probe.CheckEntry(probe.FindEntry("Locked")) != "is encrypted") lucky = probe.Password();
    }
  }
  ASSERT_FALSE(lucky.empty());
  AnswerPasswords({lucky});
  // The lucky password, asked again, then nothing (cancelled): the item stays.
  Run({"Locked"}, TTransferType::ttMove);
  EXPECT_EQ(prompts_, 1u);
  ASSERT_EQ(cm_.Failures().size(), 1u);
  EXPECT_EQ(cm_.Failures()[0].reason, "has a bad CRC: the data is damaged, or the password is wrong");

  AnswerPasswords({lucky, "secret"});
  Run({"Locked"}, TTransferType::ttCopy);
  EXPECT_EQ(prompts_, 2u);
  EXPECT_EQ(counts_, (std::array<int, 3>{1, 0, 0}));
  EXPECT_EQ(std::get<0>(Contents(target_path_, "secret").at("Locked")), "locked payload");

  // Damage inside the encrypted data, under the right password, reads the same.
  auto bytes = ReadFileBytes(source_path_);
  {
    zip::TZipReader probe;
    probe.SetZipName(source_path_);
    probe.ReadDirectory();
    const auto& entry = probe.Entry(probe.FindEntry("Locked"));
    const size_t local = static_cast<size_t>(entry.local_header_offset);
    const size_t name_length = bytes[local + 26] | (bytes[local + 27] << 8);
    const size_t extra_length = bytes[local + 28] | (bytes[local + 29] << 8);
    bytes[local + 30 + name_length + extra_length + static_cast<size_t>(entry.compressed_size) - 1] ^= 0x55;
  }
  qbtest::WriteFileBytes(source_path_, bytes);
  source_.SetZipName(source_path_);
  cm_.SetTargetZip(dir_ / "third.qvf");
  AnswerPasswords({"secret"});
  Run({"Locked"}, TTransferType::ttMove);
  EXPECT_EQ(prompts_, 1u);  // asked once more, then cancelled
  ASSERT_EQ(cm_.Failures().size(), 1u);
  EXPECT_EQ(cm_.Failures()[0].reason, "has a bad CRC: the data is damaged, or the password is wrong");
  EXPECT_EQ(ReadFileBytes(source_path_), bytes);
}

TEST_F(CopyMoveTest, DamagedEntryFailsAndStaysInTheSource) {
  source_.SetPackLevel(0);
  Put(source_, "Damaged", "DAMAGE-ME-PLEASE",
      "\x8C"
      "1\x8C\xBF");
  auto bytes = ReadFileBytes(source_path_);
  const std::string marker = "DAMAGE-ME";
  auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes.end());
  *at = 'X';
  qbtest::WriteFileBytes(source_path_, bytes);
  Run({"Damaged", "Other"}, TTransferType::ttMove);
  EXPECT_EQ(counts_, (std::array<int, 3>{1, 1, 0}));
  EXPECT_EQ(fails_, std::vector<std::string>{"Damaged"});
  ASSERT_EQ(cm_.Failures().size(), 1u);
  EXPECT_NE(cm_.Failures()[0].reason.find("CRC"), std::string::npos);
  EXPECT_FALSE(Contents(target_path_).count("Damaged"));
  zip::TZipReader check;
  check.SetZipName(source_path_);
  check.ReadDirectory();
  EXPECT_LT(check.FindEntry("Damaged"), check.EntryCount());
}

TEST_F(CopyMoveTest, TargetThatIsTheSourceByAnotherPathIsRefused) {
  const auto source_bytes = ReadFileBytes(source_path_);
  std::filesystem::create_symlink(source_path_, dir_ / "link.qvf");
  std::filesystem::create_hard_link(source_path_, dir_ / "hard.qvf");
  for (const std::string& other : {dir_ / "link.qvf", dir_ / "hard.qvf", dir_ / "./source.qvf"}) {
    cm_.SetTargetZip(other);
    cm_.FilesList() = {"Other"};
    cm_.SetTransferType(TTransferType::ttMove);
    EXPECT_THROW(cm_.Transfer(), ETransferRefused) << other;
    EXPECT_EQ(ReadFileBytes(source_path_), source_bytes);
  }
}

TEST_F(CopyMoveTest, TargetThatCannotBeWrittenLeavesTheSourceWhole) {
  zip::TZipWriter target;
  ConfigureCabinetArchive(target);
  target.SetZipName(target_path_);
  Put(target, "Kept", "kept", "");
  ASSERT_EQ(::chmod(target_path_.c_str(), 0444), 0);
  const auto source_bytes = ReadFileBytes(source_path_);
  const auto target_bytes = ReadFileBytes(target_path_);
  Run({"Code\\a.txt", "Other"}, TTransferType::ttMove);
  EXPECT_EQ(counts_, (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(fails_.size(), 2u);
  EXPECT_FALSE(cm_.Problem().empty());
  EXPECT_EQ(ReadFileBytes(source_path_), source_bytes);
  EXPECT_EQ(ReadFileBytes(target_path_), target_bytes);
}

TEST_F(CopyMoveTest, CancelWritesNothingAndCountsTheRestSkipped) {
  const auto source_bytes = ReadFileBytes(source_path_);
  cm_.OnBeginTransfer = [&](TZipCopyMove& sender, const std::string& name, bool&) {
    if (name == "Code\\b.txt") sender.Cancel();
  };
  Run({"Code\\a.txt", "Code\\b.txt", "Other"}, TTransferType::ttMove);
  EXPECT_TRUE(cm_.Cancelled());
  EXPECT_EQ(counts_, (std::array<int, 3>{0, 0, 3}));
  EXPECT_EQ(ReadFileBytes(source_path_), source_bytes);
  EXPECT_FALSE(std::filesystem::exists(target_path_));
}

}  // namespace
}  // namespace qb::store
