#include "platform/Application.h"
#include "platform/Version.h"

#include <QMainWindow>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  // Answered before any window system is touched, so it works anywhere.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
      std::printf("Tavora %s\n", TAVORA_VERSION);
      return 0;
    }
  }

  TApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Tavora"));
  window.resize(1024, 700);
  window.show();
  return app.exec();
}
