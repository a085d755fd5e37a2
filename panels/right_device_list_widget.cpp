#include "right_device_list_widget.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "panel_file_dialog.h"
#include "path_row.h"

RightDeviceListWidget::RightDeviceListWidget(QWidget* parent) : RightConfigWidget(parent) {}

RightDeviceListWidget::~RightDeviceListWidget() = default;

void RightDeviceListWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);
    auto* caption = new QLabel(QStringLiteral("选择路径"), this);
    caption->setFixedSize(60, 30);
    path_row_ = std::make_unique<PathRow>(this, caption, true);
    mainLayout()->addLayout(path_row_->layout());
    connect(path_row_->browseButton(), &QAbstractButton::clicked, this,
            &RightDeviceListWidget::slotButtonFolderClicked);
    connect(path_row_->startButton(), &QAbstractButton::clicked, this,
            &RightDeviceListWidget::slotButtonSaveClicked);
    finishLayout();
}

QLineEdit* RightDeviceListWidget::pathEdit() const { return path_row_->edit(); }
NavButton* RightDeviceListWidget::browseButton() const { return path_row_->browseButton(); }
NavButton* RightDeviceListWidget::startButton() const { return path_row_->startButton(); }

void RightDeviceListWidget::slotButtonFolderClicked() {
    const QString file = PanelFileDialog::getSaveFileName(this, QStringLiteral("Save"), "devicedatamanager",
                                                          QStringLiteral("设备列表(%1)").arg("*.xls"));
    if (!file.isEmpty()) path_row_->edit()->setText(file);
}

void RightDeviceListWidget::slotButtonSaveClicked() {
    // A name typed without an extension would give a file no spreadsheet program opens by itself.
    QString file = path_row_->edit()->text();
    if (!file.isEmpty() && QFileInfo(file).suffix().isEmpty() && !file.endsWith('/') && !file.endsWith('\\'))
        file += QStringLiteral(".xls");
    emit signalButtonSaveClicked(file);
}
