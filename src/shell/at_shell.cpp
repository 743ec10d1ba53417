#include "shell/at_shell.h"

#include "platform/codepage.h"
#include "platform/paths.h"

namespace qb {

namespace {

constexpr TRegistryRoot kRoot = TRegistryRoot::ClassesRoot;
constexpr const char* kFileArgument = "%1";

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The first word of a command and what follows it.
std::pair<std::string, std::string_view> SplitFirstWord(std::string_view command) {
  command = TrimBlanks(command);
  if (!command.empty() && command.front() == '"') {
    const size_t close = command.find('"', 1);
    if (close == std::string_view::npos) return {std::string(command.substr(1)), {}};
    return {std::string(command.substr(1, close - 1)), command.substr(close + 1)};
  }
  const size_t blank = command.find_first_of(" \t");
  if (blank == std::string_view::npos) return {std::string(command), {}};
  return {std::string(command.substr(0, blank)), command.substr(blank)};
}

}  // namespace

std::string TATShell::NormaliseExtension(const std::string& extension) {
  std::string ext = codepage::AsciiLowerCase(extension);
  if (!ext.empty() && ext.find('.') == std::string::npos) ext.insert(0, ".");
  return ext;
}

std::string TATShell::Command(const std::string& program, const std::string& parameters, TParamPos pos) {
  const std::string quoted = "\"" + program + "\"";
  const std::string file = std::string("\"") + kFileArgument + "\"";
  if (parameters.empty()) return quoted + " " + file;
  if (pos == TParamPos::ppBefore) return quoted + " " + parameters + " " + file;
  return quoted + " " + file + " " + parameters;
}

std::string TATShell::ProgramPathOf(const std::string& command) {
  return SplitFirstWord(command).first;
}

std::string TATShell::ParametersOf(const std::string& command) {
  std::string rest(SplitFirstWord(command).second);
  const size_t quoted = rest.find("\"%1\"");
  if (quoted != std::string::npos)
    rest.erase(quoted, 4);
  else if (const size_t plain = rest.find(kFileArgument); plain != std::string::npos)
    rest.erase(plain, 2);
  return std::string(TrimBlanks(rest));
}

bool TATShell::KeyExists(const std::string& key) {
  return !key.empty() && registry_.KeyExists(kRoot, key);
}

std::string TATShell::DefaultValue(const std::string& key) {
  if (key.empty()) return {};
  return registry_.ReadString(kRoot, key, "").value_or("");
}

bool TATShell::DeleteTree(const std::string& key) {
  if (key.empty() || key.find_first_not_of('\\') == std::string::npos) return false;  // never the root
  for (const std::string& sub : registry_.SubKeys(kRoot, key)) DeleteTree(key + "\\" + sub);
  if (registry_.KeyExists(kRoot, key)) registry_.DeleteKey(kRoot, key);
  return !registry_.KeyExists(kRoot, key);
}

void TATShell::Write(const std::string& key, const std::string& name, const std::string& value) {
  registry_.WriteString(kRoot, key, name, value);
}

void TATShell::Notify() {
  if (OnNotify) OnNotify();
}

void TATShell::SetExtension(std::string value) {
  extension_ = std::move(value);
  ReadAssociation();
}

bool TATShell::ReadAssociation() {
  extension_ = NormaliseExtension(extension_);
  if (extension_.empty() || !KeyExists(extension_)) {
    key_name_.clear();
    icon_path_.clear();
    path_to_app_.clear();
    type_name_.clear();
    shell_commands_.clear();
    quick_view_ = show_in_new_ = false;
    return false;
  }
  key_name_ = DefaultValue(extension_);
  show_in_new_ = KeyExists(extension_ + "\\ShellNew");
  icon_path_.clear();
  path_to_app_.clear();
  type_name_.clear();
  shell_commands_.clear();
  quick_view_ = false;
  if (key_name_.empty()) return true;
  icon_path_ = DefaultValue(key_name_ + "\\DefaultIcon");
  path_to_app_ = ProgramPathOf(DefaultValue(key_name_ + "\\Shell\\Open\\Command"));
  type_name_ = DefaultValue(key_name_);
  quick_view_ = KeyExists(key_name_ + "\\QuickView");
  for (const std::string& verb : registry_.SubKeys(kRoot, key_name_ + "\\Shell")) {
    if (codepage::SameTextAscii(verb, "OPEN")) continue;
    shell_commands_ +=
        verb + "|" + ParametersOf(DefaultValue(key_name_ + "\\Shell\\" + verb + "\\command")) + ",";
  }
  return true;
}

bool TATShell::Complete() {
  return !key_name_.empty() && !extension_.empty() && extension_ != "." && !icon_path_.empty() &&
         !type_name_.empty() && RegularFileExists(path_to_app_);
}

void TATShell::WriteTypeKeys() {
  if (show_in_new_) Write(key_name_ + "\\ShellNew", "", "Nullfile");
  Write(key_name_, "", type_name_);
  Write(key_name_ + "\\shell\\open\\command", "", Command(path_to_app_, "", param_pos_));
  Write(key_name_ + "\\DefaultIcon", "", icon_path_);
  if (quick_view_) Write(key_name_ + "\\QuickView", "", "*");
  std::string_view items = shell_commands_;
  while (!items.empty()) {
    const size_t comma = items.find(',');
    const std::string_view item = items.substr(0, comma);
    items.remove_prefix(comma == std::string_view::npos ? items.size() : comma + 1);
    const size_t bar = item.find('|');
    const std::string verb(TrimBlanks(item.substr(0, bar)));
    if (verb.empty()) continue;
    const std::string parameters(bar == std::string_view::npos ? "" : item.substr(bar + 1));
    Write(key_name_ + "\\shell\\" + verb + "\\command", "", Command(path_to_app_, parameters, param_pos_));
  }
}

bool TATShell::Associate() {
  if (!Complete()) return false;
  extension_ = NormaliseExtension(extension_);
  Write(extension_, "", key_name_);
  if (show_in_new_) Write(extension_ + "\\ShellNew", "Nullfile", "");
  WriteTypeKeys();
  Notify();
  return true;
}

bool TATShell::AssociateType() {
  if (!Complete()) return false;
  WriteTypeKeys();
  Notify();
  return true;
}

void TATShell::Unassociate(bool remove_keys, bool notify) {
  if (extension_.empty()) return;
  extension_ = NormaliseExtension(extension_);
  if (remove_keys) {
    if (KeyExists(extension_)) {
      const std::string owner = DefaultValue(extension_);
      if (owner.empty() || codepage::SameTextAscii(owner, key_name_)) DeleteTree(extension_);
    }
    if (KeyExists(key_name_)) DeleteTree(key_name_);
  } else if (KeyExists(key_name_)) {
    Write(extension_, "", "");
  }
  if (notify) Notify();
}

}  // namespace qb
