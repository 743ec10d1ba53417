#include "platform/ini_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/paths.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

std::string_view Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LoadFromText(text);
}

void TIniFile::LoadFromText(std::string_view text) {
  sections_.clear();
  TSection* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      current = &Obtain(Trim(line.substr(1, close - 1)));
      continue;
    }
    const size_t equals = line.find('=');
    if (!current || equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) continue;
    bool found = false;
    for (TKey& k : current->Keys)
      if (codepage::SameTextAscii(k.Name, key)) {
        found = true;  // the first occurrence wins, as the profile functions read it
        break;
      }
    if (!found) current->Keys.push_back({std::string(key), std::string(Trim(line.substr(equals + 1)))});
  }
}

std::string TIniFile::ToText() const {
  std::string out;
  for (const TSection& section : sections_) {
    if (!out.empty()) out += "\n";
    out += "[" + section.Name + "]\n";
    for (const TKey& key : section.Keys) out += key.Name + "=" + key.Value + "\n";
  }
  return out;
}

const TIniFile::TSection* TIniFile::Find(std::string_view section) const {
  for (const TSection& s : sections_)
    if (codepage::SameTextAscii(s.Name, section)) return &s;
  return nullptr;
}

TIniFile::TSection& TIniFile::Obtain(std::string_view section) {
  for (TSection& s : sections_)
    if (codepage::SameTextAscii(s.Name, section)) return s;
  sections_.push_back({std::string(section), {}});
  return sections_.back();
}

bool TIniFile::SectionExists(std::string_view section) const {
  return Find(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  if (const TSection* s = Find(section))
    for (const TKey& k : s->Keys)
      if (codepage::SameTextAscii(k.Name, key)) return true;
  return false;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& fallback) const {
  if (const TSection* s = Find(section))
    for (const TKey& k : s->Keys)
      if (codepage::SameTextAscii(k.Name, key)) return k.Value;
  return fallback;
}

long long TIniFile::ReadInteger(std::string_view section, std::string_view key, long long fallback) const {
  const std::string text = ReadString(section, key, "");
  if (text.empty()) return fallback;
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    return fallback;
  }
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  const std::string text = ReadString(section, key, "");
  if (codepage::SameTextAscii(text, "True") || text == "1") return true;
  if (codepage::SameTextAscii(text, "False") || text == "0") return false;
  return fallback;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  TSection& s = Obtain(OneLine(Trim(section)));
  const std::string name = OneLine(Trim(key));
  for (TKey& k : s.Keys)
    if (codepage::SameTextAscii(k.Name, name)) {
      k.Value = OneLine(value);
      return;
    }
  s.Keys.push_back({name, OneLine(value)});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, long long value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "True" : "False");
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  for (TSection& s : sections_)
    if (codepage::SameTextAscii(s.Name, section))
      std::erase_if(s.Keys, [&](const TKey& k) { return codepage::SameTextAscii(k.Name, key); });
}

void TIniFile::EraseSection(std::string_view section) {
  std::erase_if(sections_, [&](const TSection& s) { return codepage::SameTextAscii(s.Name, section); });
}

void TIniFile::UpdateFile() const {
  EnsureParentDir(path_);
  WriteFileAtomicallyOrThrow(path_, ToText(), "settings file");
}

}  // namespace qb
