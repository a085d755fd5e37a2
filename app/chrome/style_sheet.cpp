#include "style_sheet.h"

#include <QApplication>
#include <QFile>
#include <QPalette>

bool readStyleSheet(const QString& path, QString* sheet) {
    QFile file(path);
    if (!file.open(QFile::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    *sheet = QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
    file.close();
    return true;
}

QColor paletteColorOf(const QString& sheet) { return QColor(sheet.mid(20, 7)); }

void applyStyle(QApplication& app) {
    QString sheet;
    if (!readStyleSheet(":/qss/flatwhite.css", &sheet)) return;
    app.setPalette(QPalette(paletteColorOf(sheet)));
    app.setStyleSheet(sheet);
}
