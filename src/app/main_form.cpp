#include "app/main_form.h"

#include <filesystem>
#include <system_error>

#include "app/menu_model.h"
#include "clipboard/text_payload.h"
#include "explorer/cabinet_tree.h"
#include "explorer/selected_item.h"
#include "finder/cabinet_index.h"
#include "panes/glyph_legend.h"
#include "panes/text_editor.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "store/cabinet_store.h"
#include "store/copy_move.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "store/item_size.h"
#include "store/store_errors.h"
#include "zip/zip_errors.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kUnableToLocate = "Unable to locate this clip in the File Cabinet!";

std::string FolderOf(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  return (ec ? fs::path(path) : absolute).parent_path().string();
}

}  // namespace

TMainForm::TMainForm(IUserInteraction& ui, TPaths paths) : TMainForm(ui, std::move(paths), nullptr) {}

TMainForm::TMainForm(IUserInteraction& ui, TPaths paths, IClipboard& clipboard)
    : TMainForm(ui, std::move(paths), &clipboard) {}

TMainForm::TMainForm(IUserInteraction& ui, TPaths paths, IClipboard* clipboard)
    : ui_(ui),
      paths_(std::move(paths)),
      own_clipboard_(clipboard ? nullptr : std::make_unique<TMemoryClipboard>()),
      clipboard_(clipboard ? *clipboard : *own_clipboard_),
      clipboard_commands_(TClipboardContext{clipboard_, ui_, zip_, explorer_, viewer_, payload_,
                                            properties_.ViewItemsChecked, properties_.CurrentDrawerChecked,
                                            paths_.TempPictureFile(),
                                            [this] {
                                              if (message_pump_) message_pump_();
                                            },
                                            [this](TOperation op) { operations_.Submit(std::move(op)); }}),
      registry_(paths_),
      recent_files_(registry_, caption_),
      at_shell_(registry_),
      desktop_files_(paths_.DesktopDataDir()),
      program_path_(RunningProgramPath()),
      user_glyphs_(TUserGlyphContext{ui_,
                                     zip_,
                                     explorer_,
                                     paths_.UserGlyphLibrary(),
                                     properties_.PicDlgInitialDir,
                                     properties_.OpenDialogInitialDir,
                                     {},
                                     [this] { return recent_files_.Paths(); },
                                     [this] { RebuildCabinetTree(); }}) {
  operations_.ReportError = [this](const std::exception& e) { ShowError(ui_, e.what()); };
  // A store that found the cabinet held by another writer (after the engine's own
  // wait) is tried again later.
  operations_.IsCabinetBusy = [](const std::exception& e) {
    return dynamic_cast<const zip::ECabinetBusy*>(&e) != nullptr;
  };
  store::ConfigureCabinetArchive(zip_);
  zip_.SetInteraction(&ui_);
  TExplorerContext explorer_context;
  explorer_context.Zip1 = &zip_;
  explorer_context.UI = &ui_;
  explorer_context.SetNoteText = [this](const std::string& text) { note_.SetMemo1Text(text); };
  explorer_context.ViewItemsMode = [this] { return properties_.ViewItemsChecked; };
  explorer_context.ItemClicked = [this] { ExplorerItemClicked(); };
  explorer_.SetContext(std::move(explorer_context));

  // RecentFiles1 as the window has it: the only entries of "&Re-Open", which
  // starts disabled; the list is saved whenever it changes.
  recent_files_.SetMenu(&reopen_mi_);
  recent_files_.SetMaxFiles(TRecentFiles::kMaxEntries);
  recent_files_.SetRegistryKey(std::string(main_form::kRecentRegistryKey));
  recent_files_.SetStandAloneMenu(true);
  recent_files_.SetDeleteEntry(true);
  recent_files_.SetSaveOnChange(true);
  recent_files_.OnClick = [this](TRecentFiles& sender, const std::string& path) {
    RecentFiles1Click(sender, path);
  };
  // The shell is told once, after all the changes of one operation.
  at_shell_.OnNotify = [this] { association_changed_ = true; };
}

