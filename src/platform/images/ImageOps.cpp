// Resampling (Lanczos-3 and nearest neighbour), quarter turns, cropping and
// the reduction to 256 colours, all on 24-bit pictures.

#include "platform/images/ImageInternal.h"
#include "platform/images/Images.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace Images {

namespace {

constexpr int kWeightBits = 14;

double Lanczos3(double X) {
  X = std::fabs(X);
  if (X < 1e-9) return 1.0;
  if (X >= 3.0) return 0.0;
  const double px = std::numbers::pi * X;
  return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

// The source pixels and fixed-point weights behind each output pixel of
// one axis.
struct TContributions {
  std::vector<int> First;    // first source pixel of output i
  std::vector<int> Count;    // number of source pixels of output i
  std::vector<int> Weights;  // Stride per output
  int Stride = 0;
};

TContributions Contributions(int Source, int Target) {
  TContributions c;
  const double scale = double(Source) / Target;
  const double filterScale = std::max(scale, 1.0);
  const double support = 3.0 * filterScale;
  c.Stride = static_cast<int>(std::ceil(support)) * 2 + 1;
  c.First.resize(size_t(Target));
  c.Count.resize(size_t(Target));
  c.Weights.assign(size_t(Target) * size_t(c.Stride), 0);
  std::vector<double> w(size_t(c.Stride));
  for (int i = 0; i < Target; ++i) {
    const double centre = (i + 0.5) * scale;
    const int first = std::max(static_cast<int>(centre - support + 0.5), 0);
    const int last = std::min(static_cast<int>(centre + support + 0.5), Source);
    const int n = std::min(last - first, c.Stride);
    double total = 0;
    for (int k = 0; k < n; ++k) total += w[size_t(k)] = Lanczos3((first + k - centre + 0.5) / filterScale);
    int* out = &c.Weights[size_t(i) * size_t(c.Stride)];
    for (int k = 0; k < n; ++k)
      out[k] = static_cast<int>(std::lround(w[size_t(k)] / (total != 0 ? total : 1) * (1 << kWeightBits)));
    c.First[size_t(i)] = first;
    c.Count[size_t(i)] = n;
  }
  return c;
}

inline uchar Clamp8(int Sum) {
  const int v = (Sum + (1 << (kWeightBits - 1))) >> kWeightBits;
  return static_cast<uchar>(v < 0 ? 0 : v > 255 ? 255 : v);
}

class TProgressSteps {
public:
  TProgressSteps(const TProgress& Progress, qint64 Total) : FProgress(Progress), FTotal(std::max<qint64>(Total, 1)) {
    if (FProgress) FProgress(0);
  }
  void Step() {
    ++FDone;
    if (!FProgress) return;
    const int percent = static_cast<int>(FDone * 100 / FTotal);
    if (percent != FLast) FProgress(FLast = percent);
  }

private:
  const TProgress& FProgress;
  qint64 FTotal;
  qint64 FDone = 0;
  int FLast = 0;
};

QImage ResampleLanczos(const QImage& Src, int NewWidth, int NewHeight, const TProgress& Progress) {
  const int sw = Src.width(), sh = Src.height();
  TProgressSteps steps(Progress, qint64(sh) + NewHeight);
  // Across first, into a picture of the new width and the old height.
  const TContributions across = Contributions(sw, NewWidth);
  QImage mid = AllocateRgb24(NewWidth, sh);
  for (int y = 0; y < sh; ++y) {
    const uchar* s = Src.constScanLine(y);
    uchar* d = mid.scanLine(y);
    for (int x = 0; x < NewWidth; ++x, d += 3) {
      const int* w = &across.Weights[size_t(x) * size_t(across.Stride)];
      const uchar* p = s + 3 * across.First[size_t(x)];
      int r = 0, g = 0, b = 0;
      for (int k = 0, n = across.Count[size_t(x)]; k < n; ++k, p += 3) {
        r += p[0] * w[k];
        g += p[1] * w[k];
        b += p[2] * w[k];
      }
      d[0] = Clamp8(r);
      d[1] = Clamp8(g);
      d[2] = Clamp8(b);
    }
    steps.Step();
  }
  // Then down.
  const TContributions down = Contributions(sh, NewHeight);
  QImage out = AllocateRgb24(NewWidth, NewHeight);
  const qsizetype midStride = mid.bytesPerLine();
  const uchar* midBits = mid.constBits();
  std::vector<int> sums(size_t(NewWidth) * 3);
  for (int y = 0; y < NewHeight; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    const int* w = &down.Weights[size_t(y) * size_t(down.Stride)];
    const int first = down.First[size_t(y)];
    for (int k = 0, n = down.Count[size_t(y)]; k < n; ++k) {
      const uchar* s = midBits + (first + k) * midStride;
      const int wk = w[k];
      for (size_t i = 0; i < sums.size(); ++i) sums[i] += s[i] * wk;
    }
    uchar* d = out.scanLine(y);
    for (size_t i = 0; i < sums.size(); ++i) d[i] = Clamp8(sums[i]);
    steps.Step();
  }
  return out;
}

QImage ResampleNearest(const QImage& Src, int NewWidth, int NewHeight, const TProgress& Progress) {
  const int sw = Src.width(), sh = Src.height();
  TProgressSteps steps(Progress, NewHeight);
  std::vector<int> columns(static_cast<size_t>(NewWidth));
  for (int x = 0; x < NewWidth; ++x) columns[size_t(x)] = static_cast<int>((2 * qint64(x) + 1) * sw / (2 * qint64(NewWidth)));
  QImage out = AllocateRgb24(NewWidth, NewHeight);
  for (int y = 0; y < NewHeight; ++y) {
    const uchar* s = Src.constScanLine(static_cast<int>((2 * qint64(y) + 1) * sh / (2 * qint64(NewHeight))));
    uchar* d = out.scanLine(y);
    for (int x = 0; x < NewWidth; ++x, d += 3) std::copy_n(s + 3 * columns[size_t(x)], 3, d);
    steps.Step();
  }
  return out;
}

// --- Median cut ---------------------------------------------------------------

constexpr int kBins = 1 << 15;  // 5 bits a channel

inline int BinOf(const uchar* P) { return ((P[0] >> 3) << 10) | ((P[1] >> 3) << 5) | (P[2] >> 3); }
inline int Channel(int Bin, int C) { return (Bin >> (10 - 5 * C)) & 31; }

struct TBox {
  std::vector<int> Bins;
  qint64 Pixels = 0;
  int Longest = 0;  // channel with the widest range
  int Range = 0;
};

void Measure(TBox& Box, const std::vector<quint32>& Counts) {
  int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
  Box.Pixels = 0;
  for (int bin : Box.Bins) {
    Box.Pixels += Counts[size_t(bin)];
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], Channel(bin, c));
      hi[c] = std::max(hi[c], Channel(bin, c));
    }
  }
  Box.Longest = 0;
  for (int c = 1; c < 3; ++c)
    if (hi[c] - lo[c] > hi[Box.Longest] - lo[Box.Longest]) Box.Longest = c;
  Box.Range = hi[Box.Longest] - lo[Box.Longest];
}

}  // namespace

