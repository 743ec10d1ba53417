#include "support/scripted_interaction.h"

#include <gtest/gtest.h>

namespace qbtest {

using qb::MsgAnswer;
using qb::MsgButtons;
using qb::MsgKind;

std::string ShownBox::Describe() const {
  return std::string(qb::MsgKindName(Kind)) + " '" + Caption + "' [" + qb::MsgButtonsName(Buttons) +
         "]: " + Text;
}

std::string ShownInputBox::Describe() const {
  return "'" + Caption + "' '" + Prompt + "' '" + InitialText + "'";
}

ScriptedInteraction::~ScriptedInteraction() {
  if (!queue_.empty()) ADD_FAILURE() << queue_.size() << " scripted answer(s) were never asked for";
}

ScriptedInteraction& ScriptedInteraction::Answer(MsgAnswer answer) {
  queue_.push_back(BoxAnswer{answer});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::Input(std::string text) {
  queue_.push_back(InputAnswer{std::move(text)});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::CancelInput() {
  queue_.push_back(InputAnswer{std::nullopt});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::ChooseFile(std::string path) {
  queue_.push_back(FileAnswer{std::move(path)});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::CancelFile() {
  queue_.push_back(FileAnswer{std::nullopt});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::EditorOk(std::vector<std::string> lines) {
  queue_.push_back(EditorAnswer{std::move(lines)});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::EditorCancel() {
  queue_.push_back(EditorAnswer{std::nullopt});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::GlyphOk(int mouse_down_row, std::vector<int> selected_rows) {
  qb::TGlyphDialogResult result;
  result.Ok = true;
  result.MouseDownRow = mouse_down_row;
  result.SelectedRows = std::move(selected_rows);
  queue_.push_back(GlyphAnswer{result});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::GlyphCancel(int mouse_down_row) {
  qb::TGlyphDialogResult result;
  result.MouseDownRow = mouse_down_row;
  queue_.push_back(GlyphAnswer{result});
  return *this;
}

ScriptedInteraction& ScriptedInteraction::Replace(qb::TReplaceChoice choice) {
  queue_.push_back(ReplaceAnswer{choice});
  return *this;
}
ScriptedInteraction& ScriptedInteraction::Password(std::optional<std::string> typed) {
  queue_.push_back(PasswordAnswer{std::move(typed)});
  return *this;
}

std::vector<std::string> ScriptedInteraction::BoxLog() const {
  std::vector<std::string> out;
  for (const ShownBox& box : boxes_) out.push_back(box.Describe());
  return out;
}

void ScriptedInteraction::ClearRecords() {
  boxes_.clear();
  input_boxes_.clear();
  file_dialogs_.clear();
  editors_.clear();
  glyph_dialogs_.clear();
  log_.clear();
  hourglass_shown_ = 0;
}

template <typename T>
std::optional<T> ScriptedInteraction::Take(const std::string& what) {
  if (queue_.empty() || !std::holds_alternative<T>(queue_.front())) {
    ADD_FAILURE() << "unexpected request, no scripted answer for it: " << what;
    return std::nullopt;
  }
  T answer = std::get<T>(queue_.front());
  queue_.pop_front();
  return answer;
}

MsgAnswer ScriptedInteraction::MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                                          MsgButtons buttons) {
  ShownBox box{kind, caption, text, buttons};
  boxes_.push_back(box);
  log_.push_back("box: " + box.Describe());
  if (buttons == MsgButtons::Ok && !require_ok_answers_) return MsgAnswer::Ok;
  std::optional<BoxAnswer> answer = Take<BoxAnswer>("message box " + box.Describe());
  if (!answer)
    return buttons == MsgButtons::Ok      ? MsgAnswer::Ok
           : buttons == MsgButtons::YesNo ? MsgAnswer::No
                                          : MsgAnswer::Cancel;
  return answer->Value;
}

std::optional<std::string> ScriptedInteraction::InputBox(const std::string& caption,
                                                         const std::string& prompt,
                                                         const std::string& initial_text) {
  ShownInputBox box{caption, prompt, initial_text};
  input_boxes_.push_back(box);
  log_.push_back("input: " + box.Describe());
  std::optional<InputAnswer> answer = Take<InputAnswer>("input box " + box.Describe());
  return answer ? answer->Value : std::nullopt;
}

std::optional<std::string> ScriptedInteraction::FileDialog(const qb::TFileDialogRequest& request) {
  file_dialogs_.push_back(request);
  log_.push_back("file: " + request.Title);
  std::optional<FileAnswer> answer = Take<FileAnswer>("file dialog '" + request.Title + "'");
  return answer ? answer->Value : std::nullopt;
}

std::optional<std::vector<std::string>> ScriptedInteraction::TextEditor(
    const qb::TTextEditorRequest& request) {
  editors_.push_back(request);
  log_.push_back("editor: " + request.Caption);
  std::optional<EditorAnswer> answer = Take<EditorAnswer>("text editor '" + request.Caption + "'");
  return answer ? answer->Value : std::nullopt;
}

qb::TGlyphDialogResult ScriptedInteraction::GlyphDialog(const qb::TGlyphDialogRequest& request) {
  glyph_dialogs_.push_back(request);
  log_.push_back("glyphs: " + request.Caption);
  std::optional<GlyphAnswer> answer = Take<GlyphAnswer>("glyph dialog '" + request.Caption + "'");
  return answer ? answer->Value : qb::TGlyphDialogResult{};
}

qb::TReplaceChoice ScriptedInteraction::ReplaceQuestion(const std::string&, const std::string& text) {
  log_.push_back("replace: " + text);
  std::optional<ReplaceAnswer> answer = Take<ReplaceAnswer>("replace question " + text);
  return answer ? answer->Value : qb::TReplaceChoice::Cancel;
}

std::optional<std::string> ScriptedInteraction::PasswordDialog(const qb::TPasswordRequest& request) {
  log_.push_back("password: " + request.Label);
  std::optional<PasswordAnswer> answer = Take<PasswordAnswer>("password dialog " + request.Label);
  return answer ? answer->Value : std::nullopt;
}

bool ScriptedInteraction::TransferProgress(const qb::TTransferProgress& progress) {
  if (!progress_shown_)
    log_.push_back("progress: " + progress.Action + " " + progress.From + " -> " + progress.To);
  progress_shown_ = true;
  ++progress_count_;
  return cancel_transfer_at_ < 0 || progress_count_ < cancel_transfer_at_;
}

void ScriptedInteraction::CloseTransferProgress() {
  if (progress_shown_) log_.push_back("progress closed");
  progress_shown_ = false;
}

void ScriptedInteraction::Hourglass(bool on) {
  if (on) {
    ++hourglass_depth_;
    ++hourglass_shown_;
  } else {
    if (hourglass_depth_ == 0)
      ADD_FAILURE() << "hourglass switched off more often than on";
    else
      --hourglass_depth_;
  }
}

}  // namespace qbtest