void TMainForm::SetMessagePump(std::function<void()> pump) {
  message_pump_ = pump;
  zip_.SetMessagePump(std::move(pump));
}

bool TMainForm::Execute(std::string name, std::function<void()> command, bool retry_when_cabinet_busy) {
  return operations_.Submit(TOperation{std::move(name), std::move(command), retry_when_cabinet_busy});
}

bool TMainForm::Command(TCommand command, int tag) {
  return Execute(std::string(HandlerName(command)),
                 [this, command, tag] { RunHandler(*this, command, tag); });
}

void TMainForm::Error(const std::string& text) {
  ShowError(ui_, text);
}

// --- the explorer tree ---------------------------------------------------------------

void TMainForm::RebuildCabinetTree() {
  TTreeView& tree = explorer_.TreeView1();
  THourglass hourglass(ui_);
  tree.Clear();
  note_.ClearMemo1();
  viewer_.ShowEmpty();
  tree.BeginUpdate();
  auto finish = [&] {
    recent_files_.AddFile(zip_.ZipName());
    if (OnCabinetShown) OnCabinetShown(zip_.ZipName());
    tree.EndUpdate();
  };
  try {
    FillCabinetTree(tree, zip_, explorer_.GlyphImageCount());
  } catch (...) {
    try {
      finish();
    } catch (...) {
      tree.EndUpdate();
    }
    throw;
  }
  finish();
}

void TMainForm::DisplayAllMiClick() {
  explorer_.FullExpand();
}
void TMainForm::CollapseAllMiClick() {
  explorer_.FullCollapse();
}

void TMainForm::OpenCabinet(const std::string& path, TCabinetOpening source) {
  if (source == TCabinetOpening::ReOpen && !RegularFileExists(path)) {
    Error(path + kCrLf + std::string(main_form::kDoesNotExist));
    return;
  }
  const std::string previous = zip_.ZipName();
  zip_.SetZipName(path);  // writes the old cabinet's pending changes, or throws
  if (source != TCabinetOpening::StartUp) properties_.PreviousCabinet = previous;
  if (source == TCabinetOpening::Dialog) properties_.OpenDialogInitialDir = FolderOf(path);
  RebuildCabinetTree();
  OfferRepairIfDamaged();
}

void TMainForm::OfferRepairIfDamaged() {
  if (zip_.DirectoryDamage().empty()) return;
  const MsgAnswer answer = ui_.MessageBox(
      MsgKind::Warning, DefaultCaption(MsgKind::Warning),
      "The File Cabinet " + zip_.ZipName() + " is damaged: " + zip_.DirectoryDamage() + "." + kCrLf + "The " +
          std::to_string(zip_.EntryCount()) +
          " items that could be read are shown; nothing can be saved in it until it is repaired." + kCrLf +
          "Repair it now? A copy of the damaged file is kept.",
      MsgButtons::YesNo);
  if (answer != MsgAnswer::Yes) return;
  const std::string copy = zip_.Repair();
  RebuildCabinetTree();
  ui_.MessageBox(MsgKind::Information, DefaultCaption(MsgKind::Information),
                 "The File Cabinet was repaired. The damaged file was kept as " + copy + ".", MsgButtons::Ok);
}

// --- File menu -------------------------------------------------------------------------

void TMainForm::RunCabinetDialog(bool create) {
  TFileDialogRequest request;
  request.Kind = create ? TFileDialogKind::Save : TFileDialogKind::Open;
  request.Options = create ? ofOverwritePrompt | ofHideReadOnly | ofPathMustExist | ofEnableSizing
                           : ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing;
  request.Title = create ? main_form::kNewTitle : main_form::kOpenTitle;
  request.Filter = main_form::kCabinetFilter;
  request.DefaultExt = main_form::kCabinetDefaultExt;
  request.InitialDir = properties_.OpenDialogInitialDir;
  std::optional<std::string> chosen = ui_.FileDialog(request);
  if (!chosen || chosen->empty()) return;
  OpenCabinet(*chosen, TCabinetOpening::Dialog);
}

