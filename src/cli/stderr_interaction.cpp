#include "cli/stderr_interaction.h"

namespace qb::cli {

MsgAnswer TStderrInteraction::MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                                         MsgButtons buttons) {
  const std::string& shown_caption = caption.empty() ? std::string(DefaultCaption(kind)) : caption;
  // Line breaks inside the text are kept; each box ends with one.
  std::fprintf(out_, "qvf: [%s] %s\n", shown_caption.c_str(), text.c_str());
  std::fflush(out_);
  if (kind == MsgKind::Error) ++errors_shown_;
  if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
  if (buttons == MsgButtons::YesNo) return MsgAnswer::No;
  return MsgAnswer::Cancel;
}

}  // namespace qb::cli
