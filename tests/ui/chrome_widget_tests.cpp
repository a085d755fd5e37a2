// Title bar, image button and painted navigation button.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "nav_button.h"
#include "push_button.h"
#include "title_widget.h"

namespace {

QImage grabImage(QWidget* widget) { return widget->grab().toImage(); }

// Enter and leave come from the window system; send them directly.
void sendEnter(QWidget* widget) {
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(widget, &enter);
}

void sendLeave(QWidget* widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

}  // namespace

TEST(NavButton, StateRuleDisabledBeatsCheckedBeatsHover) {
    NavButton button;
    button.resize(100, 30);
    EXPECT_EQ(button.paintState(), NavButton::PaintState::Normal);
    sendEnter(&button);
    EXPECT_TRUE(button.isHover());
    EXPECT_EQ(button.paintState(), NavButton::PaintState::Hover);
    button.setChecked(true);
    EXPECT_EQ(button.paintState(), NavButton::PaintState::Checked);
    button.setEnabled(false);
    EXPECT_EQ(button.paintState(), NavButton::PaintState::Disabled);
    button.setEnabled(true);
    button.setChecked(false);
    sendLeave(&button);
    EXPECT_EQ(button.paintState(), NavButton::PaintState::Normal);
}

TEST(NavButton, HoverPaintsTheHoverBrushNotTheHoverColour) {
    NavButton button;
    button.resize(100, 30);
    button.setShowLine(false);
    button.setHoverBgColor(QColor(255, 0, 0));
    button.setHoverBgBrush(QBrush(QColor(0, 0, 255)));

    QImage normal = grabImage(&button);
    EXPECT_EQ(normal.pixelColor(50, 3), QColor(230, 230, 230));

    sendEnter(&button);
    QImage hover = grabImage(&button);
    EXPECT_EQ(hover.pixelColor(50, 3), QColor(0, 0, 255));

    // Without a brush the hover colour is used.
    button.setHoverBgBrush(QBrush(Qt::NoBrush));
    hover = grabImage(&button);
    EXPECT_EQ(hover.pixelColor(50, 3), QColor(255, 0, 0));
}

TEST(NavButton, CheckedDrawsTheLineAndTriangleOnTheirSides) {
    NavButton button;
    button.resize(100, 30);
    button.setShowTriangle(true);
    button.setTriangleColor(QColor(255, 255, 0));
    button.setCheckBgColor(QColor(0, 0, 0));

    QImage normal = grabImage(&button);
    EXPECT_EQ(normal.pixelColor(1, 15), QColor(230, 230, 230));   // no line
    EXPECT_EQ(normal.pixelColor(98, 15), QColor(230, 230, 230));  // no triangle

    button.setChecked(true);
    QImage checked = grabImage(&button);
    EXPECT_EQ(checked.pixelColor(1, 15), QColor(0, 187, 158));
    EXPECT_EQ(checked.pixelColor(98, 15), QColor(255, 255, 0));
    EXPECT_EQ(checked.pixelColor(50, 15), QColor(0, 0, 0));

    // The background leaves the line space free on the line's side.
    button.setChecked(false);
    button.setLineSpace(10);
    button.setNormalBgColor(QColor(10, 20, 30));
    QImage spaced = grabImage(&button);
    EXPECT_NE(spaced.pixelColor(5, 15), QColor(10, 20, 30));
    EXPECT_EQ(spaced.pixelColor(15, 15), QColor(10, 20, 30));
}

TEST(NavButton, DisabledWithoutItsColoursPaintsNoBlackBlock) {
    QWidget host;
    host.setAutoFillBackground(true);
    QPalette pal = host.palette();
    pal.setColor(QPalette::Window, QColor(10, 200, 10));
    host.setPalette(pal);
    host.resize(120, 40);
    NavButton button(&host);
    button.setGeometry(0, 0, 100, 30);
    button.setShowLine(false);
    button.setEnabled(false);
    host.show();
    const QImage image = host.grab().toImage();
    // The unset disabled colour leaves what is behind the button visible.
    EXPECT_EQ(image.pixelColor(50, 3), QColor(10, 200, 10));

    button.setDisableBgColor(QColor(200, 10, 10));
    EXPECT_EQ(host.grab().toImage().pixelColor(50, 3), QColor(200, 10, 10));
}

TEST(PushButton, ClicksOnlyOnAReleaseInsideAfterAPress) {
    PushButton button;
    button.setPicName(":/title/close");
    button.setFixedSize(20, 20);
    button.show();
    QSignalSpy clicked(&button, &QPushButton::clicked);

    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(button.status(), PushButton::PRESS);
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(button.status(), PushButton::ENTER);

    // Pressed, dragged off and released outside: no click.
    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    sendLeave(&button);
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(button.status(), PushButton::NORMAL);

    // A stray release inside, without its own press, does not click either.
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(clicked.count(), 1);

    // A right press does not arm the button.
    QTest::mousePress(&button, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(&button, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(clicked.count(), 1);
}

TEST(TitleWidget, DoubleClickSwapsMaximiseAndRestore) {
    QWidget window;
    window.resize(600, 400);
    TitleWidget title(&window);
    window.show();
    QSignalSpy max_spy(&title, &TitleWidget::signalButtonMaxClicked);
    QSignalSpy restore_spy(&title, &TitleWidget::signalButtonRestoreClicked);

    ASSERT_TRUE(title.isVisible());
    // Without a layout the bar takes its window's width when it paints.
    window.grab();
    EXPECT_EQ(title.width(), window.width());
    QTest::mouseDClick(&title, Qt::LeftButton, Qt::NoModifier, QPoint(300, 15));
    EXPECT_EQ(max_spy.count(), 1);
    EXPECT_TRUE(title.buttonMax()->isHidden());
    EXPECT_FALSE(title.buttonRestore()->isHidden());

    QTest::mouseDClick(&title, Qt::LeftButton, Qt::NoModifier, QPoint(300, 15));
    EXPECT_EQ(restore_spy.count(), 1);
    EXPECT_FALSE(title.buttonMax()->isHidden());
    EXPECT_TRUE(title.buttonRestore()->isHidden());

    // The buttons themselves do the same swap.
    QTest::mouseClick(title.buttonMax(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(max_spy.count(), 2);
    EXPECT_TRUE(title.buttonMax()->isHidden());
}

TEST(TitleWidget, DragsItsWindowOnlyWhenNotMaximised) {
    QWidget window;
    window.resize(600, 400);
    window.move(100, 100);
    TitleWidget title(&window);
    window.show();
    const QPoint start = window.pos();

    auto drag = [&](QPoint from, QPoint to) {
        QMouseEvent press(QEvent::MouseButtonPress, from, title.mapToGlobal(from), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&title, &press);
        QMouseEvent move(QEvent::MouseMove, to, title.mapToGlobal(from) + (to - from), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&title, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, title.mapToGlobal(from) + (to - from),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&title, &release);
    };

    drag(QPoint(200, 10), QPoint(230, 30));
    EXPECT_EQ(window.pos(), start + QPoint(30, 20));

    // Maximised (restore offered): the bar does not drag.
    QTest::mouseClick(title.buttonMax(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    const QPoint before = window.pos();
    drag(QPoint(200, 10), QPoint(260, 50));
    EXPECT_EQ(window.pos(), before);
}

TEST(TitleWidget, RollingTitleWrapsAround) {
    TitleWidget title;
    title.setTitleContent("abc");
    // The position is shared by all title bars; bring it round to the start first.
    for (int i = 0; i < 8; ++i) {
        QMetaObject::invokeMethod(&title, "onRollTitle");
        if (title.titleLabel()->text() == "abc") break;
    }
    ASSERT_EQ(title.titleLabel()->text(), "abc");
    QMetaObject::invokeMethod(&title, "onRollTitle");
    EXPECT_EQ(title.titleLabel()->text(), "bc");
    QMetaObject::invokeMethod(&title, "onRollTitle");
    EXPECT_EQ(title.titleLabel()->text(), "c");
    QMetaObject::invokeMethod(&title, "onRollTitle");
    EXPECT_EQ(title.titleLabel()->text(), "");
    QMetaObject::invokeMethod(&title, "onRollTitle");
    EXPECT_EQ(title.titleLabel()->text(), "abc");
}