void TMainForm::RecentFiles1Click(TRecentFiles& /*sender*/, const std::string& latest_file) {
  OpenCabinet(latest_file, TCabinetOpening::ReOpen);
}

void TMainForm::OpenMiClick() {
  RunCabinetDialog(false);
}
void TMainForm::NewMiClick() {
  RunCabinetDialog(true);
}

// --- Edit menu -------------------------------------------------------------------------

TEditMenuState TMainForm::EditMiClick() {
  TEditMenuState state;
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return state;
  state.AddNoteMi = state.ChangeGlyphMi = state.RenameMi = state.DeleteMi = state.CopyMi = state.MoveMi =
      true;
  state.DeleteNoteMi = HasNoteMark(node);
  try {
    TSelectedItem item = LocateSelectedItem(explorer_, zip_);
    if (item.Found()) {
      std::optional<long long> format = store::ReadFormatNumber(EntryCommentOf(zip_, item.Index));
      state.EditTextItemMi = format && (*format == store::kFormatText || *format == store::kFormatOemText);
    }
  } catch (const std::exception&) {
    // A cabinet that cannot be read, or a damaged format field: nothing to edit.
  }
  return state;
}

void TMainForm::AddNoteMiClick() {
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return Error("There isn't an item selected to add a note to");
  const std::string note = note_.Memo1Text();
  if (note.empty()) {
    return Error(std::string("There is no note to add!") + kCrLf +
                 (note_.Visible()
                      ? "A"
                      : std::string("You need to make the note editor visible first,") + kCrLf + "a") +
                 "dd your required text to the note, then 'Add Note To Selected'");
  }
  TSelectedItem item = LocateSelectedItem(explorer_, zip_);
  if (!item.Found()) return Error(kUnableToLocate);
  store::SetItemNote(zip_, zip_.EntryFullName(item.Index), note);
  node->SetStateIndex(kNoteStateIndex);
}

void TMainForm::DeleteNoteMiClick() {
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return Error("There isn't an item selected to delete the note from");
  TSelectedItem item = LocateSelectedItem(explorer_, zip_);
  if (!item.Found()) return Error(kUnableToLocate);
  store::DeleteItemNote(zip_, zip_.EntryFullName(item.Index));
  node->SetStateIndex(-1);
}

void TMainForm::RenameMiClick() {
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return Error("There isn't an item selected to rename");
  const std::string path = ItemPathOf(node);
  const std::string name(store::ItemNameOf(path));
  const std::string dir(store::DrawerPathOf(path));
  std::optional<std::string> typed = ui_.InputBox("Rename Item", "Rename the item to...", name);
  if (!typed) return;
  if (dir + *typed == path) return;
  // The name as the engine would store it, so that what is asked about, renamed
  // and shown is one and the same path.
  std::string new_path;
  try {
    new_path = store::NormalizeItemPath(dir + *typed);
  } catch (const store::EItemPathError& e) {
    return Error(e.what());
  }
  if (new_path == path) return;

  store::RefreshDirectory(zip_);
  const int other = store::FindItemEntry(zip_, new_path);
  const bool exists = other < zip_.EntryCount();
  if (exists) {
    const MsgAnswer answer = ui_.MessageBox(
        MsgKind::Warning, DefaultCaption(MsgKind::Warning),
        new_path + " already exist!" + kCrLf + "Do you wish to replace this entry ?", MsgButtons::OkCancel);
    if (answer != MsgAnswer::Ok) return;
  }
  const int j = store::FindItemEntry(zip_, path);
  if (j >= zip_.EntryCount()) return Error(kUnableToLocate);
  const bool displaces = exists && other != j;
  // A confirmed replacement removes the other entry in the same update.
  store::MoveItem(zip_, zip_.EntryFullName(j), new_path, /*replace_existing=*/exists);

  const std::string new_name(store::ItemNameOf(new_path));
  if (store::DrawerPathOf(new_path) != dir) {
    RebuildCabinetTree();
    explorer_.FullExpand();
    if (TTreeNode* moved = FindNodeByPath(explorer_.TreeView1(), new_path); IsItemNode(moved))
      explorer_.TreeView1().SetSelected(moved);
    return;
  }
  if (displaces) {
    // The replaced item's node would otherwise stay beside the renamed one.
    TTreeNode* parent = node->Parent();
    for (int k = 0; parent && k < parent->Count(); ++k) {
      TTreeNode* sibling = parent->Item(k);
      if (sibling != node && IsItemNode(sibling) && codepage::SameTextAscii(sibling->Caption(), new_name)) {
        explorer_.TreeView1().Delete(sibling);
        break;
      }
    }
  }
  node->SetCaption(new_name);
}

