// The form panels and the list-export panel: file choice through the replaceable dialogs, the
// network edits' validators, the password check and the exclusive upload rows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <tuple>

#include "nav_button.h"
#include "panel_file_dialog.h"
#include "path_row.h"
#include "right_device_list_widget.h"
#include "right_ipc_config_widget.h"
#include "right_network_widget.h"
#include "right_update_widget.h"
#include "right_user_upload_widget.h"

namespace {

// Answers every file dialog with `answer` and records "caption|folder|filter" of each.
struct FakeDialogs {
    QStringList answer;
    QStringList asked;

    FakeDialogs() {
        auto ask = [this](QWidget*, const QString& caption, const QString& dir, const QString& filter) {
            asked << caption + "|" + dir + "|" + filter;
            return answer;
        };
        PanelFileDialog::setOpenFiles(ask);
        PanelFileDialog::setSaveFile([ask](QWidget* p, const QString& c, const QString& d, const QString& f) {
            return ask(p, c, d, f).value(0);
        });
    }
    ~FakeDialogs() {
        PanelFileDialog::setOpenFiles(nullptr);
        PanelFileDialog::setSaveFile(nullptr);
    }
};

// Runs `action`, which may open a modal dialog; returns the dialog's label texts and closes it.
QString modalLabels(const std::function<void()>& action) {
    QString texts;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            for (QLabel* label : modal->findChildren<QLabel*>()) texts += label->text() + "|";
            modal->close();
        }
    });
    poll.start();
    action();
    return texts;
}

}  // namespace

TEST(FormPanels, UpgradeJoinsChosenFilesAndACancelledDialogKeepsThePath) {
    FakeDialogs dialogs;
    RightUpdateWidget panel;
    panel.setupPanel(400, 800);

    dialogs.answer = QStringList({"a/v3.bin", "b/f2.bin"});
    panel.browseButton()->click();
    dialogs.answer.clear();
    panel.browseButton()->click();
    EXPECT_EQ(panel.pathEdit()->text(), "a/v3.bin|b/f2.bin");
    EXPECT_EQ(dialogs.asked.value(0), QStringLiteral("选择文件|./|升级文件(*.bin)"));

    // The staged rollout: left alone it is the plain batch; numbers typed are taken as they are.
    EXPECT_EQ(panel.parallelBox()->text(), QStringLiteral("全部"));
    const batch::Policy plain = panel.policy();
    EXPECT_EQ(plain.parallel + plain.canary + plain.max_failures, 0);
    for (QSpinBox* box : {panel.parallelBox(), panel.canaryBox(), panel.maxFailuresBox()}) {
        box->selectAll();
        QTest::keyClicks(box, "-12x");
    }
    const batch::Policy typed = panel.policy();
    EXPECT_EQ(typed.parallel, 12);
    EXPECT_EQ(typed.canary, 12);
    EXPECT_EQ(typed.max_failures, 12);
}

TEST(FormPanels, HeaderButtonShowsTheCancelImagesOfEachState) {
    RightUpdateWidget panel;
    panel.setupPanel(400, 800);
    NavButton* header = panel.headerButton();
    const struct {
        QPixmap shown;
        const char* resource;
    } states[] = {{header->getIconNormal(), ":/base/cancel"},
                  {header->getIconHover(), ":/base/cancel_hover"},
                  {header->getIconCheck(), ":/base/cancel_hover"},
                  {header->getIconDisable(), ":/base/cancel_ban"}};
    for (const auto& state : states) {
        const QImage expected = QPixmap(state.resource).toImage();
        ASSERT_FALSE(expected.isNull()) << state.resource;
        EXPECT_EQ(state.shown.toImage(), expected) << state.resource;
    }
}

TEST(FormPanels, NetworkEditsRefuseLettersAndEmitIncompleteTextAsTyped) {
    RightNetworkWidget panel;
    panel.setupPanel(400, 800, "192.168.1.100", 80, "255.255.255.0", "192.168.1.1");
    QSignalSpy spy(&panel, &RightNetworkWidget::signalButtonUpdateClicked);

    panel.ipEdit()->clear();
    QTest::keyClicks(panel.ipEdit(), "10a.0.x0.");
    EXPECT_EQ(panel.ipEdit()->text(), "10.0.0.");
    panel.portEdit()->clear();
    QTest::keyClicks(panel.portEdit(), "7b0000");
    EXPECT_EQ(panel.portEdit()->text(), "7000");
    panel.portEdit()->clear();

    panel.confirmButton()->click();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0), QList<QVariant>({"10.0.0.", 0, "255.255.255.0", "192.168.1.1"}));
}

