// The Wayland clipboard's parts that need no compositor: another program's clip as
// MIME data, what this program's clip is offered as, and reading a transfer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QMimeData>
#include <thread>

#include "qt/qt_clipboard.h"
#if QB_WAYLAND
#include "qt/wayland/data_control_clipboard.h"
#endif

namespace qb::qt {
namespace {

#if QB_WAYLAND
using wayland::OfferedTypesOf;
using wayland::ReadToEnd;
using wayland::ServedTypeOf;
using wayland::TOfferMimeData;

// A desktop clipboard under TQtClipboard whose content the test sets.
class TFakeDesktop : public IDesktopClipboard {
 public:
  const QMimeData* MimeData() const override { return data_.get(); }
  void SetMimeData(std::unique_ptr<QMimeData> data) override {
    data_ = std::move(data);
    ++sets_;
    if (OnChanged) OnChanged();
  }
  int Sets() const { return sets_; }

 private:
  std::unique_ptr<QMimeData> data_;
  int sets_ = 0;
};

// An offer whose owner answers from a table and counts the requests.
struct TOwner {
  std::map<QByteArray, std::optional<QByteArray>> Answers;
  std::vector<QByteArray> Asked;
  std::unique_ptr<TOfferMimeData> Offer() {
    std::vector<QByteArray> types;
    for (const auto& [mime, answer] : Answers) types.push_back(mime);
    return std::make_unique<TOfferMimeData>(types, [this](const QByteArray& mime) {
      Asked.push_back(mime);
      return Answers.at(mime);
    });
  }
};

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

TEST(DataControlOffer, TypesAreFetchedOnceAndKeptForTheClip) {
  TOwner owner;
  owner.Answers = {{"text/plain", QByteArray("plain")},
                   {"x-kde-passwordManagerHint", QByteArray("secret")},
                   {"TEXT", std::nullopt},  // the owner fails this one
                   {QByteArray("x-\xFF-raw"), QByteArray("raw")}};
  auto offer = owner.Offer();
  EXPECT_TRUE(owner.Asked.empty());  // nothing is fetched before it is read
  EXPECT_TRUE(offer->hasFormat("x-kde-passwordManagerHint"));
  EXPECT_FALSE(offer->hasFormat("text/html"));
  EXPECT_FALSE(offer->hasFormat("application/x-qt-image"));  // no picture offered
  EXPECT_EQ(offer->data("x-kde-passwordManagerHint"), QByteArray("secret"));
  EXPECT_EQ(offer->data("x-kde-passwordManagerHint"), QByteArray("secret"));
  EXPECT_EQ(offer->data("TEXT"), QByteArray());
  EXPECT_EQ(offer->data("TEXT"), QByteArray());  // a failure is not asked again
  EXPECT_EQ(offer->data("text/html"), QByteArray());
  EXPECT_EQ(offer->text(), "plain");
  // A type name that is not UTF-8 is asked for with its own bytes.
  EXPECT_EQ(offer->data(QString::fromUtf8(QByteArray("x-\xFF-raw"))), QByteArray("raw"));
  EXPECT_EQ(owner.Asked, (std::vector<QByteArray>{"x-kde-passwordManagerHint", "TEXT", "text/plain",
                                                  QByteArray("x-\xFF-raw")}));
  // The clip was replaced: what was read stays, nothing more is asked.
  owner.Answers["x-kde-passwordManagerHint"] = QByteArray("changed");
  offer->Detach();
  EXPECT_EQ(offer->data("x-kde-passwordManagerHint"), QByteArray("secret"));
  EXPECT_EQ(owner.Asked.size(), 4u);
}

// The program reads a Wayland clip exactly as it reads Qt's clipboard: the same
// formats, the same blocks, the same secret test, pictures found by their image type.
TEST(DataControlOffer, TheProgramReadsWaylandClipsAsQtOnes) {
  auto* desktop = new TFakeDesktop;
  TQtClipboard clipboard{std::unique_ptr<IDesktopClipboard>(desktop)};
  int changes = 0;
  clipboard.SetOnChange([&] { ++changes; });

  TOwner secret;
  secret.Answers = {{"text/plain;charset=utf-8", QByteArray("hunter2")},
                    {"text/plain", QByteArray("hunter2")},
                    {"x-kde-passwordManagerHint", QByteArray("secret")}};
  desktop->SetMimeData(secret.Offer());
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(IsSecretClip(clipboard));

  TOwner rich;
  rich.Answers = {{"text/plain;charset=utf-8", QByteArray("caf\xC3\xA9")},
                  {"text/html", QByteArray("<b>x</b>")}};
  desktop->SetMimeData(rich.Offer());
  EXPECT_FALSE(IsSecretClip(clipboard));
  const uint32_t html = clipboard.Registry().Register("text/html");
  EXPECT_TRUE(clipboard.HasFormat(CF_TEXT));
  EXPECT_TRUE(clipboard.HasFormat(html));
  {
    TClipboardLock lock(clipboard);
    auto text = clipboard.GetBlock(CF_TEXT);
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(text->begin(), text->end()), std::string("caf\xC3\xA9\0", 6));
    auto block = clipboard.GetBlock(html);
    ASSERT_TRUE(block);
    EXPECT_EQ(std::string(block->begin(), block->end()), "<b>x</b>");
  }