void TMainForm::DeleteMiClick() {
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return Error("There isn't an item selected to delete");
  zip_.FilesList().clear();
  const MsgAnswer answer =
      ui_.MessageBox(MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation),
                     "Are you sure you want to delete the selected item?", MsgButtons::YesCancel);
  if (answer != MsgAnswer::Yes) return;
  int removed = 0;
  if (!zip_.ZipName().empty()) {
    store::RefreshDirectory(zip_);
    const int index = store::FindItemEntry(zip_, ItemPathOf(node));
    if (index < zip_.EntryCount()) {
      store::ClearSelection(zip_);
      zip_.SetEntrySelected(index, true);
      try {
        removed = zip_.RemoveEntries();
      } catch (...) {
        store::ClearSelection(zip_);
        throw;
      }
    }
  }
  if (removed < 1) return Error("Unable to remove the selected item from the File Cabinet");
  TTreeNode* parent = node->Parent();
  explorer_.TreeView1().Delete(node);
  explorer_.PruneEmptyDrawers(parent);
}

void TMainForm::CopyMiClick(int tag) {
  CopyToCabinet(tag, explorer_.Selected());
}

void TMainForm::CopyToCabinet(int tag, TTreeNode* node) {
  const bool move = tag == 1;
  const char* verb = move ? "move" : "copy";
  if (zip_.ZipName().empty())
    return Error(std::string("There isn't a File Cabinet open to ") + verb + " from");
  std::vector<std::string> names;
  if (IsItemNode(node)) {
    TSelectedItem item = LocateSelectedItem(explorer_, zip_);
    if (!item.Found()) return Error(kUnableToLocate);
    names.push_back(zip_.EntryFullName(item.Index));
  } else if (node && !IsRootNode(node)) {
    // A drawer: every item in it and in the drawers below it.
    const std::string prefix = ItemPathOf(node) + "\\";
    store::RefreshDirectory(zip_);
    for (int i = 0; i < zip_.EntryCount(); ++i) {
      const std::string full = zip_.EntryFullName(i);
      if (!zip_.EntryFileName(i).empty() && full.size() > prefix.size() &&
          codepage::SameTextAscii(std::string_view(full).substr(0, prefix.size()), prefix))
        names.push_back(full);
    }
    if (names.empty()) return Error("The selected drawer holds no items to " + std::string(verb));
  } else {
    return Error(std::string("There isn't an item or a drawer selected to ") + verb);
  }

  TFileDialogRequest request;
  request.Kind = TFileDialogKind::Open;
  request.Options = ofHideReadOnly | ofPathMustExist | ofEnableSizing;
  request.Title = move ? "Move To Another File Cabinet" : "Copy To Another File Cabinet";
  request.Filter = main_form::kCabinetFilter;
  request.DefaultExt = main_form::kCabinetDefaultExt;
  request.InitialDir = properties_.OpenDialogInitialDir;
  std::optional<std::string> chosen = ui_.FileDialog(request);
  if (!chosen || chosen->empty()) return;
  const std::string target = *chosen;
  if (store::TZipCopyMove::SameCabinet(zip_.ZipName(), target))
    return Error("The items are in that File Cabinet already: choose another File Cabinet");

  store::TZipCopyMove copy_move;
  copy_move.SetZipReader(&zip_);
  copy_move.SetTargetZip(target);
  copy_move.SetTransferType(move ? store::TTransferType::ttMove : store::TTransferType::ttCopy);
  copy_move.FilesList() = names;
  copy_move.OnReplaceQuery = [&](store::TZipCopyMove&, const std::string& name) {
    switch (ui_.ReplaceQuestion(
        DefaultCaption(MsgKind::Confirmation),
        "The File Cabinet " + target + " already holds an item \"" + name + "\"." + kCrLf + "Replace it?")) {
      case TReplaceChoice::Yes:
        return store::TReplaceAnswer::Yes;
      case TReplaceChoice::No:
        return store::TReplaceAnswer::No;
      case TReplaceChoice::YesToAll:
        return store::TReplaceAnswer::YesToAll;
      case TReplaceChoice::Cancel:
        break;
    }
    return store::TReplaceAnswer::Cancel;
  };
  copy_move.OnPassword = [&](store::TZipCopyMove&, int, std::string& password) {
    TPasswordRequest password_request;
    password_request.Label = "&Enter old password...";
    std::optional<std::string> typed = ui_.PasswordDialog(password_request);
    if (!typed) return false;
    password = *typed;
    return true;
  };
  TTransferProgress progress;
  progress.Action = move ? "Moving Files" : "Copying Files";
  progress.From = zip_.ZipName();
  progress.To = target;
  copy_move.OnProgress = [&](store::TZipCopyMove& sender, int whole, int entry) {
    progress.Whole = whole;
    progress.Entry = entry;
    if (!ui_.TransferProgress(progress)) sender.Cancel();
  };
  struct CloseProgress {
    IUserInteraction& ui;
    ~CloseProgress() { ui.CloseTransferProgress(); }
  } close_progress{ui_};
  ui_.TransferProgress(progress);
  copy_move.Transfer();
  ui_.CloseTransferProgress();

  // The moved items leave the explorer, and the drawers they leave empty.
  if (move && copy_move.DeletedCount() > 0) {
    store::RefreshDirectory(zip_);
    for (const std::string& name : copy_move.TransferredNames()) {
      if (store::FindItemEntry(zip_, name) < zip_.EntryCount()) continue;  // still there
      TTreeNode* moved = FindNodeByPath(explorer_.TreeView1(), name);
      if (!moved || !IsItemNode(moved)) continue;
      TTreeNode* parent = moved->Parent();
      explorer_.TreeView1().Delete(moved);
      explorer_.PruneEmptyDrawers(parent);
    }
  }

  // The summary.
  auto items = [](int n) { return std::to_string(n) + (n == 1 ? " item" : " items"); };
  std::string text =
      std::string(move ? "Moved " : "Copied ") + items(copy_move.TransferredCount()) + " to " + target + ".";
  if (copy_move.Cancelled()) text = "Cancelled: nothing was " + std::string(move ? "moved." : "copied.");
  auto line = [&](const std::string& more) { text += kCrLf + more; };
  if (copy_move.SkippedCount() > 0) line("Skipped: " + items(copy_move.SkippedCount()) + ".");
  if (move && copy_move.DeletedCount() != copy_move.TransferredCount())
    line("Removed from this File Cabinet: " + items(copy_move.DeletedCount()) + ".");
  if (!copy_move.Problem().empty()) line(copy_move.Problem());
  if (!copy_move.Failures().empty()) {
    line(std::string("Not ") + (move ? "moved" : "copied") + " (left in this File Cabinet):");
    for (const auto& failure : copy_move.Failures())
      line(failure.reason == copy_move.Problem() ? failure.name : failure.name + ": " + failure.reason);
  }
  const bool bad = !copy_move.Failures().empty() || !copy_move.Problem().empty();
  ui_.MessageBox(bad ? MsgKind::Warning : MsgKind::Information,
                 DefaultCaption(bad ? MsgKind::Warning : MsgKind::Information), text, MsgButtons::Ok);
}

