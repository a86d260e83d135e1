#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString Ensure(const QString& dir) {
  QDir().mkpath(dir);
  return QDir::cleanPath(dir);
}

QString FromEnv(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

QString TavoraHome() { return FromEnv("TAVORA_HOME"); }

}  // namespace

namespace Paths {

QString ProgramBaseName() { return QStringLiteral("tavora"); }

QString UserSettingsDir() {
  const QString home = TavoraHome();
  if (!home.isEmpty()) return Ensure(home);
  QString base = FromEnv("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
  return Ensure(base + QStringLiteral("/tavora"));
}

QString UserDataDir() {
  const QString home = TavoraHome();
  if (!home.isEmpty()) return Ensure(home);
  QString base = FromEnv("XDG_DATA_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
  return Ensure(base + QStringLiteral("/tavora"));
}

QString ProgramFile(const QString& FileName) {
  QString exeDir;
  if (QCoreApplication::instance()) exeDir = QCoreApplication::applicationDirPath();
  if (!exeDir.isEmpty()) {
    const QString beside = exeDir + QLatin1Char('/') + FileName;
    if (QFileInfo::exists(beside)) return beside;
  }
  return QStringLiteral(TAVORA_DATADIR) + QLatin1Char('/') + FileName;
}

QString ThumbnailCacheDir() {
  QString base = FromEnv("XDG_CACHE_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.cache");
  return Ensure(base + QStringLiteral("/Morvek/Common/Cache")) + QLatin1Char('/');
}

}  // namespace Paths
