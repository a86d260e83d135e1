#include "Printing/browser/IEFunctions.h"

#include "platform/Dialogs.h"
#include "platform/images/Images.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <limits>

using namespace Images;

namespace {

// Rounds to the nearest integer, ties to even, kept within int.
int RoundEven(double X) {
  if (std::isnan(X)) return 0;
  const double r = std::nearbyint(X);
  if (r >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (r <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

// A side over a box side; a box without room makes every ratio infinite.
double Ratio(double Side, double BoxSide) {
  return BoxSide > 0 ? Side / BoxSide : std::numeric_limits<double>::infinity();
}

bool IsJpegName(const QString& FileName) {
  const QString ext = QFileInfo(FileName).suffix().toLower();
  return ext == QLatin1String("jpg") || ext == QLatin1String("jpeg") || ext == QLatin1String("jpe");
}

QImage WhitePixel() {
  QImage image(1, 1, QImage::Format_RGB888);
  image.fill(Qt::white);
  return image;
}

}  // namespace

// --- TIEFunctions -------------------------------------------------------------

TIEFunctions::TIEFunctions(QObject* AOwner) : QObject(AOwner) {}

TIEFunctions::~TIEFunctions() = default;

void TIEFunctions::Progress(int Percent) {
  if (!FQuiet && OnProgress) OnProgress(this, Percent);
}

// Runs one operation: the quiet flag belongs to it (an operation asked to be
// quiet leaves the next one free to report), everything it raises becomes
// a false result with its message in LastError.
bool TIEFunctions::Run(bool ShowProgress, const std::function<bool()>& Body) {
  const bool previousQuiet = FQuiet;
  FQuiet = !ShowProgress;
  bool ok = false;
  try {
    ok = Body();
    if (ok) FLastError.clear();
  } catch (const Exception& e) {
    FLastError = e.Message();
  } catch (const std::exception& e) {
    FLastError = QString::fromLocal8Bit(e.what());
  } catch (...) {
    FLastError = QStringLiteral("Unknown error");
  }
  if (ShowProgress && !FQuiet && OnProgressEnd) {
    try {
      OnProgressEnd(this);
    } catch (...) {
      // the end of a report changes nothing of the result
    }
  }
  FQuiet = previousQuiet;
  return ok;
}

bool TIEFunctions::LoadThumbnail(QImage& Bitmap, const QString& FileName, bool ShowProgress, int RequestedHeight,
                                 int RequestedWidth) {
  if (IsJpegName(FileName) && RequestedHeight > 1 && RequestedWidth > 1)
    return LoadJpegScaled(Bitmap, FileName, ShowProgress, RequestedHeight, RequestedWidth);
  return LoadImageFile(Bitmap, FileName, ShowProgress);
}

bool TIEFunctions::LoadJpegScaled(QImage& Bitmap, const QString& FileName, bool ShowProgress, int RequestedHeight,
                                  int RequestedWidth) {
  return Run(ShowProgress, [&] {
    TReadOptions options;
    if (RequestedHeight > 0 && RequestedWidth > 0) {
      options.RequestedWidth = RequestedWidth;
      options.RequestedHeight = RequestedHeight;
    }
    options.Progress = [this](int Percent) { Progress(Percent); };
    QImage image = ReadJpeg(ReadFileBytes(FileName), options);
    if (image.width() < 1 || image.height() < 1) return false;
    Bitmap = image;
    return true;
  });
}

bool TIEFunctions::LoadImageFile(QImage& Bitmap, const QString& FileName, bool ShowProgress) {
  Bitmap = WhitePixel();
  return Run(ShowProgress, [&] {
    TImageFormat format = FormatFromExtension(FileName);
    if (format == TImageFormat::Unknown && !matchesExtensionList(FileName, FFalseExtensionformats))
      throw EIEFunctionError(QStringLiteral("Unknown Extension"));
    const QByteArray data = ReadFileBytes(FileName);
    if (format == TImageFormat::Unknown) {
      format = FormatFromContent(data);
      if (format == TImageFormat::Unknown) throw EIEFunctionError(QStringLiteral("Unknown picture format"));
    }
    TReadOptions options;
    options.Progress = [this](int Percent) { Progress(Percent); };
    Bitmap = Read(data, format, options);
    return true;
  });
}

bool TIEFunctions::SaveImageFile(QImage& Picture, const QString& FileName, bool ShowProgress, bool Reduce256,
                                 int JpegQuality) {
  return Run(ShowProgress, [&] {
    if (Picture.isNull()) throw EIEFunctionError(QStringLiteral("No picture to save"));
    if (Reduce256) Picture = ReduceTo256Colours(Picture);
    TWriteOptions options;
    if (JpegQuality > 0) options.JpegQuality = JpegQuality;
    options.Progress = [this](int Percent) { Progress(Percent); };
    WriteFileBytes(FileName, WriteJpeg(Picture, options));
    const QFileInfo written(FileName);
    return written.exists() && written.size() > 0;
  });
}

bool TIEFunctions::ResampleBitmap(QImage& Picture, int NewWidth, bool ShowProgress, bool Convert1To24, bool Reduce256,
                                  bool HighQuality, int NewHeight) {
  if (!Picture.isNull() && Picture.width() == NewWidth && Picture.height() == NewHeight) return true;
  return Run(ShowProgress, [&] {
    if (NewWidth == 0 || NewHeight == 0) return true;
    if (Picture.isNull()) throw EIEFunctionError(QStringLiteral("No picture to resample"));
    CheckSize(NewWidth, NewHeight);
    QImage source = Picture;
    if (Convert1To24 && source.depth() == 1) source = ToRgb24(source);
    if (source.depth() == 1) {
      // One bit stays one bit: only unfiltered resampling keeps it.
      QImage out = source.scaled(NewWidth, NewHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      if (out.isNull()) throw EIEFunctionError(QStringLiteral("Not enough memory for the picture"));
      Picture = out;
      return true;
    }
    const TProgress progress = [this](int Percent) { Progress(Percent); };
    QImage out;
    if (HighQuality && NewWidth > 4 && NewHeight > 4) {
      try {
        out = Resample(source, NewWidth, NewHeight, TResampleFilter::Lanczos3, progress);
      } catch (const EImageError&) {
        out = QImage();  // go on without filter
      }
    }
    if (out.isNull()) out = Resample(source, NewWidth, NewHeight, TResampleFilter::None, progress);
    if (Reduce256) out = ReduceTo256Colours(out);
    Picture = out;
    return true;
  });
}

QRect TIEFunctions::FitRect(int ImageWidth, int ImageHeight, QRect& OutRect, bool CentreVertically,
                            bool CentreHorizontally, bool AllowShrinking, bool AllowEnlarging, int BoxTop, int BoxLeft,
                            int BoxHeight, int BoxWidth) {
  if (ImageWidth == 0 || ImageHeight == 0) {
    OutRect = QRect(BoxLeft, BoxTop, 0, 0);
    return OutRect;
  }
  const double w = ImageWidth, h = ImageHeight;
  const double byWidth = Ratio(w, BoxWidth), byHeight = Ratio(h, BoxHeight);
  int newWidth = ImageWidth, newHeight = ImageHeight;
  if (byWidth > byHeight) {
    const bool wider = ImageWidth > BoxWidth;
    if ((wider && AllowShrinking) || (!wider && AllowEnlarging)) {
      newWidth = RoundEven(w / byWidth);
      newHeight = RoundEven(h / byWidth);
    }
  } else {
    const bool taller = ImageHeight > BoxHeight;
    if ((taller && AllowShrinking) || (!taller && AllowEnlarging)) {
      newWidth = RoundEven(w / byHeight);
      newHeight = RoundEven(h / byHeight);
    }
  }
  int top = BoxTop, left = BoxLeft;
  if (CentreVertically && newHeight < qint64(BoxHeight) - 1) top += RoundEven(BoxHeight / 2.0 - newHeight / 2.0);
  if (CentreHorizontally && newWidth < qint64(BoxWidth) - 1) left += RoundEven(BoxWidth / 2.0 - newWidth / 2.0);
  OutRect = QRect(left, top, newWidth, newHeight);
  return OutRect;
}

// --- Files and folders --------------------------------------------------------

bool matchesExtensionList(const QString& FileName, const QString& ExtList) {
  const QString list = ExtList.toUpper();
  if (list == QLatin1String("*.*") || list == QLatin1String("*.*;")) return true;
  const QString name = QFileInfo(FileName).fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString ext = dot < 0 || dot == name.size() - 1 ? QStringLiteral(".aaa") : name.mid(dot);
  return (list + QLatin1Char(';')).contains(ext.toUpper() + QLatin1Char(';'));
}

bool listFolder(const QString& Folder, const QString& ExtList, QStringList& List, bool FullNames) {
  List.clear();
  const QFileInfo info(Folder);
  if (Folder.isEmpty() || !info.isDir()) {
    Dialogs::MessageDlg(QStringLiteral("Unable to change to the directory, ") + Folder + QStringLiteral("."),
                        mtInformation, mbOK);
    return false;
  }
  const QString prefix = Folder.endsWith(QLatin1Char('/')) ? Folder : Folder + QLatin1Char('/');
  const QStringList names =
      QDir(Folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
  for (const QString& name : names)
    if (matchesExtensionList(name, ExtList)) List.append(FullNames ? prefix + name : name);
  return true;
}

bool createFolder(const QString& Path, bool Ask, bool ShowError) {
  if (Path.size() <= 3) return false;
  if (QFileInfo(Path).isDir()) return true;
  if (Ask && Dialogs::MessageDlg(QStringLiteral("The folder, ") + Path +
                                     QStringLiteral(" does not exist.  Would you like to create it?"),
                                 mtInformation, mbOK | mbCancel) == mrCancel)
    return false;
  if (!QDir().mkpath(Path) || !QFileInfo(Path).isDir()) {
    if (ShowError)
      Dialogs::MessageDlg(QStringLiteral("An error was encountered while creating the folder, ") + Path, mtWarning,
                          mbOK);
    return false;
  }
  return true;
}

QString MakeUniqueFileName(const QString& FileName, const QString& Separator) {
  auto taken = [](const QString& Name) {
    const QFileInfo info(Name);
    return info.exists() || info.isSymLink();
  };
  if (!taken(FileName)) return FileName;
  const QString separator = Separator.isEmpty() ? QStringLiteral("_") : Separator;
  const qsizetype slash = FileName.lastIndexOf(QLatin1Char('/'));
  const QString folder = FileName.left(slash + 1);
  const QString name = FileName.mid(slash + 1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString base = dot < 0 ? name : name.left(dot);
  const QString ext = dot < 0 ? QString() : name.mid(dot);
  constexpr int kLastCandidate = 20000000;
  for (int n = 2;; ++n) {
    const QString candidate = folder + base + separator + QString::number(n) + ext;
    if (n >= kLastCandidate || !taken(candidate)) return candidate;
  }
}

QString temporaryFileName(const QString& FileName) {
  return MakeUniqueFileName(QDir::tempPath() + QLatin1Char('/') + QFileInfo(FileName).fileName(), QStringLiteral("_"));
}

QString FormatFileSize(qint64 Size) {
  if (Size <= 1048575) return QString::number((Size + 512) / 1024) + QStringLiteral(" KB");
  const qint64 s = Size + 512;
  if (Size >= 10485248) return QString::number(s / 1048576) + QStringLiteral(" MB");
  return QString::number(double(s) / 1048576.0, 'f', 2) + QStringLiteral(" MB");
}

QString nameWithoutExtension(const QString& FileName) {
  const QString name = QFileInfo(FileName).fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}
