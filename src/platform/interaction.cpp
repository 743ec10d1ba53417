#include "platform/interaction.h"

namespace qb {

const char* DefaultCaption(MsgKind kind) {
  switch (kind) {
    case MsgKind::Error: return "Error";
    case MsgKind::Warning: return "Warning";
    case MsgKind::Information: return "Information";
    case MsgKind::Confirmation: return "Confirm";
  }
  return "";
}

}  // namespace qb
