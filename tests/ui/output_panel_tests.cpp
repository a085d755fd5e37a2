// The configuration export panel: the check tree built from the ability record, ticks written
// back to every namesake, and a whole export whose file holds exactly the ticked items, in the
// folder the panel named, said in the window.
#include <RuDAVADO_control.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTextCodec>
#include <QTimer>
#include <QTreeWidget>
#include <cstring>
#include <memory>

#include "device_table_widget.h"
#include "main_window_fixture.h"
#include "message_dialog.h"
#include "nav_button.h"
#include "panel_file_dialog.h"
#include "path_row.h"
#include "right_output_widget.h"
#include "test_device.h"

namespace {

void setName(char (&field)[KP_PARAM_NAME_LEN], const QString& name) {
    qstrncpy(field, QTextCodec::codecForName("gb2312")->fromUnicode(name).constData(), KP_PARAM_NAME_LEN);
}

void addGroup(KP_PARAM_IMPORT_ABILITY_V2& record, const QString& name,
              const std::vector<std::pair<QString, int>>& items) {
    KP_PARAM_IMPORT_GROUP& group = record.groups[record.group_count++];
    setName(group.name, name);
    for (const auto& item : items) {
        setName(group.items[group.item_count].name, item.first);
        group.items[group.item_count++].selected = item.second;
    }
}

// 识别参数: all selected; 图像参数: one of two; 空组: no items. "亮度" is in two groups.
std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> sampleRecord() {
    auto record = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    addGroup(*record, QStringLiteral("识别参数"),
             {{QStringLiteral("识别区域"), 1}, {QStringLiteral("亮度"), 1}});
    addGroup(*record, QStringLiteral("图像参数"),
             {{QStringLiteral("亮度"), 1}, {QStringLiteral("对比度"), 0}});
    addGroup(*record, QStringLiteral("空组"), {});
    record->reserved[0] = 0x5a;
    return record;
}

}  // namespace