  QImage image(4, 3, QImage::Format_RGB32);
  image.fill(QColor(1, 2, 3));
  image.setPixelColor(3, 2, QColor(250, 120, 10));
  TOwner picture;
  picture.Answers = {{"image/png", Png(image)}, {"text/uri-list", QByteArray("file:///x.png")}};
  desktop->SetMimeData(picture.Offer());
  EXPECT_TRUE(clipboard.HasFormat(CF_BITMAP));
  {
    TClipboardLock lock(clipboard);
    auto dib = clipboard.GetBitmap();
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->Width(), 4);
    EXPECT_EQ(dib->PixelColor(3, 2).Red, 250);
    EXPECT_EQ(dib->PixelColor(0, 0).Blue, 3);
  }

  // Writes go to the desktop clipboard in one piece when the clipboard is closed.
  {
    TClipboardLock lock(clipboard);
    clipboard.Empty();
    clipboard.SetBlock(html, {'<', 'i', '>'});
    EXPECT_EQ(desktop->Sets(), 3);
  }
  EXPECT_EQ(desktop->Sets(), 4);
  EXPECT_EQ(desktop->MimeData()->formats(), QStringList{"text/html"});
}

TEST(DataControlServing, TextIsOfferedUnderItsUtf8NameAndQtsPictureTypeIsNot) {
  QMimeData text;
  text.setText(QString::fromUtf8("caf\xC3\xA9"));
  text.setData("x-kde-passwordManagerHint", "secret");
  EXPECT_EQ(OfferedTypesOf(text),
            (QStringList{"text/plain", "text/plain;charset=utf-8", "x-kde-passwordManagerHint"}));
  EXPECT_EQ(ServedTypeOf(text, "text/plain;charset=utf-8"), "text/plain");
  EXPECT_EQ(ServedTypeOf(text, "x-kde-passwordManagerHint"), "x-kde-passwordManagerHint");
  EXPECT_EQ(ServedTypeOf(text, "image/png"), "");
  EXPECT_EQ(text.data(ServedTypeOf(text, "text/plain;charset=utf-8")), QByteArray("caf\xC3\xA9"));

  QMimeData both;  // a clip that names its UTF-8 text itself is offered as it is
  both.setData("text/plain;charset=utf-8", "a");
  both.setData("text/plain", "b");
  EXPECT_EQ(OfferedTypesOf(both), (QStringList{"text/plain;charset=utf-8", "text/plain"}));
  EXPECT_EQ(ServedTypeOf(both, "text/plain;charset=utf-8"), "text/plain;charset=utf-8");

  TPictureMimeData picture(TDib(2, 2, 24));
  const QStringList offered = OfferedTypesOf(picture);
  EXPECT_TRUE(offered.contains("image/png"));
  EXPECT_TRUE(offered.contains("image/bmp"));
  EXPECT_FALSE(offered.contains("application/x-qt-image"));
  EXPECT_EQ(ServedTypeOf(picture, "application/x-qt-image"), "");
}

TEST(DataControlTransfer, ReadsToTheEndAndGivesUpOnSilenceOrExcess) {
  auto through_pipe = [](QByteArray bytes, bool close_after, int idle_ms, qsizetype limit) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
      qsizetype done = 0;
      while (done < bytes.size()) {
        const ssize_t n = write(fds[1], bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) break;
        done += n;
      }
      if (close_after) close(fds[1]);
    });
    std::optional<QByteArray> got = ReadToEnd(fds[0], idle_ms, limit);
    writer.join();
    close(fds[0]);
    if (!close_after) close(fds[1]);
    return got;
  };
  QByteArray big(300000, '\0');
  for (int i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 256);
  EXPECT_EQ(through_pipe(big, true, 5000, 1 << 20),
            std::optional<QByteArray>(big));  // more than a pipe holds
  EXPECT_EQ(through_pipe(QByteArray(), true, 5000, 10), std::optional<QByteArray>(QByteArray()));
  EXPECT_EQ(through_pipe(QByteArray(10, 'x'), true, 5000, 10),
            std::optional<QByteArray>(QByteArray(10, 'x')));
  EXPECT_EQ(through_pipe(QByteArray(11, 'x'), true, 5000, 10), std::nullopt);  // more than the limit
  EXPECT_EQ(through_pipe(QByteArray("half"), false, 50, 10), std::nullopt);    // the owner fell silent
}
#endif

}  // namespace
}  // namespace qb::qt
