#include "TestSupport.h"

#include "platform/Application.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
TDialogScript* GScript = nullptr;
}

TDialogScript& TestDialogs() { return *GScript; }

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Nothing a test writes may reach the user's own folders.
  QTemporaryDir home;
  qputenv("TAVORA_HOME", home.path().toLocal8Bit());
  qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toLocal8Bit());

  TApplication app(argc, argv);
  TDialogScript script;
  GScript = &script;
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  GScript = nullptr;
  return rc;
}