void TMainForm::ChangeGlyphMiClick() {
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return Error("There isn't an item selected to change a glyph for");
  TViewForm chooser;
  chooser.PrepareChangeGlyph(user_glyphs_.Names(), explorer_.GlyphImageCount());
  const int glyph = chooser.ApplyResult(ui_.GlyphDialog(chooser.Request()));
  if (glyph < 0) return;  // Cancel, or OK without a choice
  TSelectedItem item = LocateSelectedItem(explorer_, zip_);
  if (!item.Found()) return Error(kUnableToLocate);
  store::SetItemGlyph(zip_, zip_.EntryFullName(item.Index), glyph);
  node->SetImageIndex(glyph);
  node->SetSelectedIndex(glyph);
}

void TMainForm::AddNewItemMiClick() {
  if (zip_.ZipName().empty()) return Error("There is no File Cabinet loaded to add the item to");
  TPayloadScope payload_scope(payload_);
  std::string name = store::NextFreeItemName(zip_, store::kNewItemsPrefix);
  TTextEditorRequest editor;
  editor.Caption = memo_form::kDefaultCaption;
  std::optional<std::vector<std::string>> lines = ui_.TextEditor(editor);
  if (!lines) return;
  const std::string text = TextPayloadFromLines(*lines, store::kFormatText);
  payload_.Write(text.data(), text.size());
  payload_.SetPosition(0);

  const std::string caption = "Save New Item As";
  std::optional<std::string> typed =
      ui_.InputBox(caption, "You can supply drawers to save to, ie: New\\item1", name);
  for (;;) {
    if (!typed) return;
    name = *typed;
    std::string path;
    try {
      path = store::NormalizeItemPath(name);
    } catch (const store::EItemPathError& e) {
      Error(e.what());
      typed = ui_.InputBox(caption, "You can supply drawers to save to, ie: New\\item1", name);
      continue;
    }
    store::RefreshDirectory(zip_);
    if (store::FindItemEntry(zip_, path) < zip_.EntryCount()) {
      const MsgAnswer answer =
          ui_.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning),
                         path + kCrLf + "already exists, do you wish to overwrite ?", MsgButtons::YesNo);
      if (answer != MsgAnswer::Yes) {
        typed = ui_.InputBox(caption, "Supply a different path\\name to avoid overwriting", name);
        continue;
      }
    }
    const store::StoredItem stored =
        store::StoreItemWithComment(zip_, payload_, path, store::ComposeNewTextItemComment());
    TTreeNode* added = explorer_.InsertItemPath(explorer_.Root(), stored.path, store::kTextGlyph, -1);
    if (stored.replaced && IsItemNode(added)) {
      // The overwritten item lost its glyph and note with its comment.
      added->SetImageIndex(store::kTextGlyph);
      added->SetSelectedIndex(store::kTextGlyph);
      added->SetStateIndex(-1);
    }
    return;
  }
}

