#include "platform/registry.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/codepage.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

// A registry file is a few kilobytes; anything far beyond is not one of ours.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

// The key path without its outer backslashes; nothing when it names no key.
std::optional<std::string> NormaliseKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  if (key.size() > IRegistry::kMaxKeyPath) return std::nullopt;
  for (size_t i = 0; i < key.size(); ++i) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (c < 0x20 || c == 0x7F) return std::nullopt;
    if (c == '\\' && i + 1 < key.size() && key[i + 1] == '\\') return std::nullopt;
  }
  return std::string(key);
}

std::string_view ParentOf(std::string_view path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

bool IsBelow(std::string_view path, std::string_view key) {
  if (key.empty()) return !path.empty();
  return path.size() > key.size() + 1 && path[key.size()] == '\\' &&
         codepage::SameTextAscii(path.substr(0, key.size()), key);
}

using TKeys = std::vector<TRegistryKeyData>;

TRegistryKeyData* FindKey(TKeys& keys, std::string_view path) {
  for (TRegistryKeyData& k : keys)
    if (codepage::SameTextAscii(k.Path, path)) return &k;
  return nullptr;
}

// The key and every level above it; returns the key.
TRegistryKeyData& ObtainKey(TKeys& keys, std::string_view path) {
  if (TRegistryKeyData* k = FindKey(keys, path)) return *k;
  if (std::string_view parent = ParentOf(path); !parent.empty()) ObtainKey(keys, parent);
  keys.push_back(TRegistryKeyData{std::string(path), {}});
  return keys.back();
}

TRegistryValue* FindValue(TRegistryKeyData& key, std::string_view name) {
  for (TRegistryValue& v : key.Values)
    if (codepage::SameTextAscii(v.Name, name)) return &v;
  return nullptr;
}

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A quoted string at the start of text; moves text past it.
std::optional<std::string> ReadQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  size_t i = 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
      case '"':
        out += text[i];
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  if (i >= text.size()) return std::nullopt;
  text.remove_prefix(i + 1);
  return out;
}

struct TLoaded {
  TKeys Keys;
  bool Readable = true;  // false: the file exists but could not be read
  bool Damaged = false;  // lines were skipped, or the file was far too big
};

TLoaded Load(const std::string& file) {
  TLoaded loaded;
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (ec || !fs::exists(status)) return loaded;
  if (!fs::is_regular_file(status)) {
    loaded.Readable = false;
    return loaded;
  }
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) {
    loaded.Readable = false;
    return loaded;
  }
  if (size > kMaxFileSize) {
    loaded.Damaged = true;
    return loaded;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    loaded.Readable = false;
    return loaded;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    loaded.Readable = false;
    return loaded;
  }
  size_t skipped = 0;
  loaded.Keys = ParseRegistryText(text.str(), &skipped);
  loaded.Damaged = skipped > 0;
  return loaded;
}

bool Save(const std::string& file, const TLoaded& loaded, TRegistryRoot root) {
  if (!loaded.Readable) return false;
  try {
    EnsureParentDir(file);
  } catch (...) {
    return false;
  }
  std::error_code ec;
  if (loaded.Damaged) {
    // What could not be read stays beside the new file.
    fs::copy_file(file, file + ".bad", fs::copy_options::overwrite_existing, ec);
    if (ec) return false;
  }
  // Private to the user, as the registry it stands in for is.
  return !WriteFileAtomically(file, RegistryText(loaded.Keys, RegistryRootName(root)), 0600);
}

}  // namespace

const char* RegistryRootName(TRegistryRoot root) {
  return root == TRegistryRoot::CurrentUser ? "CurrentUser" : "ClassesRoot";
}

std::vector<TRegistryKeyData> ParseRegistryText(std::string_view text, size_t* skipped) {
  TKeys keys;
  size_t bad = 0;
  TRegistryKeyData* current = nullptr;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::optional<std::string> path;
      if (line.size() >= 2 && line.back() == ']') path = NormaliseKey(line.substr(1, line.size() - 2));
      if (!path || path->empty()) {
        ++bad;
        current = nullptr;  // its values are skipped too
        continue;
      }
      current = &ObtainKey(keys, *path);
      continue;
    }
    std::optional<std::string> name;
    if (line.front() == '@') {
      name = "";
      line.remove_prefix(1);
    } else {
      name = ReadQuoted(line);
    }
    std::optional<std::string> data;
    if (name && !line.empty() && line.front() == '=') {
      line.remove_prefix(1);
      data = ReadQuoted(line);
    }
    if (!current || !data || !line.empty()) {
      ++bad;
      continue;
    }
    if (TRegistryValue* v = FindValue(*current, *name))
      v->Data = std::move(*data);
    else
      current->Values.push_back({std::move(*name), std::move(*data)});
  }
  if (skipped) *skipped = bad;
  return keys;
}

