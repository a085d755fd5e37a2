// The device form's checks and the message box's kinds.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include "device_dialog.h"
#include "message_dialog.h"
#include "push_button.h"
#include "update_widget.h"

namespace {

struct DeviceForm {
    DeviceDialog dialog{nullptr, QStringLiteral("添加设备")};
    QLineEdit* ip = dialog.findChild<QLineEdit*>("ipEdit");
    QLineEdit* port = dialog.findChild<QLineEdit*>("portEdit");
    QLineEdit* user = dialog.findChild<QLineEdit*>("userEdit");
    QLineEdit* password = dialog.findChild<QLineEdit*>("passwordEdit");
    QLabel* warning = dialog.findChild<QLabel*>("wainLable");
    QLabel* success = dialog.findChild<QLabel*>("successLable");
    QPushButton* ok = dialog.findChild<QPushButton*>("okButton");

    // Clicks "确定" and returns the warning shown ("" when none).
    QString save() {
        QTest::mouseClick(ok, Qt::LeftButton);
        return warning->isHidden() ? QString() : warning->text();
    }
};

}  // namespace

TEST(DeviceDialog, FillingWithoutLoginFallsBackToTheDefaults) {
    DeviceForm form;
    ASSERT_TRUE(form.ip && form.port && form.user && form.password && form.warning && form.success &&
                form.ok);
    EXPECT_EQ(form.password->echoMode(), QLineEdit::Password);
    form.dialog.fillFields("10.1.1.5", 8080, "", "");
    EXPECT_EQ(form.port->text(), "8080");
    EXPECT_EQ(form.user->text(), "admin");
    EXPECT_EQ(form.password->text(), "tolvi");
    form.dialog.fillFields("10.1.1.5", 81, "root", "secret");
    EXPECT_EQ(form.user->text(), "root");
    EXPECT_EQ(form.password->text(), "secret");
}

TEST(DeviceDialog, ChecksRunInOrderAndTheFirstFailureStays) {
    DeviceForm form;
    form.dialog.show();
    QSignalSpy saved(&form.dialog, &DeviceDialog::signalSaveDeviceInfo);

    // Everything empty: the IP is reported first.
    form.ip->clear();
    form.port->clear();
    form.user->clear();
    form.password->clear();
    EXPECT_EQ(form.save(), QStringLiteral("请输入设备IP!"));
    EXPECT_TRUE(form.success->isHidden());

    // An IP of blanks is not checked for form.
    form.ip->setText("   ");
    EXPECT_EQ(form.save(), QStringLiteral("请输入设备端口!"));

    for (const char* bad_port : {"8o", "80a", "0x50", " 80", "99999999999"}) {
        form.port->setText(bad_port);
        EXPECT_EQ(form.save(), QStringLiteral("端口不正确，请重新输入!")) << bad_port;
    }

    form.port->setText("8080");
    EXPECT_EQ(form.save(), QStringLiteral("请输入用户名!"));
    form.user->setText("admin");
    EXPECT_EQ(form.save(), QStringLiteral("请输入密码!"));

    EXPECT_EQ(saved.count(), 0);
    EXPECT_TRUE(form.dialog.isVisible());
}

TEST(DeviceDialog, AValidFormIsAcceptedAndHandsOnItsValues) {
    DeviceForm form;
    form.dialog.show();
    QSignalSpy saved(&form.dialog, &DeviceDialog::signalSaveDeviceInfo);
    form.dialog.fillFields("192.168.1.100", 8080, "operator", "pw1");
    EXPECT_EQ(form.save(), QString());
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved[0][0].toString(), "192.168.1.100");
    EXPECT_EQ(saved[0][1].toInt(), 8080);
    EXPECT_EQ(saved[0][2].toString(), "operator");
    EXPECT_EQ(saved[0][3].toString(), "pw1");
    EXPECT_EQ(form.dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(form.dialog.isVisible());
}

