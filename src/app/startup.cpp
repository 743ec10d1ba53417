// TMainForm's start-up and shut-down (FormCreate, FormShow, FormClose, Exit) and
// the cabinet file type it registers at every start.
#include "app/command_line.h"
#include "app/main_form.h"
#include "app/window_placement.h"
#include "platform/codepage.h"

namespace qb {

namespace {
constexpr const char* kQuitQuestion = "Are you sure you wish to quit?";
}  // namespace

// --- TMainForm: create, show, close -----------------------------------------------------

bool TMainForm::FormCreate(const std::vector<std::string>& args) {
  first_show_ = true;
  clipboard_commands_.SetAutoSave(false);
  if (IsUninstallCommandLine(args)) {
    ending_ = true;
    first_show_ = false;
    // Nothing is shown: the program ends whatever the removal did.
    try {
      RemoveAssociations();
    } catch (...) {
    }
    return false;
  }
  return true;
}

void TMainForm::FormShow(const std::vector<std::string>& args) {
  if (!first_show_ || ending_) return;
  first_show_ = false;
  started_ = true;

  // 1. No cabinet yet.
  properties_.PreviousCabinet.clear();
  RunCommand(ui_, [this] { zip_.SetZipName(""); });

  // 2. The user glyph library.
  RunCommand(ui_, [this] { user_glyphs_.LoadUserGlyphs(); });

  // 3. and 4. The tool bar, the placements and the stored properties.
  TIniFile settings;
  RunCommand(ui_, [&] { settings = TIniFile(paths_.SettingsFile()); });
  if (host_) RunCommand(ui_, [&] { host_->RestoreToolbar(settings); });
  std::string cabinet;
  ReadStoredProperties(settings, properties_, cabinet);
  if (host_)
    for (TFormClass form : kAllFormClasses)
      if (std::optional<TWindowPlacement> placement = ReadPlacement(settings, FormSectionName(form)))
        RunCommand(ui_, [&] { host_->SetPlacement(form, *placement); });

  // 5. The recent cabinets.
  RunCommand(ui_, [this] { recent_files_.LoadHistory(); });

  // 6. View Items mode is the restored check mark (properties_.ViewItemsChecked).

  // 7. and 8. The cabinet: the command line's, else the last one; when that is
  // gone, the previous one; else none. Nothing is said about missing files.
  if (std::optional<std::string> named = CabinetFromCommandLine(args)) cabinet = *named;
  if (!RegularFileExists(cabinet)) cabinet.clear();
  if (cabinet.empty()) cabinet = properties_.PreviousCabinet;
  if (!RegularFileExists(cabinet)) cabinet.clear();

  // 9. The docking layout.
  RunCommand(ui_, [this] {
    const std::string layout = paths_.LayoutFile();
    if (host_ && RegularFileExists(layout) && host_->RestoreLayout(layout)) return;
    const TFirstRunLayout first_run;
    explorer_.SetVisible(first_run.Explorer.Visible);
    note_.SetVisible(first_run.Note.Visible);
    viewer_.SetVisible(first_run.Viewer.Visible);
    if (host_) host_->ApplyFirstRunLayout(first_run);
  });

  // 10. The tree of the chosen cabinet (a cabinet that cannot be read is reported
  // and left closed).
  RunCommand(ui_, [&] { OpenCabinet(cabinet, TCabinetOpening::StartUp); });

  // 11. The file association.
  RunCommand(ui_, [this] { AssociateCabinets(); });

  // 12. AutoSave, when the tray menu's "Auto Save At Start" says so: from the next
  // change of the clipboard on (the clip already there is not stored).
  if (properties_.AutoSaveAtStart) clipboard_commands_.SetAutoSave(true);
}

void TMainForm::FormClose() {
  if (ending_) return;
  if (started_) {
    // 1. Settings and placements, in one write of the settings file; sections the
    // program does not know (dock hosts, anything else) are kept.
    RunCommand(ui_, [this] {
      TIniFile settings(paths_.SettingsFile());
      WriteStoredProperties(settings, properties_, zip_.ZipName());
      if (host_) {
        for (TFormClass form : kAllFormClasses) {
          if (form == TFormClass::ViewerForm) RunCommand(ui_, [&] { host_->SaveToolbar(settings); });
          std::optional<TWindowPlacement> placement;
          RunCommand(ui_, [&] { placement = host_->GetPlacement(form); });
          if (placement) WritePlacement(settings, FormSectionName(form), *placement);
        }
      }
      settings.UpdateFile();
    });
    // 2. The docking layout.
    if (host_) RunCommand(ui_, [this] { host_->SaveLayout(paths_.LayoutFile()); });
  }
  // 3. The clipboard backup, offered back.
  RunCommand(ui_, [this] { clipboard_commands_.RestoreClipboardBackup(); });
  // 4. The recent cabinets, whatever the answer.
  if (started_) RunCommand(ui_, [this] { recent_files_.SaveHistory(); });
}

// --- the cabinet file type -------------------------------------------------------------------

void TMainForm::AssociateCabinets() {
  using namespace main_form;
  association_changed_ = false;
  const std::string& program = program_path_;
  if (program.empty()) return;
  const std::string icon = program + ",1";
  const std::string ours(kCabinetKeyName);

  at_shell_.SetExtension(std::string(kCabinetExtension));
  const bool existed = at_shell_.ReadAssociation();
  const std::string owner = at_shell_.KeyName();
  // Another program's type owns the extension: it keeps it.
  const bool foreign =
      existed && !owner.empty() && !codepage::SameTextAscii(owner, ours) && at_shell_.KeyExists(owner);
  bool current = at_shell_.PathToApp() == program && at_shell_.IconPath() == icon;
  if (foreign)
    current = TATShell::ProgramPathOf(at_shell_.DefaultValue(ours + "\\shell\\open\\command")) == program &&
              at_shell_.DefaultValue(ours + "\\DefaultIcon") == icon;
  if (!current) {
    at_shell_.SetKeyName(ours);
    at_shell_.SetTypeName(std::string(kCabinetTypeName));
    at_shell_.SetPathToApp(program);
    at_shell_.SetIconPath(icon);
    at_shell_.SetShowInNew(true);
    at_shell_.SetQuickView(false);
    at_shell_.SetParamPos(TParamPos::ppBefore);
    at_shell_.SetShellCommands("");
    if (foreign) {
      at_shell_.AssociateType();
    } else {
      if (existed) at_shell_.Unassociate(true, true);
      at_shell_.Associate();
    }
  }
  if (desktop_files_.Install(program, program_icons_)) association_changed_ = true;
  if (association_changed_) desktop_files_.RunUpdaters();
  association_changed_ = false;
}

void TMainForm::RemoveAssociations() {
  association_changed_ = false;
  at_shell_.SetExtension(std::string(main_form::kCabinetExtension));
  // Ours only, whatever the extension names now.
  at_shell_.SetKeyName(std::string(main_form::kCabinetKeyName));
  if (at_shell_.KeyExists(at_shell_.Extension()) || at_shell_.KeyExists(at_shell_.KeyName()))
    at_shell_.Unassociate(true, true);
  if (desktop_files_.Remove()) association_changed_ = true;
  if (association_changed_) desktop_files_.RunUpdaters();
  association_changed_ = false;
}

bool TMainForm::ExitMiClick() {
  return ui_.MessageBox(MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation), kQuitQuestion,
                        MsgButtons::OkCancel) == MsgAnswer::Ok;
}

}  // namespace qb