std::string RegistryText(const std::vector<TRegistryKeyData>& keys, std::string_view root_name) {
  std::string out = "; Quiverbox registry: ";
  out += root_name;
  out += "\n";
  for (const TRegistryKeyData& key : keys) {
    out += "\n[" + key.Path + "]\n";
    for (const TRegistryValue& value : key.Values) {
      if (value.Name.empty())
        out += "@";
      else
        AppendQuoted(out, value.Name);
      out += "=";
      AppendQuoted(out, value.Data);
      out += "\n";
    }
  }
  return out;
}

TFileRegistry::TFileRegistry(const TPaths& paths)
    : current_user_file_(paths.RegistryFile(RegistryRootName(TRegistryRoot::CurrentUser))),
      classes_root_file_(paths.RegistryFile(RegistryRootName(TRegistryRoot::ClassesRoot))) {}

std::string TFileRegistry::FileOf(TRegistryRoot root) const {
  return root == TRegistryRoot::CurrentUser ? current_user_file_ : classes_root_file_;
}

bool TFileRegistry::KeyExists(TRegistryRoot root, std::string_view key) {
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path) return false;
  if (path->empty()) return true;
  TLoaded loaded = Load(FileOf(root));
  return FindKey(loaded.Keys, *path) != nullptr;
}

bool TFileRegistry::CreateKey(TRegistryRoot root, std::string_view key) {
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path) return false;
  if (path->empty()) return true;
  TLoaded loaded = Load(FileOf(root));
  if (FindKey(loaded.Keys, *path)) return true;
  ObtainKey(loaded.Keys, *path);
  return Save(FileOf(root), loaded, root);
}

std::optional<std::string> TFileRegistry::ReadString(TRegistryRoot root, std::string_view key,
                                                     std::string_view name) {
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path || path->empty()) return std::nullopt;
  TLoaded loaded = Load(FileOf(root));
  TRegistryKeyData* k = FindKey(loaded.Keys, *path);
  if (!k) return std::nullopt;
  TRegistryValue* v = FindValue(*k, name);
  if (!v) return std::nullopt;
  return v->Data;
}

bool TFileRegistry::WriteString(TRegistryRoot root, std::string_view key, std::string_view name,
                                std::string_view value) {
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path || path->empty()) return false;
  TLoaded loaded = Load(FileOf(root));
  TRegistryKeyData& k = ObtainKey(loaded.Keys, *path);
  if (TRegistryValue* v = FindValue(k, name)) {
    if (v->Data == value && !loaded.Damaged) return true;
    v->Data = std::string(value);
  } else {
    k.Values.push_back({std::string(name), std::string(value)});
  }
  return Save(FileOf(root), loaded, root);
}

std::vector<std::string> TFileRegistry::SubKeys(TRegistryRoot root, std::string_view key) {
  std::vector<std::string> names;
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path) return names;
  TLoaded loaded = Load(FileOf(root));
  for (const TRegistryKeyData& k : loaded.Keys)
    if (codepage::SameTextAscii(ParentOf(k.Path), *path) && IsBelow(k.Path, *path))
      names.push_back(k.Path.substr(path->empty() ? 0 : path->size() + 1));
  return names;
}

std::vector<std::string> TFileRegistry::ValueNames(TRegistryRoot root, std::string_view key) {
  std::vector<std::string> names;
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path || path->empty()) return names;
  TLoaded loaded = Load(FileOf(root));
  if (TRegistryKeyData* k = FindKey(loaded.Keys, *path))
    for (const TRegistryValue& v : k->Values) names.push_back(v.Name);
  return names;
}

bool TFileRegistry::DeleteKey(TRegistryRoot root, std::string_view key) {
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path || path->empty()) return false;
  TLoaded loaded = Load(FileOf(root));
  TRegistryKeyData* k = FindKey(loaded.Keys, *path);
  if (!k) return false;
  for (const TRegistryKeyData& other : loaded.Keys)
    if (IsBelow(other.Path, *path)) return false;
  loaded.Keys.erase(loaded.Keys.begin() + (k - loaded.Keys.data()));
  return Save(FileOf(root), loaded, root);
}

bool TFileRegistry::DeleteValue(TRegistryRoot root, std::string_view key, std::string_view name) {
  const std::optional<std::string> path = NormaliseKey(key);
  if (!path || path->empty()) return false;
  TLoaded loaded = Load(FileOf(root));
  TRegistryKeyData* k = FindKey(loaded.Keys, *path);
  if (!k) return false;
  TRegistryValue* v = FindValue(*k, name);
  if (!v) return false;
  k->Values.erase(k->Values.begin() + (v - k->Values.data()));
  return Save(FileOf(root), loaded, root);
}

}  // namespace qb
