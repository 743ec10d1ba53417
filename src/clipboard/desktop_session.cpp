#include "clipboard/desktop_session.h"

namespace qb {

bool ForceXcb(const TSessionFacts& facts) {
  return facts.Wayland && !facts.DataControl && facts.X11 && !facts.PlatformChosen;
}

TClipboardNotice NoticeFor(const TSessionFacts& facts, std::string_view platform, bool lost) {
  static constexpr std::string_view kNoDataControl =
      "This Wayland desktop does not let programs watch the clipboard (it offers no data-control "
      "protocol). ";
  if (!facts.Wayland) return {};
  if (facts.DataControl) {
    if (!lost) return {};
    return {"Clipboard connection lost",
            "The connection to the Wayland compositor's clipboard has ended: clipboard changes are no "
            "longer seen, Auto Save stores nothing and Load cannot set the clipboard. Start Quiverbox "
            "again."};
  }
  if (platform == "xcb")
    return {"Clipboard through XWayland",
            std::string(kNoDataControl) +
                "Quiverbox runs through XWayland and reads the clipboard there: it sees the copies the "
                "desktop passes on to X11 programs, whichever window has the focus."};
  if (platform == "wayland")
    return {"Clipboard seen only while this window is active",
            std::string(kNoDataControl) +
                "Without XWayland Quiverbox sees the clipboard only when its window gets the focus: "
                "Auto Save stores the clip that is there then, and misses the copies made before it in "
                "other windows."};
  return {};
}

}  // namespace qb
