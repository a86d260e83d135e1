// Thumbnail and preview speed on photographs.
//
// Makes 24 photo-like 4000 x 3000 JPEGs once (quality 90, kept beside the
// program for later runs), then times on the same files, best of three
// rounds:
//   - a thumbnail in a 90 x 75 box as the thumbnail grid makes it:
//     LoadThumbnail, FitRect, ResampleBitmap with Lanczos-3;
//   - "djpeg -scale 1/8", the decoding limit for it;
//   - "vipsthumbnail -s 90x75" when installed;
// and the same for a 512-pixel preview (the document's cached bitmap
// size) against "djpeg -scale 1/4" and "vipsthumbnail -s 512".
// Target: the thumbnail within 1.25 x of djpeg and faster than vipsthumbnail.

#include "BenchPhotos.h"
#include "Printing/browser/IEFunctions.h"
#include "platform/images/Images.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

extern char** environ;

namespace {

constexpr int kPictures = 24;
constexpr int kWidth = BenchPhotos::kWidth;
constexpr int kHeight = BenchPhotos::kHeight;
constexpr int kRounds = 3;

using BenchPhotos::Pictures;
using BenchPhotos::Seconds;

bool Run(const QStringList& Arguments) {
  std::vector<QByteArray> bytes;
  for (const QString& a : Arguments) bytes.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& b : bytes) argv.push_back(b.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct TMethod {
  const char* Name;
  std::function<bool(const QString&)> One;  // false: failed
  double Best = 0;                          // seconds for all pictures, best round
  bool Failed = false;
};

void Report(const char* Title, std::vector<TMethod>& Methods, const QStringList& Files) {
  for (int round = 0; round < kRounds; ++round)
    for (TMethod& m : Methods) {
      if (!m.One) continue;
      const double s = Seconds([&] {
        for (const QString& f : Files)
          if (!m.One(f)) m.Failed = true;
      });
      if (round == 0 || s < m.Best) m.Best = s;
    }
  std::printf("\n%s\n", Title);
  const double ours = Methods[0].Best;
  for (const TMethod& m : Methods) {
    if (!m.One) {
      std::printf("  %-34s not installed\n", m.Name);
      continue;
    }
    std::printf("  %-34s %8.2f ms/picture", m.Name, m.Best * 1000 / Files.size());
    if (&m != &Methods[0]) std::printf("   ours / this = %.2f", ours / m.Best);
    if (m.Failed) std::printf("   (FAILED on some pictures)");
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QString folder = qEnvironmentVariable("TAVORA_BENCH_DATA");
  if (folder.isEmpty()) folder = QCoreApplication::applicationDirPath() + QStringLiteral("/thumbs-data");
  const QStringList files = Pictures(folder);
  qint64 bytes = 0;
  for (const QString& f : files) bytes += QFileInfo(f).size();
  std::printf("%d pictures of %d x %d, %.1f MB each on average, best of %d rounds\n", kPictures, kWidth, kHeight,
              double(bytes) / files.size() / (1 << 20), kRounds);

  const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
  const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
  const QString vipsOut = QDir::tempPath() + QStringLiteral("/tavora-bench-vips.jpg");
  TIEFunctions functions;

  // What the thumbnail grid and the document do with a picture.
  auto fitted = [&functions](const QString& File, bool Thumbnail, int BoxWidth, int BoxHeight) {
    QImage bitmap;
    const bool loaded = Thumbnail ? functions.LoadThumbnail(bitmap, File, false, BoxHeight, BoxWidth)
                                  : functions.LoadJpegScaled(bitmap, File, false, BoxHeight, BoxWidth);
    if (!loaded) return false;
    QRect r;
    functions.FitRect(bitmap.width(), bitmap.height(), r, true, true, true, true, 0, 0, BoxHeight, BoxWidth);
    return functions.ResampleBitmap(bitmap, r.width(), false, false, false, true, r.height()) &&
           bitmap.size() == r.size();
  };
  auto external = [](const QString& Program, QStringList Arguments) -> std::function<bool(const QString&)> {
    if (Program.isEmpty()) return {};
    return [Program, Arguments](const QString& File) { return Run(QStringList{Program} + Arguments + QStringList{File}); };
  };

  // Read every file once so that all methods find them in the page cache.
  for (const QString& f : files) (void)Images::ReadFileBytes(f);

  std::vector<TMethod> thumbs = {
      {"LoadThumbnail + Lanczos-3, 90x75", [&](const QString& f) { return fitted(f, true, 90, 75); }},
      {"djpeg -scale 1/8", external(djpeg, {"-scale", "1/8", "-outfile", "/dev/null"})},
      {"vipsthumbnail -s 90x75", external(vips, {"-s", "90x75", "-o", vipsOut})},
  };
  Report("Thumbnail in a 90 x 75 box (target: within 1.25 x of djpeg, faster than vipsthumbnail)", thumbs, files);
  std::vector<TMethod> previews = {
      {"LoadJpegScaled + Lanczos-3, 512", [&](const QString& f) { return fitted(f, false, 512, 512); }},
      {"djpeg -scale 1/4", external(djpeg, {"-scale", "1/4", "-outfile", "/dev/null"})},
      {"vipsthumbnail -s 512", external(vips, {"-s", "512", "-o", vipsOut})},
  };
  Report("Preview of 512 pixels", previews, files);
  if (djpeg.isEmpty()) std::printf("\ndjpeg not found: install libjpeg-turbo-progs\n");
  QFile::remove(vipsOut);
  return 0;
}