TEST(RightOutputWidget, TreeStatesAndWriteBackFollowEveryTick) {
    auto record = sampleRecord();
    RightOutputWidget panel;
    panel.setupPanel(400, 800, *record);
    QTreeWidget* tree = panel.tree();
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    QTreeWidgetItem* recognition = tree->topLevelItem(0);
    QTreeWidgetItem* image = tree->topLevelItem(1);
    EXPECT_EQ(image->child(1)->text(0), QStringLiteral("对比度"));
    EXPECT_EQ(recognition->checkState(0), Qt::Checked);
    EXPECT_EQ(image->checkState(0), Qt::PartiallyChecked);
    EXPECT_EQ(tree->topLevelItem(2)->checkState(0), Qt::Unchecked);
    const auto& groups = panel.ability().groups;

    // Unticking a group clears its items and their namesake in the other group.
    recognition->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(groups[0].items[0].selected + groups[0].items[1].selected + groups[1].items[0].selected, 0);
    EXPECT_EQ(image->child(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(image->checkState(0), Qt::Unchecked);

    recognition->setCheckState(0, Qt::Checked);
    EXPECT_EQ(groups[0].items[0].selected + groups[0].items[1].selected + groups[1].items[0].selected, 3);
    EXPECT_EQ(image->checkState(0), Qt::PartiallyChecked);

    // The last ticked item of a group going turns the group unchecked.
    image->child(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(image->checkState(0), Qt::Unchecked);
    EXPECT_EQ(recognition->checkState(0), Qt::PartiallyChecked);
    image->child(1)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(groups[1].items[1].selected, 1);

    // Confirm hands over the edited copy, untouched fields included.
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> emitted;
    const KP_PARAM_IMPORT_ABILITY_V2* received = nullptr;
    QObject::connect(&panel, &RightOutputWidget::signalButtonSetupClicked,
                     [&](const KP_PARAM_IMPORT_ABILITY_V2& ability) {
                         received = &ability;
                         emitted.reset(new KP_PARAM_IMPORT_ABILITY_V2(ability));
                     });
    panel.confirmButton()->click();
    ASSERT_TRUE(emitted);
    // Handed over in place: a copy of the record on the stack for the signal is 0.8 MB.
    EXPECT_EQ(received, &panel.ability());
    EXPECT_EQ(std::memcmp(emitted.get(), &panel.ability(), sizeof(KP_PARAM_IMPORT_ABILITY_V2)), 0);
    EXPECT_EQ(emitted->reserved[0], 0x5a);
}

TEST(RightOutputWidget, CountsAndNamesBeyondTheirFieldsStayInside) {
    auto record = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    record->group_count = 1000;
    record->groups[0].item_count = -5;
    record->groups[1].item_count = 1 << 20;
    std::memset(record->groups[1].items[0].name, 'A', KP_PARAM_NAME_LEN);  // no NUL
    RightOutputWidget panel;
    panel.setupPanel(400, 800, *record);
    ASSERT_EQ(panel.tree()->topLevelItemCount(), KP_PARAM_GROUP_MAX);
    EXPECT_EQ(panel.tree()->topLevelItem(0)->childCount(), 0);
    ASSERT_EQ(panel.tree()->topLevelItem(1)->childCount(), KP_PARAM_ITEM_MAX);
    EXPECT_EQ(panel.tree()->topLevelItem(1)->child(0)->text(0), QString(KP_PARAM_NAME_LEN, 'A'));
}

TEST_F(MainWindowTest, ExportedFileHoldsExactlyTheTickedItems) {
    fillSearchList();
    DeviceTableWidgetBase* list = window_->searchList();
    window_->passwordEdit()->setText(kPassword);
    const int row = rowOf(list, "192.168.1.100");
    tick(list, {row});

    // Untick the group "图像参数" and the item "最小车牌宽度"; note "group/item" of what stays.
    // The panel offers the working folder; the user picks another (a name the library gets in
    // its own code page).
    const QString chosen = dir_.filePath(QStringLiteral("导出"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    PanelFileDialog::setOpenFolder([&](QWidget*, const QString&, const QString&) { return chosen; });
    QString offered;
    QSet<QString> ticked;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* panel = qobject_cast<RightOutputWidget*>(QApplication::activeModalWidget());
        if (!panel) return;
        poll.stop();
        for (QTreeWidgetItem* item : panel->tree()->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive))
            if (item->text(0) == QStringLiteral("图像参数") ||
                item->text(0) == QStringLiteral("最小车牌宽度"))
                item->setCheckState(0, Qt::Unchecked);
        for (QTreeWidgetItem* item : panel->tree()->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive))
            if (item->parent() && item->checkState(0) == Qt::Checked)
                ticked << item->parent()->text(0) + "/" + item->text(0);
        offered = panel->folder();
        panel->folderRow()->browseButton()->click();
        panel->confirmButton()->click();
        panel->headerButton()->click();
    });
    poll.start();
    window_->onOutputConfigClick();
    PanelFileDialog::setOpenFolder(nullptr);
    ASSERT_TRUE(waitForStatus(list, row, QStringLiteral("导出成功")));
    EXPECT_FALSE(ticked.isEmpty());
    EXPECT_EQ(QDir(offered), QDir(dir_.path()));

    const QStringList files = QDir(chosen).entryList({"192.168.1.100_*.cfg"});
    ASSERT_EQ(files.size(), 1);
    const QString path = QDir(chosen).filePath(files.front());
    // The window says where the file went.
    QString told;
    EXPECT_TRUE(waitFor([&] {
        for (MessageDialog* dialog : window_->findChildren<MessageDialog*>())
            if (dialog->isVisible()) told = dialog->findChild<QLabel*>("textLabel")->text();
        return !told.isEmpty();
    }));
    EXPECT_EQ(told, QStringLiteral("配置已导出到 ") + QDir::toNativeSeparators(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QSet<QString> written;
    QString group;
    for (const QString& line : QTextCodec::codecForName("gb2312")->toUnicode(file.readAll()).split('\n')) {
        const QString text = line.trimmed();
        if (text.startsWith('['))
            group = text.mid(1, text.size() - 2);
        else if (!text.isEmpty() && !text.startsWith(';'))
            written << group + "/" + text.section('=', 0, 0);
    }
    EXPECT_EQ(written, ticked);

    // Read back through the camera's import: a ticked item returns to its exported value, an
    // unticked one keeps what it has now.
    const int camera = RuDAVADO_FindCamera("192.168.1.100");
    RuDAVADO_SetParam(camera, "识别参数", "最大车牌宽度", "400");
    RuDAVADO_SetParam(camera, "识别参数", "最小车牌宽度", "100");
    KPLPRC_HANDLE session = KpLPRClient_Open("192.168.1.100", 80, kUser, kPassword);
    EXPECT_EQ(KpLPRClient_ParaImportV2(session, QFile::encodeName(path).constData()), 0);
    KpLPRClient_Close(session);
    char value[64] = {0};
    RuDAVADO_GetParam(camera, "识别参数", "最大车牌宽度", value, sizeof value);
    EXPECT_STREQ(value, "300");
    RuDAVADO_GetParam(camera, "识别参数", "最小车牌宽度", value, sizeof value);
    EXPECT_STREQ(value, "100");
}
