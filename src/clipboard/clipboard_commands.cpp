#include "clipboard/clipboard_commands.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>

#include "clipboard/clip_formats.h"
#include "clipboard/payload.h"
#include "clipboard/text_payload.h"
#include "clipboard/working_picture.h"
#include "explorer/selected_item.h"
#include "store/cabinet_store.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "store/item_size.h"

namespace qb {

using namespace clipboard_text;

namespace {

constexpr const char* kCrLf = "\r\n";

// How long an automatic save waits for another writer before the queue retries it.
constexpr std::chrono::milliseconds kAutoSaveLockWait{500};

// Shortens the archive's lock wait for a scope (never lengthens it).
class TLockWaitScope {
 public:
  TLockWaitScope(zip::TZipWriter& zip, std::chrono::milliseconds wait) : zip_(zip), old_(zip.LockWait()) {
    zip_.SetLockWait(std::min(wait, old_));
  }
  ~TLockWaitScope() { zip_.SetLockWait(old_); }
  TLockWaitScope(const TLockWaitScope&) = delete;
  TLockWaitScope& operator=(const TLockWaitScope&) = delete;

 private:
  zip::TZipWriter& zip_;
  std::chrono::milliseconds old_;
};

// A format number as an item's comment gives it; 0 for none and for numbers no
// clipboard format can have.
uint32_t ItemFormat(zip::TZipReader& zip, int index) {
  const std::optional<long long> format = store::ReadFormatNumber(EntryCommentOf(zip, index));
  if (!format || *format <= 0 || *format > 0xFFFF) return 0;
  return static_cast<uint32_t>(*format);
}

}  // namespace

TClipboardCommands::TClipboardCommands(TClipboardContext context)
    : ctx_(std::move(context)), viewer_(ctx_.Clipboard) {
  viewer_.OnChange = [this] { ClipboardViewer1Change(); };
}

void TClipboardCommands::Error(const std::string& text) {
  ShowError(ctx_.UI, text);
}

// --- saving --------------------------------------------------------------------------

void TClipboardCommands::ClipboardViewer1Change() {
  bool secret = false;
  try {
    secret = IsSecretClip(ctx_.Clipboard);
  } catch (const EClipboardError&) {
    secret = true;  // marked, but held by another program: treat it as the secret it says it is
  }
  // A password manager empties the clipboard after a while; that emptying belongs
  // to the secret and is not reported.
  const bool emptied_after_secret = viewer_.ViewFormat() == cvEmpty && last_clip_secret_;
  last_clip_secret_ = secret || emptied_after_secret;
  if (!auto_save_ || secret || emptied_after_secret) return;
  // The clip is taken now: by the time a running command has ended, the next copy
  // may have replaced it.
  auto clip = std::make_shared<TCapturedClip>(CaptureClip(true));
  TOperation store{"AutoSave", [this, clip] { StoreClip(*clip, true); }, /*RetryWhenCabinetBusy=*/true};
  if (ctx_.Submit)
    ctx_.Submit(std::move(store));
  else
    RunCommand(ctx_.UI, store.Run);
}

void TClipboardCommands::SaveToFCMiClick() {
  const bool automatic = auto_save_;
  TCapturedClip clip = CaptureClip(automatic);
  StoreClip(clip, automatic);
}

TCapturedClip TClipboardCommands::CaptureClip(bool automatic) {
  TCapturedClip clip;
  try {
    if (viewer_.ViewFormat() == cvEmpty) {
      clip.Error = kClipboardEmpty;
      return clip;
    }
    if (automatic && IsSecretClip(ctx_.Clipboard)) {
      clip.Skipped = true;
      return clip;
    }
    clip.Format = DetectClipboardFormat(ctx_.Clipboard);
    if (clip.Format == 0) {
      clip.Error = kUnknownData;
      return clip;
    }
    if (ctx_.Zip1.ZipName().empty()) {
      clip.Error = kNoCabinet;
      return clip;
    }
    // The clip is encoded before the name is asked for: what is stored is what was
    // on the clipboard when the command started (a picture still being decoded is
    // taken as it will be).
    const bool later = clip.Format == CF_BITMAP && TakeBitmapLater(clip);
    if (!later && EncodePayload(ctx_.Clipboard, clip.Format, clip.Payload, ctx_.TempPictureFile) !=
                      TPayloadResult::Done) {
      clip.Error = kTmpFileStreamErrorText;
      return clip;
    }
    if (clip.Payload.Size() > max_item_size_) {
      clip.Error = store::ClipTooLargeText(clip.Payload.Size(), max_item_size_);
      clip.Payload.Clear();
      return clip;
    }
    const TTreeNode* selected = ctx_.Explorer.SelectedItem();
    clip.Prefix = ctx_.CurrentDrawerChecked && selected
                      ? store::DrawerItemPrefix(ctx_.Explorer.ItemPathOf(selected))
                      : std::string(store::kNewItemsPrefix);
  } catch (const std::exception& e) {
    clip.Error = e.what();
  }
  if (!clip.Error.empty()) {
    clip.Payload.Clear();
    clip.PendingBitmap = {};
  }
  return clip;
}

bool TClipboardCommands::TakeBitmapLater(TCapturedClip& clip) {
  TClipboardLock lock(ctx_.Clipboard);
  TBitmapFuture bitmap = ctx_.Clipboard.GetBitmapLater();
  if (bitmap.wait_for(std::chrono::seconds(0)) == std::future_status::ready) return false;
  clip.PendingBitmap = std::move(bitmap);
  if (ctx_.Clipboard.HasFormat(CF_PALETTE)) clip.PendingPalette = ctx_.Clipboard.GetPalette();
  return true;
}

void TClipboardCommands::FinishCapture(TCapturedClip& clip) {
  if (!clip.PendingBitmap.valid()) return;
  // The wait for the decoding, then the payload's encoding (a copy of the bitmap
  // and its BMP file image: tens of MB for a photograph), run on a worker thread,
  // the window's messages running meanwhile. Only this store touches the clip.
  auto encode = [&clip, limit = max_item_size_] {
    try {
      std::vector<uint8_t> bmp = BitmapWithPalette(clip.PendingBitmap.get(), clip.PendingPalette).WriteBmp();
      if (bmp.size() > limit)
        clip.Error = store::ClipTooLargeText(bmp.size(), limit);
      else
        clip.Payload.Bytes() = std::move(bmp);  // taken over, not copied
    } catch (const std::exception& e) {
      clip.Error = e.what();
    }
  };
  if (!ctx_.ProcessMessages) {
    encode();
  } else {
    std::future<void> done = std::async(std::launch::async, encode);
    while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) ctx_.ProcessMessages();
  }
  if (!clip.Error.empty()) clip.Payload.Clear();
  clip.PendingBitmap = {};
}