void TMainForm::EditTextItemMiClick(int tag) {
  TTreeNode* node = explorer_.SelectedItem();
  if (!node) return Error("No item within the File Cabinet is selected!");
  TPayloadScope payload_scope(payload_);
  TSelectedItem item = LocateSelectedItem(explorer_, zip_);
  if (!item.Found()) return Error("Unable to locate " + item.Path + kCrLf + "within the File Cabinet!");
  const std::string full_name = zip_.EntryFullName(item.Index);
  const std::string comment = EntryCommentOf(zip_, item.Index);
  if (const uint64_t size = zip_.Entry(item.Index).uncompressed_size; size > max_item_size_)
    return Error(store::ItemTooLargeText(item.Path, size, max_item_size_, "edit"));
  store::ClearSelection(zip_);
  if (zip_.ExtractIndexToStream(&payload_, item.Index) != 1)
    return Error("Unable to read " + item.Path + " from the File Cabinet!");
  const long long format = store::ReadFormatNumber(comment).value_or(-1);
  if (format != store::kFormatText && format != store::kFormatOemText)
    return Error("Cannot edit a none text item!");
  // The edited text is stored under the entry's own name; a name the engine would
  // store differently (written by another program) would leave the old entry and
  // add a second one.
  std::string storable;
  try {
    storable = store::NormalizeItemPath(full_name);
  } catch (const store::EItemPathError&) {
  }
  if (storable != full_name)
    return Error("The item " + full_name + " cannot be written back under its name; rename it first");

  TTextEditorRequest editor;
  editor.Caption = EditingItemCaption(item.Path);
  editor.HighLighter = tag >= 0 && tag <= 9 ? tag : 0;
  const std::string original = payload_.ToString();
  editor.Lines = TextPayloadLines(original, format);
  const TTextLayout layout = TextPayloadLayout(original);
  payload_.Clear();
  std::optional<std::vector<std::string>> lines = ui_.TextEditor(editor);
  if (!lines || *lines == editor.Lines) return;  // unedited: the item keeps its bytes
  const std::string text = TextPayloadFromLines(*lines, format, layout);
  payload_.Write(text.data(), text.size());
  payload_.SetPosition(0);
  // Payload and the kept comment in one update: format, glyph and note stay.
  store::StoreItemWithComment(zip_, payload_, full_name, comment);
}

