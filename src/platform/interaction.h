// The user-interaction interface: every box a command shows goes through it.
//
// The Qt program implements it with real dialogs; tests use a scripted double that
// answers from a queue and records every request. Code below the command level
// reaches the user only through this interface (or by throwing).
#pragma once

#include <string>

namespace qb {

enum class MsgKind { Error, Warning, Information, Confirmation };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// The caption that goes with a kind when the caller names none: "Error", "Warning",
// "Information", "Confirm".
const char* DefaultCaption(MsgKind kind);

class IUserInteraction {
 public:
  virtual ~IUserInteraction() = default;
  // A modal message box; returns the button pressed.
  virtual MsgAnswer MessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                               MsgButtons buttons) = 0;
};

}  // namespace qb
