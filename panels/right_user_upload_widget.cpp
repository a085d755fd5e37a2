#include "right_user_upload_widget.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "nav_button.h"
#include "path_row.h"

RightUserUploadWidget::RightUserUploadWidget(QWidget* parent) : RightConfigWidget(parent) {}

RightUserUploadWidget::~RightUserUploadWidget() = default;

void RightUserUploadWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);

    const QString captions[3] = {QStringLiteral("logo路径"), QStringLiteral("bg路径"),
                                 QStringLiteral("css路径")};
    void (RightUserUploadWidget::*browse[3])() = {&RightUserUploadWidget::slotButtonLogoFolderClicked,
                                                  &RightUserUploadWidget::slotButtonBgFolderClicked,
                                                  &RightUserUploadWidget::slotButtonCssFolderClicked};
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (int i = 0; i < 3; ++i) {
        radios_[i] = new QRadioButton(captions[i], this);
        radios_[i]->setFixedSize(80, 30);
        group_->addButton(radios_[i], i);
        rows_[i] = std::make_unique<PathRow>(this, radios_[i], false);
        connect(rows_[i]->browseButton(), &QAbstractButton::clicked, this, browse[i]);
        mainLayout()->addLayout(rows_[i]->layout());
    }
    radios_[Logo]->setChecked(true);

    confirm_button_ = addConfirmRow(this, &RightUserUploadWidget::slotButtonUpdateClicked);
    finishLayout();
}

void RightUserUploadWidget::slotButtonLogoFolderClicked() {
    PathRow::chooseFiles(this, rows_[Logo]->edit(), QStringLiteral("*.png; *.jpg"));
}

void RightUserUploadWidget::slotButtonBgFolderClicked() {
    PathRow::chooseFiles(this, rows_[Background]->edit(), QStringLiteral("*.png; *.jpg"));
}

void RightUserUploadWidget::slotButtonCssFolderClicked() {
    PathRow::chooseFiles(this, rows_[StyleSheet]->edit(), QStringLiteral("*.css"));
}

void RightUserUploadWidget::slotButtonUpdateClicked() {
    emit signalButtonUpdateClicked(radios_[Logo]->isChecked(), rows_[Logo]->edit()->text(),
                                   radios_[Background]->isChecked(), rows_[Background]->edit()->text(),
                                   radios_[StyleSheet]->isChecked(), rows_[StyleSheet]->edit()->text());
}