QImage Resample(const QImage& Image, int NewWidth, int NewHeight, TResampleFilter Filter, const TProgress& Progress) {
  if (Image.isNull()) throw EImageError(QStringLiteral("No picture to resample"));
  CheckSize(NewWidth, NewHeight);
  const QImage src = ToRgb24(Image);
  QImage out = Filter == TResampleFilter::Lanczos3 ? ResampleLanczos(src, NewWidth, NewHeight, Progress)
                                                   : ResampleNearest(src, NewWidth, NewHeight, Progress);
  return out;
}

QImage RotateQuarterTurns(const QImage& Image, int QuarterTurns) {
  const QImage src = ToRgb24(Image);
  const int turns = ((QuarterTurns % 4) + 4) % 4;
  if (turns == 0 || src.isNull()) return src;
  const int w = src.width(), h = src.height();
  QImage out = turns == 2 ? AllocateRgb24(w, h) : AllocateRgb24(h, w);
  for (int y = 0; y < h; ++y) {
    const uchar* s = src.constScanLine(y);
    for (int x = 0; x < w; ++x, s += 3) {
      int ox, oy;
      if (turns == 1) {  // clockwise: the left column becomes the top row
        ox = h - 1 - y;
        oy = x;
      } else if (turns == 2) {
        ox = w - 1 - x;
        oy = h - 1 - y;
      } else {
        ox = y;
        oy = w - 1 - x;
      }
      std::copy_n(s, 3, out.scanLine(oy) + 3 * ox);
    }
  }
  return out;
}

