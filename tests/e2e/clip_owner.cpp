// clip_owner: puts one clip with several MIME types on the X11 clipboard, as a
// desktop program does (a password manager copying a secret, a browser copying
// rich text), and serves it until another program takes the clipboard.
//
//   clip_owner TYPE=VALUE [TYPE=VALUE ...]
//
// Prints "owner ready" on standard output once it owns the clipboard; exits 0
// when it loses it, 1 after 60 seconds without losing it, 2 on a wrong command
// line.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: clip_owner TYPE=VALUE [TYPE=VALUE ...]\n");
    return 2;
  }
  auto* data = new QMimeData;
  for (int i = 1; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (!eq || eq == argv[i]) {
      std::fprintf(stderr, "clip_owner: '%s' is not TYPE=VALUE\n", argv[i]);
      return 2;
    }
    data->setData(QString::fromUtf8(argv[i], static_cast<int>(eq - argv[i])), QByteArray(eq + 1));
  }
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setMimeData(data);
  QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
    if (!clipboard->ownsClipboard()) QCoreApplication::exit(0);
  });
  QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(1); });
  std::printf("owner ready\n");
  std::fflush(stdout);
  return app.exec();
}
