#pragma once

#include "platform/Exceptions.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

// Errors raised inside the picture helpers (reported by their results).
class EIEFunctionError : public Exception {
public:
  using Exception::Exception;
};

using TNotifyProgress = std::function<void(QObject* Sender, int per)>;
using TNotifyProgressEnd = std::function<void(QObject* Sender)>;

// Loads, saves, resamples and fits pictures for the browser, the thumbnail
// grid, the document editor and the acquisition paths. The load, save and
// resample operations never raise: they answer false, and LastError() tells
// why.
class TIEFunctions : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString FalseExtensionformats READ FalseExtensionformats WRITE SetFalseExtensionformats)

public:
  explicit TIEFunctions(QObject* AOwner = nullptr);
  ~TIEFunctions() override;

  // A JPEG (".jpg", ".jpeg", ".jpe") with both requested sizes above 1 is
  // decoded scaled; anything else at full size.
  bool LoadThumbnail(QImage& Bitmap, const QString& FileName, bool ShowProgress, int RequestedHeight,
                     int RequestedWidth);
  // Decodes a JPEG file with the largest reduction (1/2, 1/4, 1/8) that still
  // gives at least the requested size; full size unless both are positive.
  bool LoadJpegScaled(QImage& Bitmap, const QString& FileName, bool ShowProgress, int RequestedHeight,
                      int RequestedWidth);
  // Reads a picture by its extension. An extension no reader takes is read
  // by content when it is in FalseExtensionformats, else fails with
  // "Unknown Extension". Bitmap is 1 x 1 when the load fails.
  bool LoadImageFile(QImage& Bitmap, const QString& FileName, bool ShowProgress);
  // Writes the picture as JPEG (Reduce256: first to 256 colours, in place;
  // a positive JpegQuality replaces the default quality).
  bool SaveImageFile(QImage& Picture, const QString& FileName, bool ShowProgress, bool Reduce256, int JpegQuality);
  // Resamples to the new size: Lanczos-3 when HighQuality and both sides
  // exceed 4, else without filter. Convert1To24 turns a 1-bit picture into
  // 24 bits first (a 1-bit picture is otherwise resampled as it is, without
  // filter); Reduce256 reduces to 256 colours afterwards. A zero side leaves
  // the picture as it is.
  bool ResampleBitmap(QImage& Picture, int NewWidth, bool ShowProgress, bool Convert1To24, bool Reduce256,
                      bool HighQuality, int NewHeight);
  // The rectangle a picture of the given size takes in a box, keeping its
  // aspect ratio; also stored in OutRect.
  QRect FitRect(int ImageWidth, int ImageHeight, QRect& OutRect, bool CentreVertically, bool CentreHorizontally,
                bool AllowShrinking, bool AllowEnlarging, int BoxTop, int BoxLeft, int BoxHeight, int BoxWidth);

  // Extension patterns ("*.EZP;*.NDE;") of files read by content when
  // their extension has no reader.
  const QString& FalseExtensionformats() const { return FFalseExtensionformats; }
  void SetFalseExtensionformats(const QString& Value) { FFalseExtensionformats = Value; }

  // The message of the last failed operation (empty after a success).
  const QString& LastError() const { return FLastError; }

  TNotifyProgress OnProgress;
  TNotifyProgressEnd OnProgressEnd;

private:
  bool Run(bool ShowProgress, const std::function<bool()>& Body);
  void Progress(int Percent);

  QString FFalseExtensionformats;
  QString FLastError;
  bool FQuiet = false;
};

// True when the list is "*.*" (or "*.*;") or holds the file's extension as
// "*.EXT;" (case-insensitive). A name without extension counts as ".aaa".
bool matchesExtensionList(const QString& FileName, const QString& ExtList);

// Fills List with the entries of a folder (files and folders, in the file
// system's order) whose names match the extension list, as full names or
// bare names. A missing folder is reported to the user and gives false.
bool listFolder(const QString& Folder, const QString& ExtList, QStringList& List, bool FullNames);

// Creates a folder with its missing parents, asking first when Ask is set;
// true when the folder exists afterwards.
bool createFolder(const QString& Path, bool Ask, bool ShowError);

// The first of Name, Folder/Base<Separator>2.ext, ...<Separator>3.ext, ...
// that does not exist. An empty separator means "_".
QString MakeUniqueFileName(const QString& FileName, const QString& Separator = QStringLiteral("_"));

// A name in the system's temporary folder for a copy of the file.
QString temporaryFileName(const QString& FileName);

// "12 KB", "1.91 MB", "19 MB".
QString FormatFileSize(qint64 Size);

// The file name of a path without its extension.
QString nameWithoutExtension(const QString& FileName);