TEST(FormPanels, ConfigurationPagesImportAndPasswordCheck) {
    FakeDialogs dialogs;
    RightIpcConfigWidget panel;
    panel.setupPanel(400, 800);
    QSignalSpy import(&panel, &RightIpcConfigWidget::signalButtonUpdateClicked);
    dialogs.answer = QStringList({"cam.cfg"});
    panel.browseButton()->click();
    EXPECT_TRUE(dialogs.asked.value(0).endsWith(QStringLiteral("配置文件(*.cfg)")));
    panel.startButton()->click();
    EXPECT_EQ(import.value(0).value(0).toString(), "cam.cfg");

    // A mismatch or an empty password shows why and emits nothing; equal edits emit.
    QSignalSpy password(&panel, &RightIpcConfigWidget::signalButtonSetPasswordClicked);
    for (const auto& [first, second, message] :
         {std::make_tuple("abc123", "abc124", QStringLiteral("提示信息|密码不一致!")),
          std::make_tuple("", "", QStringLiteral("提示信息|密码不能为空!"))}) {
        panel.passwordEdit()->setText(first);
        panel.confirmPasswordEdit()->setText(second);
        const QString shown = modalLabels([&] { panel.setPasswordButton()->click(); });
        EXPECT_TRUE(shown.contains(message)) << shown.toStdString();
    }
    EXPECT_EQ(password.count(), 0);
    panel.passwordEdit()->setText("Kp@2025");
    panel.confirmPasswordEdit()->setText("Kp@2025");
    EXPECT_TRUE(modalLabels([&] { panel.setPasswordButton()->click(); }).isEmpty());
    ASSERT_EQ(password.count(), 1);
    EXPECT_EQ(password.at(0).at(0).toString(), "Kp@2025");
}

TEST(FormPanels, UploadRowsAreExclusiveAndEachBrowsesItsOwnPattern) {
    FakeDialogs dialogs;
    RightUserUploadWidget panel;
    panel.setupPanel(400, 800);
    EXPECT_TRUE(panel.radio(RightUserUploadWidget::Logo)->isChecked());
    for (auto row : {RightUserUploadWidget::Logo, RightUserUploadWidget::Background,
                     RightUserUploadWidget::StyleSheet}) {
        dialogs.answer = QStringList({QString("file%1").arg(row)});
        panel.pathRow(row)->browseButton()->click();
    }
    EXPECT_TRUE(dialogs.asked.value(1).endsWith(QStringLiteral("图片文件(*.png; *.jpg)")));
    EXPECT_TRUE(dialogs.asked.value(2).endsWith(QStringLiteral("样式文件(*.css)")));

    QSignalSpy spy(&panel, &RightUserUploadWidget::signalButtonUpdateClicked);
    panel.radio(RightUserUploadWidget::StyleSheet)->click();
    panel.pathRow(RightUserUploadWidget::Background)->edit()->setText("typed bg.png");
    panel.confirmButton()->click();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0), QList<QVariant>({false, "file0", false, "typed bg.png", true, "file2"}));
}

TEST(DeviceListPanel, SaveDialogReplacesThePathOnlyWhenAnswered) {
    FakeDialogs dialogs;
    RightDeviceListWidget panel;
    panel.setupPanel(400, 800);
    QSignalSpy spy(&panel, &RightDeviceListWidget::signalButtonSaveClicked);

    panel.startButton()->click();
    panel.pathEdit()->setText("typed.xls");
    panel.browseButton()->click();  // cancelled
    EXPECT_EQ(panel.pathEdit()->text(), "typed.xls");
    EXPECT_EQ(dialogs.asked.value(0), QStringLiteral("Save|devicedatamanager|设备列表(*.xls)"));
    dialogs.answer = QStringList({"chosen.xls"});
    panel.browseButton()->click();
    panel.startButton()->click();
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), "");
    EXPECT_EQ(spy.at(1).at(0).toString(), "chosen.xls");
}
