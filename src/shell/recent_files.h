// TRecentFiles: the list of the files used most recently, newest first, shown as
// the entries of a menu ("&1 /home/u/clips.qvf", "&2 ...") and kept in the current
// user's registry between runs.
//
// The main window's list is the File menu's "&Re-Open": at most nine cabinets, the
// only sub-items of that menu, stored under
// "\Software\Quiverbox\FileCabinets\FileHistory" as the string values File1 (the
// newest) to Filen and nothing else.
//
// Each entry keeps its file's whole path (Paths(), EntryPath()); its caption is
// "&" + its place in the list + " " + the path, with "&" in the path doubled so
// the menu shows it as it is, and a very long path shortened in the middle (the
// caption is only for display). Paths are made absolute and canonical (".", "..",
// symbolic links resolved) before they are compared, and compared exactly, letter
// case included, so "./a.qvf" and "/home/u/a.qvf" are one entry and "A.qvf" and
// "a.qvf" are two.
//
// With SaveOnChange (the main window sets it) the list is saved whenever it
// changes, not only by SaveHistory at shut-down, so a crash does not lose it -
// once LoadHistory has run: a list that never read the stored one does not
// overwrite it on its own. Loading itself never saves.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "shell/menu_node.h"

namespace qb {

class TRecentFiles {
 public:
  static constexpr int kMaxEntries = 9;
  // A caption shows paths up to this many characters whole; longer ones lose
  // their middle.
  static constexpr size_t kMaxShownPath = 100;

  // application_title names the default RegistryKey ("\Software\" + title).
  TRecentFiles(IRegistry& registry, std::string application_title);
  ~TRecentFiles();
  TRecentFiles(const TRecentFiles&) = delete;
  TRecentFiles& operator=(const TRecentFiles&) = delete;

  // --- properties ---------------------------------------------------------------------
  TMenuNode* Menu() const { return menu_; }
  void SetMenu(TMenuNode* menu) { menu_ = menu; }
  int MaxFiles() const { return max_files_; }
  void SetMaxFiles(int value);
  const std::string& RegistryKey() const { return registry_key_; }
  void SetRegistryKey(std::string key) { registry_key_ = std::move(key); }
  bool StandAloneMenu() const { return stand_alone_; }
  void SetStandAloneMenu(bool value);
  bool DeleteEntry() const { return delete_entry_; }
  void SetDeleteEntry(bool value) { delete_entry_ = value; }
  bool SaveOnChange() const { return save_on_change_; }
  void SetSaveOnChange(bool value) { save_on_change_ = value; }
  // Called with the component and the chosen file's path.
  std::function<void(TRecentFiles& sender, const std::string& latest_file)> OnClick;

  // --- operations ---------------------------------------------------------------------
  // Puts the file at the top (an existing file only; see above).
  void AddFile(const std::string& path);
  void LoadHistory();
  void SaveHistory();
  // An entry was chosen (the entries' click handler).
  void EntryClick(TMenuNode& entry);
  // The entry that shows path was chosen; when no entry shows it any more (it
  // went while the click waited), OnClick is told all the same.
  void ClickFile(const std::string& path);

  // --- reading the list -----------------------------------------------------------------
  // The entries' paths, top (newest) first.
  std::vector<std::string> Paths() const;
  int EntryCount() const;
  // Entry k (0 is the top) as a menu item; null beyond the list.
  TMenuNode* Entry(int k) const;
  static const std::string& EntryPath(const TMenuNode& entry) { return entry.Value(); }
  // The key the list lives in: RegistryKey + "\FileHistory".
  std::string HistoryKey() const;

  // "&<digit> <path>" with "&" doubled and a long path shortened.
  static std::string EntryCaption(int position, const std::string& path);
  // The path made absolute and lexically clean, with links resolved where it exists.
  static std::string CanonicalPath(const std::string& path);

 private:
  // The separator's place in Menu, -1 when it is not there.
  int SeparatorIndex() const;
  void Renumber();
  void RemoveEntry(TMenuNode* entry);
  void DefaultRegistryKey();
  void ListChanged();

  IRegistry& registry_;
  std::string application_title_;
  TMenuNode* menu_ = nullptr;
  int max_files_ = 0;
  std::string registry_key_;
  bool stand_alone_ = false;
  bool delete_entry_ = false;
  bool save_on_change_ = false;
  bool loading_ = false;
  bool history_loaded_ = false;
  TMenuNode separator_{"-"};
  std::vector<std::unique_ptr<TMenuNode>> owned_;  // the entries, in no particular order
};

}  // namespace qb
