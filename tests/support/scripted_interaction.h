// ScriptedInteraction: the user-interaction double for command tests.
//
// Answers come from one queue, in the order the command asks. Each request takes
// the next answer, which must be of the request's type; a request with no answer
// of its type at the head of the queue fails the test and is answered as Cancel.
// A message box whose only button is OK needs no answer (it is answered OK) unless
// RequireOkAnswers is set. Every request is recorded; answers left in the queue
// when the double goes fail the test.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/interaction.h"

namespace qbtest {

struct ShownBox {
  qb::MsgKind Kind;
  std::string Caption;
  std::string Text;
  qb::MsgButtons Buttons;
  // "Warning 'Warning' [OK/Cancel]: <text>"
  std::string Describe() const;
};

struct ShownInputBox {
  std::string Caption;
  std::string Prompt;
  std::string InitialText;
  // "'<caption>' '<prompt>' '<initial>'"
  std::string Describe() const;
};

class ScriptedInteraction : public qb::IUserInteraction {
 public:
  ScriptedInteraction() = default;
  ~ScriptedInteraction() override;
  ScriptedInteraction(const ScriptedInteraction&) = delete;
  ScriptedInteraction& operator=(const ScriptedInteraction&) = delete;

  // --- the script ------------------------------------------------------------------
  ScriptedInteraction& Answer(qb::MsgAnswer answer);
  ScriptedInteraction& Input(std::string text);
  ScriptedInteraction& CancelInput();
  ScriptedInteraction& ChooseFile(std::string path);
  ScriptedInteraction& CancelFile();
  ScriptedInteraction& EditorOk(std::vector<std::string> lines);
  ScriptedInteraction& EditorCancel();
  // The glyph dialog closed with OK after a mouse press on row (-1: none).
  ScriptedInteraction& GlyphOk(int mouse_down_row, std::vector<int> selected_rows = {});
  ScriptedInteraction& GlyphCancel(int mouse_down_row = -1);
  // The replace question (Yes, No, Yes to All, Cancel) and the password dialog.
  ScriptedInteraction& Replace(qb::TReplaceChoice choice);
  ScriptedInteraction& Password(std::optional<std::string> typed);
  // The progress window reports Cancel pressed from its count-th showing on.
  void CancelTransferAt(int count) { cancel_transfer_at_ = count; }
  void RequireOkAnswers(bool require) { require_ok_answers_ = require; }
  bool ScriptDone() const { return queue_.empty(); }

  // --- what was shown --------------------------------------------------------------
  const std::vector<ShownBox>& Boxes() const { return boxes_; }
  std::vector<std::string> BoxLog() const;
  const std::vector<ShownInputBox>& InputBoxes() const { return input_boxes_; }
  const std::vector<qb::TFileDialogRequest>& FileDialogs() const { return file_dialogs_; }
  const std::vector<qb::TTextEditorRequest>& Editors() const { return editors_; }
  const std::vector<qb::TGlyphDialogRequest>& GlyphDialogs() const { return glyph_dialogs_; }
  // Every request in order, one line each ("box: ...", "input: ...", "file: <title>",
  // "editor: <caption>", "glyphs: <caption>", "replace: <text>", "password: <label>",
  // "progress: <action> <from> -> <to>" when the window opens, "progress closed").
  const std::vector<std::string>& Log() const { return log_; }
  int HourglassDepth() const { return hourglass_depth_; }
  int HourglassShown() const { return hourglass_shown_; }
  void ClearRecords();

  // --- IUserInteraction -------------------------------------------------------------
  qb::MsgAnswer MessageBox(qb::MsgKind kind, const std::string& caption, const std::string& text,
                           qb::MsgButtons buttons) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initial_text) override;
  std::optional<std::string> FileDialog(const qb::TFileDialogRequest& request) override;
  std::optional<std::vector<std::string>> TextEditor(const qb::TTextEditorRequest& request) override;
  qb::TGlyphDialogResult GlyphDialog(const qb::TGlyphDialogRequest& request) override;
  qb::TReplaceChoice ReplaceQuestion(const std::string& caption, const std::string& text) override;
  std::optional<std::string> PasswordDialog(const qb::TPasswordRequest& request) override;
  bool TransferProgress(const qb::TTransferProgress& progress) override;
  void CloseTransferProgress() override;
  void Hourglass(bool on) override;

 private:
  struct BoxAnswer {
    qb::MsgAnswer Value;
  };
  struct InputAnswer {
    std::optional<std::string> Value;
  };
  struct FileAnswer {
    std::optional<std::string> Value;
  };
  struct EditorAnswer {
    std::optional<std::vector<std::string>> Value;
  };
  struct GlyphAnswer {
    qb::TGlyphDialogResult Value;
  };
  struct ReplaceAnswer {
    qb::TReplaceChoice Value;
  };
  struct PasswordAnswer {
    std::optional<std::string> Value;
  };
  using Entry = std::variant<BoxAnswer, InputAnswer, FileAnswer, EditorAnswer, GlyphAnswer, ReplaceAnswer,
                             PasswordAnswer>;

  template <typename T>
  std::optional<T> Take(const std::string& what);

  std::deque<Entry> queue_;
  bool require_ok_answers_ = false;
  std::vector<ShownBox> boxes_;
  std::vector<ShownInputBox> input_boxes_;
  std::vector<qb::TFileDialogRequest> file_dialogs_;
  std::vector<qb::TTextEditorRequest> editors_;
  std::vector<qb::TGlyphDialogRequest> glyph_dialogs_;
  std::vector<std::string> log_;
  int hourglass_depth_ = 0;
  int hourglass_shown_ = 0;
  bool progress_shown_ = false;
  int progress_count_ = 0;
  int cancel_transfer_at_ = -1;
};

}  // namespace qbtest