TEST(DeviceDialog, CancelAndCloseHandNothingOn) {
    DeviceForm form;
    form.dialog.show();
    QSignalSpy saved(&form.dialog, &DeviceDialog::signalSaveDeviceInfo);
    QTest::mouseClick(form.dialog.findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(form.dialog.isVisible());
    EXPECT_EQ(form.dialog.result(), QDialog::Rejected);

    form.dialog.show();
    auto* close = form.dialog.findChild<PushButton*>("closeButton");
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_FALSE(form.dialog.isVisible());
    EXPECT_EQ(saved.count(), 0);
}

TEST(Dialogs, DragWithTheLeftButton) {
    DeviceForm form;
    MessageDialog message(nullptr, QStringLiteral("提示信息"), QStringLiteral("x"), 0);
    for (QDialog* dialog : {static_cast<QDialog*>(&form.dialog), static_cast<QDialog*>(&message)}) {
        dialog->move(100, 100);
        dialog->show();
        const QPoint start = dialog->pos();
        const QPoint grab(100, 100);
        auto send = [&](QEvent::Type type, QPoint moved, Qt::MouseButton button, Qt::MouseButtons buttons) {
            QMouseEvent event(type, grab, start + grab + moved, button, buttons, Qt::NoModifier);
            QApplication::sendEvent(dialog, &event);
        };
        send(QEvent::MouseButtonPress, {}, Qt::RightButton, Qt::RightButton);
        send(QEvent::MouseMove, {40, 40}, Qt::NoButton, Qt::RightButton);
        send(QEvent::MouseButtonRelease, {40, 40}, Qt::RightButton, Qt::NoButton);
        EXPECT_EQ(dialog->pos(), start) << "only the left button drags";

        send(QEvent::MouseButtonPress, {}, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, {25, -15}, Qt::NoButton, Qt::LeftButton);
        EXPECT_EQ(dialog->pos(), start + QPoint(25, -15));
        send(QEvent::MouseButtonRelease, {25, -15}, Qt::LeftButton, Qt::NoButton);
        send(QEvent::MouseMove, {90, 90}, Qt::NoButton, Qt::NoButton);
        EXPECT_EQ(dialog->pos(), start + QPoint(25, -15));
    }
}

TEST(MessageDialog, QuestionKindRejectsWithItsSecondButton) {
    MessageDialog dialog(nullptr, QStringLiteral("提示信息"), QStringLiteral("确定删除?"), 1);
    dialog.show();
    auto* first = dialog.findChild<QPushButton*>("firstButton");
    auto* second = dialog.findChild<QPushButton*>("secondButton");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text(), QStringLiteral("是"));
    EXPECT_EQ(second->text(), QStringLiteral("否"));
    EXPECT_FALSE(second->isHidden());
    EXPECT_EQ(dialog.size(), QSize(280, 130));
    EXPECT_EQ(dialog.findChild<QLabel*>("textLabel")->text(), QStringLiteral("确定删除?"));
    EXPECT_EQ(dialog.findChild<QLabel*>("titleLabel")->text(), QStringLiteral("提示信息"));
    EXPECT_EQ(dialog.findChild<PushButton*>("closeButton")->toolTip(), QStringLiteral("关闭"));

    QTest::mouseClick(second, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    dialog.show();
    QTest::mouseClick(first, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(MessageDialog, OtherKindsAreNoticesWithOneButton) {
    for (int kind : {0, 2, -1}) {
        MessageDialog dialog(nullptr, QStringLiteral("提示信息"), QStringLiteral("设备已经添加!"), kind);
        dialog.show();
        auto* first = dialog.findChild<QPushButton*>("firstButton");
        EXPECT_EQ(first->text(), QStringLiteral("确定")) << kind;
        EXPECT_TRUE(dialog.findChild<QPushButton*>("secondButton")->isHidden()) << kind;
        QTest::mouseClick(first, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << kind;
    }

    // The white title on the light grey stays readable: dark pixels outline its characters.
    MessageDialog titled(nullptr, QStringLiteral("提示信息"), QStringLiteral("x"), 0);
    titled.show();
    QCoreApplication::processEvents();
    auto* title = titled.findChild<QLabel*>("titleLabel");
    const QImage picture = titled.grab(title->geometry()).toImage();
    int dark = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) dark += qGray(picture.pixel(x, y)) < 110;
    EXPECT_GT(dark, 20);

    MessageDialog closed(nullptr, QStringLiteral("提示信息"), QStringLiteral("x"), 0);
    closed.show();
    QTest::mouseClick(closed.findChild<PushButton*>("closeButton"), Qt::LeftButton, Qt::NoModifier,
                      QPoint(2, 2));
    EXPECT_FALSE(closed.isVisible());
    EXPECT_EQ(closed.result(), QDialog::Rejected);
}

TEST(CameraText, IsShownAsSentNeverAsMarkup) {
    const QString hostile = QStringLiteral("<b>v2</b><img src=\"/etc/x\">");
    MessageDialog dialog(nullptr, QStringLiteral("提示信息"), hostile, 0);
    EXPECT_EQ(dialog.findChild<QLabel*>("textLabel")->textFormat(), Qt::PlainText);

    UpdateWidget cell;
    cell.slotSetStatus(DEVICE_STATUS_UPDATE_FAILED, 0);
    for (const QString& reason : {hostile, QStringLiteral("设备登陆失败")}) {
        cell.setReason(reason);
        EXPECT_EQ(cell.reasonLabel()->textFormat(), Qt::PlainText);
        QTextDocument shown;
        shown.setHtml(cell.toolTip());
        EXPECT_EQ(shown.toPlainText(), QStringLiteral("升级失败：") + reason);
    }
}