void TClipboardCommands::StoreClip(TCapturedClip& clip, bool automatic) {
  if (clip.Skipped) return;
  FinishCapture(clip);
  if (!clip.Error.empty()) return Error(clip.Error);
  zip::TZipWriter& zip = ctx_.Zip1;
  if (zip.ZipName().empty()) return Error(kNoCabinet);
  if (automatic) {
    // The free name is found and taken with no other writer in between (a qvf add
    // could otherwise take that name first, and the save would replace its item).
    // The queue tries a busy store again, so each try waits only briefly.
    const TLockWaitScope brief(zip, kAutoSaveLockWait);
    const zip::TCabinetLockHold hold(zip);
    return SaveClipAs(clip, store::NextFreeItemName(zip, clip.Prefix));
  }
  const std::optional<std::string> typed =
      ctx_.UI.InputBox(kSaveAsCaption, kSaveAsPrompt, store::NextFreeItemName(zip, clip.Prefix));
  if (!typed) return;
  int existing = 0;
  {
    // A free name is taken with no other writer in between, as above; the question
    // about an existing item is asked without holding the cabinet.
    const zip::TCabinetLockHold hold(zip);
    store::RefreshDirectory(zip);
    existing = store::FindItemEntry(zip, store::NormalizeItemPath(*typed));
    if (existing >= zip.EntryCount()) return SaveClipAs(clip, *typed);
  }
  if (ctx_.UI.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning), *typed + kCrLf + kAlreadyExists,
                         MsgButtons::OkCancel) != MsgAnswer::Ok)
    return;
  // The item keeps its name as stored (the typed one may differ in letter case), so
  // the cabinet goes on matching its unchanged tree node.
  SaveClipAs(clip, zip.EntryFullName(existing));
}

void TClipboardCommands::SaveClipAs(TCapturedClip& clip, const std::string& name) {
  zip::TZipWriter& zip = ctx_.Zip1;
  clip.Payload.SetPosition(0);
  // Over an existing item its glyph and note are carried over; payload and comment
  // are written by one update.
  const store::StoredItem item = store::SaveItem(zip, clip.Payload, name, clip.Format);
  const int glyph =
      item.glyph >= 0 && item.glyph < ctx_.Explorer.GlyphImageCount() ? static_cast<int>(item.glyph) : -1;
  ctx_.Explorer.InsertItemPath(ctx_.Explorer.Root(), item.path, glyph, item.has_note ? kNoteStateIndex : -1);
}