void TMainForm::NewDrawMiClick() {
  TTreeNode* root = explorer_.Root();
  if (zip_.ZipName().empty() || !root) return Error("There is no File Cabinet loaded to add a drawer to");
  std::optional<std::string> typed = ui_.InputBox(
      "Add New Drawer", "State full path for new drawer eg: NewItems\\Newest\\Today\\", "NewDrawer\\");
  if (!typed || store::IsBlankName(*typed)) return;
  std::string text = *typed;
  if (text.back() != '\\') text += '\\';
  // The drawer path as items stored in it will carry it.
  std::string drawer, file_name;
  zip::TZipWriter::NormalizeName(text, true, drawer, file_name);
  if (drawer.empty()) return;
  if (drawer.front() == '\\' || drawer.find("\\\\") != std::string::npos)
    return Error("\"" + *typed + "\" has an empty drawer name");
  store::RefreshDirectory(zip_);
  for (int i = 0; i < zip_.EntryCount(); ++i)
    if (codepage::SameTextAscii(zip_.EntryPath(i), drawer)) return Error("Drawer already exists!");
  TTreeNode* added = explorer_.InsertItemPath(root, drawer, -1, -1);
  // Show where it went: its parents are opened.
  for (TTreeNode* p = added ? added->Parent() : nullptr; p; p = p->Parent()) p->SetExpanded(true);
}

// --- View menu -------------------------------------------------------------------------

void TMainForm::LegendMiClick() {
  TViewForm legend;
  legend.PrepareLegend(user_glyphs_.Names(), explorer_.GlyphImageCount());
  ui_.GlyphDialog(legend.Request());
}

TViewMenuState TMainForm::ViewMiClick(bool toolbar_visible) const {
  return TViewMenuState{toolbar_visible, explorer_.Visible(), note_.Visible(), viewer_.Visible()};
}

// --- the tray icon's menu ----------------------------------------------------------------

std::vector<TTrayEntry> TMainForm::TrayMenu(const finder::TCabinetIndex* index) {
  using namespace tray_menu;
  std::vector<TTrayEntry> entries;
  auto say = [&](std::string text) {
    TTrayEntry entry;
    entry.Caption = std::move(text);
    entry.Enabled = false;
    entries.push_back(std::move(entry));
  };
  const std::string& cabinet = zip_.ZipName();
  if (cabinet.empty()) {
    say(std::string(kNoCabinet));
  } else {
    std::vector<TRecentItem> items;
    try {
      // A new cabinet has no file until its first item. The loaded directory serves
      // while it is in step with the file and no command is using the reader; else
      // a reader of its own reads the directory.
      if (index) {
        items = NewestItems(*index, kNewestCount);
      } else if (RegularFileExists(cabinet)) {
        const bool loaded =
            !operations_.Busy() && zip_.DirectoryLoaded() && zip_.DirectoryStamp() == zip::StampOf(cabinet);
        items = loaded ? NewestItems(zip_, kNewestCount) : NewestItems(cabinet, kNewestCount);
      }
      if (items.empty()) say(std::string(kNoItems));
    } catch (const std::exception& e) {
      say(std::string("The File Cabinet cannot be read: ") + e.what());
    }
    for (const TRecentItem& item : items) {
      TTrayEntry entry;
      entry.Command = TTrayCommand::LoadItem;
      entry.Caption = TrayItemCaption(item);
      entry.Hint = item.Path + "\n" + finder::DosDateTimeText(item.DosDateTime);
      entry.ItemPath = item.Path;
      entries.push_back(std::move(entry));
    }
  }
  auto add = [&](TTrayCommand command, std::string_view caption, bool check_item = false,
                 bool checked = false) {
    TTrayEntry entry;
    entry.Command = command;
    entry.Caption = caption;
    entry.CheckItem = check_item;
    entry.Checked = checked;
    entries.push_back(std::move(entry));
  };
  entries.emplace_back();
  add(TTrayCommand::AutoSave, kAutoSave, true, clipboard_commands_.AutoSave());
  add(TTrayCommand::AutoSaveAtStart, kAutoSaveAtStart, true, properties_.AutoSaveAtStart);
  add(TTrayCommand::KeepInTray, kKeepInTray, true, properties_.KeepInTray);
  entries.emplace_back();
  add(TTrayCommand::Show, kShow);
  add(TTrayCommand::Exit, kExit);
  return entries;
}

