#include "shell/recent_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHistorySubKey = "\\FileHistory";
constexpr const char* kValuePrefix = "File";
constexpr const char* kEllipsis = "...";

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The path as a caption shows it: whole up to kMaxShownPath bytes, else its start
// and its end (the file name) around "...", cut between characters.
std::string ShownPath(const std::string& path) {
  if (path.size() <= TRecentFiles::kMaxShownPath) return path;
  size_t head = TRecentFiles::kMaxShownPath / 3;
  size_t tail = path.size() - (TRecentFiles::kMaxShownPath - head - 3);
  while (head > 0 && IsContinuationByte(path[head])) --head;
  while (tail < path.size() && IsContinuationByte(path[tail])) ++tail;
  return path.substr(0, head) + kEllipsis + path.substr(tail);
}

}  // namespace

TRecentFiles::TRecentFiles(IRegistry& registry, std::string application_title)
    : registry_(registry), application_title_(std::move(application_title)) {}

TRecentFiles::~TRecentFiles() {
  // The menu outlives nothing of ours.
  if (menu_) {
    for (auto& entry : owned_) menu_->Remove(entry.get());
    menu_->Remove(&separator_);
  }
}

std::string TRecentFiles::EntryCaption(int position, const std::string& path) {
  std::string caption = "&" + std::to_string(position) + " ";
  for (char c : ShownPath(path)) {
    if (c == '&') caption += '&';
    caption += c;
  }
  return caption;
}

std::string TRecentFiles::CanonicalPath(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) return path;
  fs::path canonical = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : canonical).string();
}

std::string TRecentFiles::HistoryKey() const {
  return registry_key_ + kHistorySubKey;
}

void TRecentFiles::DefaultRegistryKey() {
  if (registry_key_.empty()) registry_key_ = "\\Software\\" + application_title_;
}

int TRecentFiles::SeparatorIndex() const {
  return menu_ ? menu_->IndexOf(&separator_) : -1;
}

int TRecentFiles::EntryCount() const {
  if (!menu_) return 0;
  return static_cast<int>(menu_->Count()) - (SeparatorIndex() + 1);
}

TMenuNode* TRecentFiles::Entry(int k) const {
  if (!menu_ || k < 0 || k >= EntryCount()) return nullptr;
  return menu_->Item(static_cast<size_t>(SeparatorIndex() + 1 + k));
}

std::vector<std::string> TRecentFiles::Paths() const {
  std::vector<std::string> paths;
  for (int k = 0; k < EntryCount(); ++k) paths.push_back(EntryPath(*Entry(k)));
  return paths;
}

void TRecentFiles::Renumber() {
  for (int k = 0; k < EntryCount(); ++k) {
    TMenuNode* entry = Entry(k);
    entry->SetCaption(EntryCaption(k + 1, EntryPath(*entry)));
  }
  menu_->Changed();
}

void TRecentFiles::RemoveEntry(TMenuNode* entry) {
  menu_->Remove(entry);
  auto it = std::find_if(owned_.begin(), owned_.end(), [entry](const auto& p) { return p.get() == entry; });
  if (it != owned_.end()) owned_.erase(it);
}

void TRecentFiles::ListChanged() {
  if (save_on_change_ && history_loaded_ && !loading_) SaveHistory();
}

void TRecentFiles::AddFile(const std::string& given) {
  if (!menu_ || max_files_ <= 0 || given.empty() || !RegularFileExists(given)) return;
  const std::string path = CanonicalPath(given);
  const std::vector<std::string> before = Paths();
  menu_->SetEnabled(true);
  if (!stand_alone_ && SeparatorIndex() < 0) menu_->Add(&separator_);
  const size_t first = static_cast<size_t>(SeparatorIndex() + 1);

  TMenuNode* found = nullptr;
  for (int k = 0; k < EntryCount() && !found; ++k)
    if (EntryPath(*Entry(k)) == path) found = Entry(k);
  if (found) {
    menu_->Remove(found);
    menu_->Insert(first, found);
  } else {
    auto entry = std::make_unique<TMenuNode>(EntryCaption(1, path));
    entry->SetValue(path);
    entry->OnClick = [this](TMenuNode& item) { EntryClick(item); };
    menu_->Insert(first, entry.get());
    owned_.push_back(std::move(entry));
  }
  Renumber();
  if (EntryCount() > max_files_) RemoveEntry(menu_->Item(menu_->Count() - 1));
  if (Paths() != before) ListChanged();
}

void TRecentFiles::LoadHistory() {
  if (!menu_) return;
  DefaultRegistryKey();
  if (registry_.KeyExists(TRegistryRoot::CurrentUser, HistoryKey())) {
    loading_ = true;
    for (int n = max_files_; n >= 1; --n) {
      std::optional<std::string> path =
          registry_.ReadString(TRegistryRoot::CurrentUser, HistoryKey(), kValuePrefix + std::to_string(n));
      if (path && !path->empty()) AddFile(*path);
    }
    loading_ = false;
  }
  history_loaded_ = true;
  if (stand_alone_) menu_->SetEnabled(EntryCount() > 0);
}

void TRecentFiles::SaveHistory() {
  if (!menu_) return;
  DefaultRegistryKey();
  const std::string key = HistoryKey();
  const TRegistryRoot root = TRegistryRoot::CurrentUser;
  if (registry_.KeyExists(root, key)) {
    // The key with its values (and, should someone have put any there, its subkeys).
    std::function<void(const std::string&)> erase = [&](const std::string& k) {
      for (const std::string& sub : registry_.SubKeys(root, k)) erase(k + "\\" + sub);
      registry_.DeleteKey(root, k);
    };
    erase(key);
  }
  if (!registry_.CreateKey(root, key)) return;
  const std::vector<std::string> paths = Paths();
  for (size_t i = 0; i < paths.size(); ++i)
    registry_.WriteString(root, key, kValuePrefix + std::to_string(i + 1), paths[i]);
}

void TRecentFiles::EntryClick(TMenuNode& entry) {
  const std::string path = EntryPath(entry);
  if (delete_entry_ && menu_ && menu_->IndexOf(&entry) >= 0) {
    RemoveEntry(&entry);
    if (stand_alone_) menu_->SetEnabled(EntryCount() > 0);
    if (!stand_alone_ && EntryCount() == 0)
      menu_->Remove(&separator_);
    else
      Renumber();
    ListChanged();
  }
  if (OnClick) OnClick(*this, path);
}

void TRecentFiles::ClickFile(const std::string& path) {
  for (int k = 0; k < EntryCount(); ++k) {
    if (EntryPath(*Entry(k)) == path) {
      EntryClick(*Entry(k));
      return;
    }
  }
  if (OnClick) OnClick(*this, path);
}

void TRecentFiles::SetMaxFiles(int value) {
  max_files_ = std::min(value, kMaxEntries);
  if (!menu_ || SeparatorIndex() < 0) return;
  bool removed = false;
  while (EntryCount() > std::max(max_files_, 0)) {
    RemoveEntry(menu_->Item(menu_->Count() - 1));
    removed = true;
  }
  if (max_files_ <= 0 && !stand_alone_) menu_->Remove(&separator_);
  if (removed) ListChanged();
}

void TRecentFiles::SetStandAloneMenu(bool value) {
  if (menu_) menu_->SetEnabled(false);
  stand_alone_ = value;
}

}  // namespace qb
