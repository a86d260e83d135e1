#pragma once

// Photo-like test pictures for the benchmarks, made once and kept in a
// folder for later runs, and a stopwatch.

#include "platform/images/Images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>

namespace BenchPhotos {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Smooth light and shapes, fine texture and sensor noise: compresses like a
// photograph, to a few MB at quality 90.
inline QImage Photo(int Seed) {
  QImage image(kWidth, kHeight, QImage::Format_RGB888);
  quint32 state = 0x12345u + quint32(Seed) * 7919u;
  const double fx = 0.002 + 0.0005 * (Seed % 5), fy = 0.003 + 0.0004 * (Seed % 7);
  for (int y = 0; y < kHeight; ++y) {
    uchar* d = image.scanLine(y);
    const double sy = std::sin(y * fy);
    for (int x = 0; x < kWidth; ++x, d += 3) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int noise = int(state & 31) - 16;
      const double base = 110 + 60 * std::sin(x * fx + Seed) * sy;
      const int texture = ((x / 3 + y / 5 + Seed) % 9) * 3;
      d[0] = uchar(std::clamp(int(base + texture + noise + (x * 60) / kWidth), 0, 255));
      d[1] = uchar(std::clamp(int(base * 0.9 + texture + noise + (y * 50) / kHeight), 0, 255));
      d[2] = uchar(std::clamp(int(255 - base + noise / 2 - texture), 0, 255));
    }
  }
  return image;
}

// Count pictures in Folder: the first 24 made, the rest copies of them.
inline QStringList Pictures(const QString& Folder, int Count = 24) {
  QDir().mkpath(Folder);
  QStringList files;
  for (int i = 0; i < Count; ++i) {
    const QString file = QStringLiteral("%1/photo%2.jpg").arg(Folder).arg(i, 2, 10, QLatin1Char('0'));
    if (!QFileInfo::exists(file) && i >= 24) {
      QFile::copy(QStringLiteral("%1/photo%2.jpg").arg(Folder).arg(i % 24, 2, 10, QLatin1Char('0')), file);
    } else if (!QFileInfo::exists(file)) {
      std::printf("making %s\n", qPrintable(file));
      std::fflush(stdout);
      Images::TWriteOptions options;
      options.JpegQuality = 90;
      Images::WriteFile(Photo(i), file + QStringLiteral(".part.jpg"), options);
      QFile::rename(file + QStringLiteral(".part.jpg"), file);
    }
    files.append(file);
  }
  return files;
}

inline double Seconds(const std::function<void()>& Fn) {
  const auto start = std::chrono::steady_clock::now();
  Fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}


// The largest resident memory of the process so far, in MB.
inline double PeakResidentMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace BenchPhotos