// --- the switches and the menu --------------------------------------------------------

void TClipboardCommands::AutoSaveMiClick() {
  auto_save_ = !auto_save_;
}

void TClipboardCommands::ViewItemsMiClick() {
  bool& on = ctx_.ViewItemsChecked;
  on = !on;
  if (!on)
    ctx_.Viewer.ShowEmpty();
  else if (ctx_.Explorer.SelectedItem())
    ViewSelected();
}

void TClipboardCommands::AutoLoad1Click() {
  auto_load_ = !auto_load_;
  if (auto_load_) LoadSelectedMiClick();
}

void TClipboardCommands::CurrentDrawerMiClick() {
  ctx_.CurrentDrawerChecked = !ctx_.CurrentDrawerChecked;
}

TClipboardMenuState TClipboardCommands::ClipboardMiClick() {
  TClipboardMenuState menu;
  menu.AutoSaveMiChecked = auto_save_;
  menu.ViewItemsMiChecked = ctx_.ViewItemsChecked;
  menu.AutoLoad1Checked = auto_load_;
  menu.CurrentDrawerMiChecked = ctx_.CurrentDrawerChecked;
  const uint32_t format = DetectClipboardFormat(ctx_.Clipboard);
  menu.EditClipboardMiEnabled = format == CF_TEXT;
  menu.SaveToFCMiEnabled = format != 0 && !ctx_.Zip1.ZipName().empty();
  menu.LoadSelectedMiEnabled = ctx_.Explorer.SelectedItem() != nullptr;
  return menu;
}

// --- loading and viewing ----------------------------------------------------------------

void TClipboardCommands::ExtractItem(int index, const std::string& path, const char* verb) {
  zip::TZipWriter& zip = ctx_.Zip1;
  const uint64_t size = zip.Entry(index).uncompressed_size;
  if (size > max_item_size_) throw Exception(store::ItemTooLargeText(path, size, max_item_size_, verb));
  // By index, not by name: a name is a pattern to the engine, and an item name may
  // hold '*' or '?'. Marks left by another command would extract their entries too.
  store::ClearSelection(zip);
  if (zip.ExtractIndexToStream(&ctx_.Payload, index) < 1)
    throw Exception("Unable to read " + path + " from the File Cabinet, its data is damaged");
  ctx_.Payload.SetPosition(0);
}

void TClipboardCommands::LoadSelectedMiClick() {
  const TSelectedItem selected = LocateSelectedItem(ctx_.Explorer, ctx_.Zip1);
  if (!selected.Node) return Error(kNoItemSelected);
  if (!selected.Found()) return Error(kUnableToLocate + selected.Path + kCrLf + kWithinCabinet);
  LoadEntry(selected.Index, selected.Path);
}

void TClipboardCommands::LoadItem(const std::string& path) {
  zip::TZipWriter& zip = ctx_.Zip1;
  int index = zip.EntryCount();
  if (!zip.ZipName().empty()) {
    store::RefreshDirectory(zip);
    index = store::FindItemEntry(zip, path);
  }
  if (index >= zip.EntryCount()) return Error(kUnableToLocate + path + kCrLf + kWithinCabinet);
  LoadEntry(index, path);
}

void TClipboardCommands::LoadEntry(int index, const std::string& path) {
  TPayloadScope payload_scope(ctx_.Payload);
  ExtractItem(index, path, "load");
  const uint32_t format = ItemFormat(ctx_.Zip1, index);
  if (format == 0) return Error(kNoFormatLoadText);
  CaptureBackupOnce();
  ctx_.Payload.SetPosition(0);
  // The item stands alone on the clipboard: nothing of the previous clip stays.
  switch (DecodePayloadToClipboard(ctx_.Clipboard, format, ctx_.Payload, ctx_.TempPictureFile,
                                   /*empty_first=*/true)) {
    case TPayloadResult::Done:
      break;
    case TPayloadResult::TempFileError:
      return Error(kTmpFileStreamErrorText);
    case TPayloadResult::Refused:
      return Error(kNoFormatLoadText);
  }
}

