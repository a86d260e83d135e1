#pragma once

// Shared helpers of the markup renderer tests: the DejaVu fonts loaded by
// file path, so that every machine lays text out with exactly them.

#include <QFont>
#include <QImage>
#include <QString>

// The family of the DejaVu Sans files loaded through
// QFontDatabase::addApplicationFont (regular, bold, oblique, bold oblique).
QString DejaVuSans();

// DejaVu Sans at the given point size.
QFont TestFont(int PointSize = 12);

// A white 24-bit image of the size at the resolution (dots per inch).
QImage WhiteImage(int Width, int Height, int Dpi = 96);
