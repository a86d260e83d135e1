#pragma once

#include <QString>

// Where the program keeps its files. Every folder answered exists.
namespace Paths {

// The program's base name: "tavora" (tavora.ini, tavora.data, tavora.tip).
QString ProgramBaseName();

// The user's folder for settings (the .ini files, window geometry):
// $TAVORA_HOME when set, else ~/.config/tavora.
QString UserSettingsDir();

// The user's folder for written data (temporary picture folders):
// $TAVORA_HOME when set, else ~/.local/share/tavora.
QString UserDataDir();

// A read-only file shipped with the program (".data", ".tip", help): the
// executable's folder when the file is there (a build tree), else
// <prefix>/share/tavora/. Answers the path whether or not the file exists.
QString ProgramFile(const QString& FileName);

// The thumbnail disk cache: $XDG_CACHE_HOME (default ~/.cache) +
// /Morvek/Common/Cache/ (with the trailing slash).
QString ThumbnailCacheDir();

}  // namespace Paths