void TClipboardCommands::ViewSelected() {
  const TSelectedItem selected = LocateSelectedItem(ctx_.Explorer, ctx_.Zip1);
  if (!selected.Node) return;
  if (!selected.Found()) return Error(kUnableToLocate + selected.Path + kCrLf + kWithinCabinet);
  TPayloadScope payload_scope(ctx_.Payload);
  ExtractItem(selected.Index, selected.Path, "view");
  const uint32_t format = ItemFormat(ctx_.Zip1, selected.Index);
  if (DecodePayloadForView(ctx_.Clipboard, format, ctx_.Payload, ctx_.TempPictureFile, ctx_.Viewer) ==
      TPayloadResult::TempFileError)
    Error(kTmpFileStreamErrorText);
}

void TClipboardCommands::ExplorerItemClicked() {
  if (!ctx_.Explorer.SelectedItem()) return;
  if (ctx_.ViewItemsChecked) ViewSelected();
  if (auto_load_) LoadSelectedMiClick();
}

// --- Edit Clipboard As ----------------------------------------------------------------------

void TClipboardCommands::EditClipboardMiClick(int tag) {
  if (auto_save_)
    auto_save_ = ctx_.UI.MessageBox(MsgKind::Warning, DefaultCaption(MsgKind::Warning), kAutoSaveOn,
                                    MsgButtons::YesNo) == MsgAnswer::No;
  if (ctx_.ProcessMessages) ctx_.ProcessMessages();
  TPayloadScope payload_scope(ctx_.Payload);
  if (DetectClipboardFormat(ctx_.Clipboard) != CF_TEXT) return Error(kNoText);
  ClipboardFormatToStream(ctx_.Clipboard, CF_TEXT, ctx_.Payload);
  TTextEditorRequest request;
  request.Caption = kEditingCaption;
  request.HighLighter = tag >= 0 && tag <= 9 ? tag : 0;
  const std::string_view original(reinterpret_cast<const char*>(ctx_.Payload.Bytes().data()),
                                  ctx_.Payload.Size());
  request.Lines = TextPayloadLines(original, CF_TEXT);
  const TTextLayout layout = TextPayloadLayout(original);
  ctx_.Payload.Clear();
  const std::optional<std::vector<std::string>> edited = ctx_.UI.TextEditor(request);
  // Cancel, or OK without an edit: the clipboard stays as it was.
  if (!edited || *edited == request.Lines) return;
  CaptureBackupOnce();
  const std::string text = TextPayloadFromLines(*edited, CF_TEXT, layout);
  std::vector<uint8_t> block(text.begin(), text.end());
  block.push_back(0);
  TClipboardLock lock(ctx_.Clipboard);
  ctx_.Clipboard.Empty();
  ctx_.Clipboard.SetBlock(CF_TEXT, std::move(block));
}

// --- the backup ------------------------------------------------------------------------------

void TClipboardCommands::CaptureBackupOnce() {
  if (backup_taken_) return;
  backup_taken_ = true;
  try {
    if (IsSecretClip(ctx_.Clipboard)) return;
    const uint32_t format = DetectClipboardFormat(ctx_.Clipboard);
    if (format == 0) return;
    TMemoryStream captured;
    if (EncodePayload(ctx_.Clipboard, format, captured, ctx_.TempPictureFile) != TPayloadResult::Done) return;
    if (captured.Size() > max_item_size_) return;  // could not be stored either
    backup_.Stream.Clear();
    backup_.Stream.Write(captured.Bytes().data(), captured.Size());
    backup_.Stream.SetPosition(0);
    backup_.Format = captured.Size() > 0 ? format : 0;
  } catch (const EClipboardError&) {
    backup_taken_ = false;  // held by another program: try again at the next replacement
  } catch (const std::exception&) {
    // A clip that cannot be read cannot be put back either; the command goes on.
  }
}

void TClipboardCommands::RestoreClipboardBackup() {
  auto_save_ = false;
  if (backup_.Stream.Size() < 1 || backup_.Format == 0) return;
  if (ctx_.UI.MessageBox(MsgKind::Confirmation, DefaultCaption(MsgKind::Confirmation), kRestoreClip,
                         MsgButtons::OkCancel) != MsgAnswer::Ok)
    return;
  RunCommand(ctx_.UI, [this] {
    backup_.Stream.SetPosition(0);
    const TPayloadResult result =
        DecodePayloadToClipboard(ctx_.Clipboard, backup_.Format, backup_.Stream, ctx_.TempPictureFile, true);
    backup_.Stream.Clear();
    backup_.Format = 0;
    if (result == TPayloadResult::TempFileError) Error(kTmpFileStreamErrorText);
  });
}

}  // namespace qb