bool TMainForm::TrayCommand(const TTrayEntry& entry) {
  switch (entry.Command) {
    case TTrayCommand::LoadItem:
      clipboard_commands_.LoadItem(entry.ItemPath);
      return true;
    case TTrayCommand::AutoSave:
      AutoSaveMiClick();
      return true;
    case TTrayCommand::AutoSaveAtStart:
      properties_.AutoSaveAtStart = !properties_.AutoSaveAtStart;
      SaveTraySwitches();
      return true;
    case TTrayCommand::KeepInTray:
      properties_.KeepInTray = !properties_.KeepInTray;
      SaveTraySwitches();
      return true;
    case TTrayCommand::None:
    case TTrayCommand::Show:
    case TTrayCommand::Exit:
      break;
  }
  return false;
}

void TMainForm::SaveTraySwitches() {
  // At once, not only at shut-down: a session that ends without a close keeps them.
  TIniFile settings(paths_.SettingsFile());
  settings.WriteBool(stored_keys::kSection, stored_keys::kAutoSaveAtStart, properties_.AutoSaveAtStart);
  settings.WriteBool(stored_keys::kSection, stored_keys::kKeepInTray, properties_.KeepInTray);
  settings.UpdateFile();
}

// --- the explorer's pop-up menu ----------------------------------------------------------

bool TMainForm::ExplorerCommandAvailable(TExplorerCommand command) {
  return command != TExplorerCommand::None;
}

bool TMainForm::RunExplorerCommand(TExplorerCommand command, int tag) {
  switch (command) {
    case TExplorerCommand::None:
      return false;
    case TExplorerCommand::CopyOrMove: {
      // Opened on a drawer: all its items; on an item: that item.
      TTreeNode* drawer = explorer_.ClickedContainer();
      CopyToCabinet(tag, drawer && !IsRootNode(drawer) ? drawer : explorer_.Selected());
      break;
    }
    case TExplorerCommand::AddNewItem:
      AddNewItemMiClick();
      break;
    case TExplorerCommand::AddNote:
      AddNoteMiClick();
      break;
    case TExplorerCommand::AddNewDrawer:
      explorer_.AddNewDrawerMiClick();
      break;
    case TExplorerCommand::ChangeGlyph:
      ChangeGlyphMiClick();
      break;
    case TExplorerCommand::Rename:
      RenameMiClick();
      break;
    case TExplorerCommand::EditAs:
      EditTextItemMiClick(tag);
      break;
    case TExplorerCommand::LoadSelected:
      LoadSelectedMiClick();
      break;
    case TExplorerCommand::ViewItems:
      ViewItemsMiClick();
      break;
    case TExplorerCommand::Delete:
      DeleteMiClick();
      break;
    case TExplorerCommand::DeleteNote:
      DeleteNoteMiClick();
      break;
  }
  return true;
}

}  // namespace qb
