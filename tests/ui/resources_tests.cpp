#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryFile>

#include "style_sheet.h"

TEST(Resources, EveryNamedImageLoads) {
    QStringList names;
    for (const char* base : {"cancel", "files", "folder", "ie", "load", "network", "refresh", "repeat",
                             "sliders", "textindent", "update", "video", "watch"}) {
        for (const char* suffix : {"", "_hover", "_ban"}) names << QString(":/base/%1%2").arg(base, suffix);
    }
    names << ":/base/updateo_ban"
          << ":/base/logo"
          << ":/ico/player";
    for (const char* title : {"close", "max", "min", "restore"}) {
        for (const char* suffix : {"", "_hover", "_ban"}) names << QString(":/title/%1%2").arg(title, suffix);
    }
    for (const QString& name : names) {
        QImage image(name);
        EXPECT_FALSE(image.isNull()) << name.toStdString();
        QPixmap pixmap(name);
        EXPECT_FALSE(pixmap.isNull()) << name.toStdString();
    }
    EXPECT_EQ(QPixmap(":/base/logo").size(), QSize(120, 30));
    EXPECT_EQ(QPixmap(":/title/close").size(), QSize(20, 20));
}

TEST(Resources, ApplicationSheetNamesThePaletteColour) {
    QString sheet;
    ASSERT_TRUE(readStyleSheet(":/qss/flatwhite.css", &sheet));
    EXPECT_TRUE(sheet.startsWith("QPalette{background:#FFFFFF;}"));
    EXPECT_EQ(paletteColorOf(sheet), QColor("#FFFFFF"));
    EXPECT_TRUE(sheet.contains("#6a788d"));

    QString title;
    ASSERT_TRUE(readStyleSheet(":/qss/lightblue.css", &title));
    EXPECT_FALSE(title.isEmpty());
    EXPECT_FALSE(readStyleSheet(":/qss/missing.css", &title));
}

TEST(Resources, SheetOfAnotherShapeGivesAnInvalidColourAndStopsAtNul) {
    EXPECT_FALSE(paletteColorOf("QWidget{color:red;}").isValid());
    EXPECT_EQ(paletteColorOf("QPalette{background:#12AB9F;}"), QColor("#12AB9F"));

    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(QByteArray("QPalette{background:#000000;}\xE9", 30) + QByteArray(1, '\0') + "tail");
    file.close();
    QString sheet;
    ASSERT_TRUE(readStyleSheet(file.fileName(), &sheet));
    EXPECT_EQ(sheet.size(), 30);
    EXPECT_EQ(sheet.at(29), QChar(0xE9)) << "bytes are Latin-1";
}
