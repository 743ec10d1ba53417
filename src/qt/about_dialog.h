// TAboutDialog: the About box, and TWebLabel, the clickable web address in it.
//
// The box is fixed in size, 258 pixels wide, and shows the application icon, the
// program's name and version in bold 24-pixel type, a short line on who makes it
// and the web label. The web label shows the hand cursor, is drawn in the highlight
// colour while the mouse is over it (or it has the keyboard focus) and in the window
// text colour otherwise; a click (or Space / Return) hands its address to the
// opener the box was given, which is the interaction's open-address call.
#pragma once

#include <QDialog>
#include <QLabel>
#include <functional>
#include <string>
#include <string_view>

namespace qb::qt {

namespace about_box {
inline constexpr std::string_view kCaption = "About";
inline constexpr int kWidth = 258;
inline constexpr std::string_view kTitle = "Quiverbox v1.01";
inline constexpr int kTitlePixelSize = 24;
// The program's web site: the one place that names it.
inline constexpr std::string_view kWebAddress = "https://quiverbox.example.org";
inline constexpr std::string_view kMakerLine1 = "Quiverbox - a clipboard archiver";
inline constexpr std::string_view kMakerLine2 = "Free software, written by the Quiverbox developers.";
}  // namespace about_box

using TWebAddressOpener = std::function<void(const std::string& address)>;

class TWebLabel : public QLabel {
  Q_OBJECT
 public:
  TWebLabel(const QString& text, std::string address, TWebAddressOpener opener, QWidget* parent = nullptr);

  const std::string& Address() const { return address_; }
  bool Hot() const { return hot_; }
  // The colour role the text is drawn in now.
  QPalette::ColorRole TextRole() const { return hot_ ? QPalette::Highlight : QPalette::WindowText; }
  // Opens the address (what a click does).
  void Activate();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetHot(bool hot);
  void ApplyColour();

  std::string address_;
  TWebAddressOpener opener_;
  bool hot_ = false;
  bool hovered_ = false;
  bool pressed_ = false;
  bool applying_ = false;
};

class TAboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutDialog(TWebAddressOpener opener, QWidget* parent = nullptr);

  QLabel* TitleLabel() const { return title_; }
  QLabel* IconLabel() const { return icon_; }
  TWebLabel* WebLabel() const { return web_; }

 private:
  QLabel* icon_ = nullptr;
  QLabel* title_ = nullptr;
  TWebLabel* web_ = nullptr;
};

}  // namespace qb::qt
