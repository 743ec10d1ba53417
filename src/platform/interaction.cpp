#include "platform/interaction.h"

namespace qb {

const char* DefaultCaption(MsgKind kind) {
  switch (kind) {
    case MsgKind::Error:
      return "Error";
    case MsgKind::Warning:
      return "Warning";
    case MsgKind::Information:
      return "Information";
    case MsgKind::Confirmation:
      return "Confirm";
  }
  return "";
}

const char* MsgKindName(MsgKind kind) {
  switch (kind) {
    case MsgKind::Error:
      return "Error";
    case MsgKind::Warning:
      return "Warning";
    case MsgKind::Information:
      return "Information";
    case MsgKind::Confirmation:
      return "Confirmation";
  }
  return "?";
}

const char* MsgButtonsName(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok:
      return "OK";
    case MsgButtons::OkCancel:
      return "OK/Cancel";
    case MsgButtons::YesNo:
      return "Yes/No";
    case MsgButtons::YesCancel:
      return "Yes/Cancel";
  }
  return "?";
}

const char* MsgAnswerName(MsgAnswer answer) {
  switch (answer) {
    case MsgAnswer::Ok:
      return "OK";
    case MsgAnswer::Cancel:
      return "Cancel";
    case MsgAnswer::Yes:
      return "Yes";
    case MsgAnswer::No:
      return "No";
  }
  return "?";
}

std::string ApplyDefaultExtension(const std::string& path, const std::string& default_ext) {
  if (path.empty() || default_ext.empty()) return path;
  const size_t separator = path.find_last_of("/\\");
  const size_t name_start = separator == std::string::npos ? 0 : separator + 1;
  if (name_start >= path.size()) return path;  // a folder, not a file name
  if (path.find('.', name_start) != std::string::npos) return path;
  return path + "." + default_ext;
}

std::optional<std::string> IUserInteraction::InputBox(const std::string&, const std::string&,
                                                      const std::string&) {
  return std::nullopt;
}

std::optional<std::string> IUserInteraction::FileDialog(const TFileDialogRequest&) {
  return std::nullopt;
}

std::optional<std::string> IUserInteraction::PictureDialog(const TFileDialogRequest& request) {
  return FileDialog(request);
}

std::optional<std::vector<std::string>> IUserInteraction::TextEditor(const TTextEditorRequest&) {
  return std::nullopt;
}

TGlyphDialogResult IUserInteraction::GlyphDialog(const TGlyphDialogRequest&) {
  return {};
}

TReplaceChoice IUserInteraction::ReplaceQuestion(const std::string&, const std::string&) {
  return TReplaceChoice::Cancel;
}

std::optional<std::string> IUserInteraction::PasswordDialog(const TPasswordRequest&) {
  return std::nullopt;
}

bool IUserInteraction::TransferProgress(const TTransferProgress&) {
  return true;
}

void IUserInteraction::CloseTransferProgress() {}

void IUserInteraction::Hourglass(bool) {}

void ShowError(IUserInteraction& ui, const std::string& text) {
  ui.MessageBox(MsgKind::Error, DefaultCaption(MsgKind::Error), text, MsgButtons::Ok);
}

bool RunCommand(IUserInteraction& ui, const std::function<void()>& command) {
  try {
    command();
    return true;
  } catch (const std::exception& e) {
    ShowError(ui, e.what());
  } catch (...) {
    ShowError(ui, "An unexpected error occurred");
  }
  return false;
}

}  // namespace qb
