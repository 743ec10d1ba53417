// The user-interaction interface for qvf: message boxes become lines on standard
// error. There is nobody to answer a question, so a box with a choice gets the
// answer that leaves everything as it is (Cancel, No).
#pragma once

#include <cstdio>

#include "platform/interaction.h"

namespace qb::cli {

class TStderrInteraction : public IUserInteraction {
 public:
  explicit TStderrInteraction(std::FILE* out = stderr) : out_(out) {}
  MsgAnswer MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                       MsgButtons buttons) override;
  // How many error boxes were shown.
  int ErrorsShown() const { return errors_shown_; }

 private:
  std::FILE* out_;
  int errors_shown_ = 0;
};

}  // namespace qb::cli
