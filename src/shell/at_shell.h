// TATShell: the registration of a file type in the classes root of the registry -
// the extension key naming a type key, and the type key with its name, icon, open
// command and further verbs:
//
//   .qvf                               (default) = Quiverbox.File
//   .qvf\ShellNew                      Nullfile  = ""          (ShowInNew only)
//   Quiverbox.File\ShellNew            (default) = Nullfile    (ShowInNew only)
//   Quiverbox.File                     (default) = Quiverbox File Cabinet
//   Quiverbox.File\shell\open\command  (default) = "<program>" "%1"
//   Quiverbox.File\DefaultIcon         (default) = <program>,1
//   Quiverbox.File\QuickView           (default) = *           (QuickView only)
//   Quiverbox.File\shell\<verb>\command (default) for each of ShellCommands
//
// Commands quote the program path and "%1", so paths with blanks survive; reading
// a command back takes its first word, quoted or not. Setting Extension reads the
// current registration into the other properties. Registry writes that fail are
// not reported; each opens its key on its own.
//
// Unassociate removes only what belongs to KeyName: its type key, and the
// extension key while that names KeyName (or nothing). Another program's type key
// is never touched.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qb {

enum class TParamPos { ppBefore, ppAfter };

class TATShell {
 public:
  explicit TATShell(IRegistry& registry) : registry_(registry) {}

  const std::string& IconPath() const { return icon_path_; }
  void SetIconPath(std::string value) { icon_path_ = std::move(value); }
  bool ShowInNew() const { return show_in_new_; }
  void SetShowInNew(bool value) { show_in_new_ = value; }
  const std::string& TypeName() const { return type_name_; }
  void SetTypeName(std::string value) { type_name_ = std::move(value); }
  const std::string& PathToApp() const { return path_to_app_; }
  void SetPathToApp(std::string value) { path_to_app_ = std::move(value); }
  const std::string& Extension() const { return extension_; }
  // Stores the value and reads the registration for it (ReadAssociation).
  void SetExtension(std::string value);
  const std::string& KeyName() const { return key_name_; }
  void SetKeyName(std::string value) { key_name_ = std::move(value); }
  bool QuickView() const { return quick_view_; }
  void SetQuickView(bool value) { quick_view_ = value; }
  // "verb|parameters," for each further verb (the last "," may be missing).
  const std::string& ShellCommands() const { return shell_commands_; }
  void SetShellCommands(std::string value) { shell_commands_ = std::move(value); }
  TParamPos ParamPos() const { return param_pos_; }
  void SetParamPos(TParamPos value) { param_pos_ = value; }

  // The shell change notification: run after every change to the registration.
  std::function<void()> OnNotify;

  // Fills the properties from the registry for Extension; true when the
  // extension key exists.
  bool ReadAssociation();
  // Writes the whole registration (extension and type key) when the properties
  // are complete and a file exists at PathToApp, and notifies; false when it did
  // nothing.
  bool Associate();
  // The type key KeyName alone, the extension left as it is; same conditions.
  bool AssociateType();
  // remove_keys: the type key KeyName and the extension key while it names
  // KeyName go with all their subkeys; otherwise the extension key's default value
  // is emptied when the type key exists.
  void Unassociate(bool remove_keys, bool notify);

  // ".qvf" from "QVF", "qvf", ".QVF"; "" stays "".
  static std::string NormaliseExtension(const std::string& extension);
  // The command that runs program with the file (and parameters).
  static std::string Command(const std::string& program, const std::string& parameters, TParamPos pos);
  // The first word of a command, its quotation marks taken off.
  static std::string ProgramPathOf(const std::string& command);
  // What a command adds besides the program and "%1".
  static std::string ParametersOf(const std::string& command);

  // Registry routines on the classes root.
  bool KeyExists(const std::string& key);
  std::string DefaultValue(const std::string& key);
  // The key with all its subkeys; true when it is gone afterwards.
  bool DeleteTree(const std::string& key);

 private:
  void Write(const std::string& key, const std::string& name, const std::string& value);
  bool Complete();
  void WriteTypeKeys();
  void Notify();

  IRegistry& registry_;
  std::string icon_path_, type_name_, path_to_app_, extension_, key_name_, shell_commands_;
  bool show_in_new_ = false;
  bool quick_view_ = false;
  TParamPos param_pos_ = TParamPos::ppBefore;
};

}  // namespace qb
