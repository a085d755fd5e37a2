// Style sheets are read from resources as bytes up to the first NUL, taken as Latin-1.
#pragma once

#include <QColor>
#include <QString>

class QApplication;

// False when the resource cannot be opened; `sheet` is left alone then.
bool readStyleSheet(const QString& path, QString* sheet);

// The application sheet starts with "QPalette{background:#FFFFFF;}": characters 20 to 26 name
// the palette colour. A sheet of another shape gives an invalid colour.
QColor paletteColorOf(const QString& sheet);

// Gives the application the palette and the sheet of ":/qss/flatwhite.css"; nothing when the
// resource is missing.
void applyStyle(QApplication& app);
