#include "app/speedbar.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace qb {

namespace {

// A decimal integer with blanks around it; nothing for anything else.
std::optional<int> ParseInt(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string ButtonKey(int number) {
  return std::string(speedbar::kButton) + std::to_string(number);
}

}  // namespace

const std::vector<std::string>& SpeedbarSections() {
  static const std::vector<std::string> sections = {"File", "Edit", "Clipboard", "View", "Help"};
  return sections;
}

std::vector<int> ItemsOfSection(std::string_view section) {
  std::vector<int> items;
  const std::vector<TSpeedItem>& all = SpeedItems();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].Section == section) items.push_back(static_cast<int>(i));
  return items;
}

int FindSpeedItem(std::string_view name) {
  const std::vector<TSpeedItem>& all = SpeedItems();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].Name == name) return static_cast<int>(i);
  return -1;
}

const std::vector<int>& DesignButtons() {
  static const std::vector<int> buttons = [] {
    std::vector<int> out;
    for (const char* name : {"OpenSi", "CreateFCMi", "AddNoteSi", "RenameSi", "SaveToFCSi", "AutoSaveSi",
                             "HideTBSi", "ViewExpSi", "ViewNoteSi", "ViewLegendSi", "ModifyTBMi", "HelpSi"})
      out.push_back(FindSpeedItem(name));
    return out;
  }();
  return buttons;
}

TSpeedBar::TSpeedBar() : buttons_(DesignButtons()) {}

bool TSpeedBar::ApplyAlign(TSpeedBarAlign align) {
  return align == TSpeedBarAlign::Top || align == TSpeedBarAlign::Bottom;
}

bool TSpeedBar::SetAlign(TSpeedBarAlign align) {
  if (!ApplyAlign(align)) return false;
  if (align != align_) {
    align_ = align;
    Changed();
  }
  return true;
}

bool TSpeedBar::OnBar(int item) const {
  return std::find(buttons_.begin(), buttons_.end(), item) != buttons_.end();
}

bool TSpeedBar::Insert(int item, size_t index) {
  if (item < 0 || static_cast<size_t>(item) >= SpeedItems().size()) return false;
  std::vector<int> next = buttons_;
  auto at = std::find(next.begin(), next.end(), item);
  if (at != next.end()) {
    // Moving a button right past itself: the gap it leaves shifts the target.
    const size_t old = static_cast<size_t>(at - next.begin());
    if (index > old) --index;
    next.erase(at);
  }
  next.insert(next.begin() + static_cast<std::ptrdiff_t>(std::min(index, next.size())), item);
  if (next == buttons_) return false;
  buttons_ = std::move(next);
  Changed();
  return true;
}

bool TSpeedBar::Remove(int item) {
  auto at = std::find(buttons_.begin(), buttons_.end(), item);
  if (at == buttons_.end()) return false;
  buttons_.erase(at);
  Changed();
  return true;
}

void TSpeedBar::ResetToDesign() {
  if (buttons_ == DesignButtons()) return;
  buttons_ = DesignButtons();
  Changed();
}

TButtonPosition TSpeedBar::ButtonPosition(size_t index) {
  return {speedbar::kOffsetX + static_cast<int>(index) * speedbar::kButtonWidth, speedbar::kOffsetY};
}

void TSpeedBar::SaveLayout(TIniFile& ini, int pixels_per_inch, int bar_height) const {
  using namespace speedbar;
  ini.EraseSection(kSection);
  ini.WriteInteger(kSection, kPosition, static_cast<int>(align_));
  ini.WriteInteger(kSection, kWidth, bar_height);
  ini.WriteInteger(kSection, kVersion, kLayoutVersion);
  ini.WriteInteger(kSection, kPixelsPerInch, pixels_per_inch);
  ini.WriteInteger(kSection, kBtnWidth, kButtonWidth);
  ini.WriteInteger(kSection, kBtnHeight, kButtonHeight);
  for (size_t i = 0; i < buttons_.size(); ++i) {
    const TButtonPosition at = ButtonPosition(i);
    ini.WriteString(kSection, ButtonKey(static_cast<int>(i) + 1),
                    SpeedItems()[static_cast<size_t>(buttons_[i])].Name + "," + std::to_string(at.Left) +
                        "," + std::to_string(at.Top));
  }
  ini.WriteInteger(kSection, kCount, static_cast<long long>(buttons_.size()));
}

void TSpeedBar::RestoreLayout(const TIniFile& ini) {
  using namespace speedbar;
  if (!ini.SectionExists(kSection)) return;
  if (ini.ReadInteger(kSection, kVersion, kLayoutVersion) < kLayoutVersion) return;

  const long long position = ini.ReadInteger(kSection, kPosition, static_cast<int>(align_));
  if (position < static_cast<int>(TSpeedBarAlign::Top) ||
      position > static_cast<int>(TSpeedBarAlign::Right) || !SetAlign(static_cast<TSpeedBarAlign>(position)))
    SetAlign(TSpeedBarAlign::Top);

  const long long count = std::min<long long>(ini.ReadInteger(kSection, kCount, 0), kMaxStoredButtons);
  if (count <= 0) return;
  struct TStored {
    int Item;
    int Left;
    int Top;
  };
  std::vector<TStored> stored;
  for (int key = 1; key <= count; ++key) {
    const std::string value = ini.ReadString(kSection, ButtonKey(key), "");
    const size_t comma = value.find(',');
    const std::string_view name = std::string_view(value).substr(0, comma);
    const int item = FindSpeedItem(name);
    if (item < 0) continue;
    if (std::any_of(stored.begin(), stored.end(), [&](const TStored& s) { return s.Item == item; })) continue;
    // An unreadable position is where the item is now.
    TButtonPosition now{kOffsetX, kOffsetY};
    if (auto at = std::find(buttons_.begin(), buttons_.end(), item); at != buttons_.end())
      now = ButtonPosition(static_cast<size_t>(at - buttons_.begin()));
    std::optional<int> left, top;
    if (comma != std::string::npos) {
      const std::string_view rest = std::string_view(value).substr(comma + 1);
      const size_t second = rest.find(',');
      left = ParseInt(rest.substr(0, second));
      if (second != std::string_view::npos) top = ParseInt(rest.substr(second + 1));
    }
    stored.push_back(
        {item, std::max(left.value_or(now.Left), kOffsetX), std::max(top.value_or(now.Top), kOffsetY)});
  }
  // A layout none of whose names this version knows would leave the bar empty.
  if (stored.empty()) return;
  std::stable_sort(stored.begin(), stored.end(), [](const TStored& a, const TStored& b) {
    return a.Left != b.Left ? a.Left < b.Left : a.Top < b.Top;
  });
  std::vector<int> next;
  for (const TStored& s : stored) next.push_back(s.Item);
  if (next == buttons_) return;
  buttons_ = std::move(next);
  Changed();
}

void TSpeedBar::Changed() {
  if (OnChange) OnChange();
}

}  // namespace qb