QImage Crop(const QImage& Image, const QRect& Rect) {
  const QRect r = Rect.normalized() & Image.rect();
  if (Image.isNull() || r.isEmpty()) throw EImageError(QStringLiteral("Nothing left of the picture to crop"));
  return ToRgb24(Image.copy(r));
}

QImage ReduceTo256Colours(const QImage& Image) {
  const QImage src = ToRgb24(Image);
  if (src.isNull()) return src;
  const int w = src.width(), h = src.height();

  // Few colours already: nothing to reduce.
  {
    QHash<quint32, bool> seen;
    bool few = true;
    for (int y = 0; y < h && few; ++y) {
      const uchar* s = src.constScanLine(y);
      for (int x = 0; x < w; ++x, s += 3) {
        seen.insert((quint32(s[0]) << 16) | (quint32(s[1]) << 8) | s[2], true);
        if (seen.size() > 256) {
          few = false;
          break;
        }
      }
    }
    if (few) return src;
  }

  std::vector<quint32> counts(kBins, 0);
  std::vector<quint64> sums(size_t(kBins) * 3, 0);
  for (int y = 0; y < h; ++y) {
    const uchar* s = src.constScanLine(y);
    for (int x = 0; x < w; ++x, s += 3) {
      const size_t bin = size_t(BinOf(s));
      ++counts[bin];
      sums[3 * bin] += s[0];
      sums[3 * bin + 1] += s[1];
      sums[3 * bin + 2] += s[2];
    }
  }
  std::vector<TBox> boxes(1);
  for (int bin = 0; bin < kBins; ++bin)
    if (counts[size_t(bin)]) boxes[0].Bins.push_back(bin);
  Measure(boxes[0], counts);
  while (boxes.size() < 256) {
    // Split the box that holds the most pixels over the widest range.
    int pick = -1;
    double best = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].Bins.size() < 2 || boxes[i].Range == 0) continue;
      const double score = double(boxes[i].Pixels) * boxes[i].Range;
      if (score > best) {
        best = score;
        pick = static_cast<int>(i);
      }
    }
    if (pick < 0) break;
    TBox& box = boxes[size_t(pick)];
    const int c = box.Longest;
    std::sort(box.Bins.begin(), box.Bins.end(), [c](int a, int b) { return Channel(a, c) < Channel(b, c); });
    // The median by pixels, with at least one bin on each side.
    qint64 acc = 0;
    size_t cut = 1;
    for (size_t i = 0; i + 1 < box.Bins.size(); ++i) {
      acc += counts[size_t(box.Bins[i])];
      cut = i + 1;
      if (acc * 2 >= box.Pixels) break;
    }
    TBox other;
    other.Bins.assign(box.Bins.begin() + static_cast<long>(cut), box.Bins.end());
    box.Bins.resize(cut);
    Measure(box, counts);
    Measure(other, counts);
    boxes.push_back(std::move(other));
  }

  // Each bin takes the mean colour of its box.
  std::vector<uchar> colourOfBin(size_t(kBins) * 3, 0);
  for (const TBox& box : boxes) {
    quint64 s[3] = {0, 0, 0};
    for (int bin : box.Bins)
      for (int c = 0; c < 3; ++c) s[c] += sums[3 * size_t(bin) + size_t(c)];
    for (int bin : box.Bins)
      for (int c = 0; c < 3; ++c)
        colourOfBin[3 * size_t(bin) + size_t(c)] = static_cast<uchar>((s[c] + quint64(box.Pixels) / 2) / quint64(box.Pixels));
  }
  QImage out = AllocateRgb24(w, h);
  for (int y = 0; y < h; ++y) {
    const uchar* s = src.constScanLine(y);
    uchar* d = out.scanLine(y);
    for (int x = 0; x < w; ++x, s += 3, d += 3) std::copy_n(&colourOfBin[3 * size_t(BinOf(s))], 3, d);
  }
  return out;
}

}  // namespace Images
