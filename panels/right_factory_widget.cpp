#include "right_factory_widget.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdio>

RightFactoryWidget::RightFactoryWidget(QWidget* parent) : RightConfigWidget(parent) {}

void RightFactoryWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);

    auto* label = new QLabel(QStringLiteral("请选择恢复参数类型"), this);
    label->setFixedSize(200, 30);
    part_button_ = new QRadioButton(QStringLiteral("部分恢复"), this);
    full_button_ = new QRadioButton(QStringLiteral("全部恢复"), this);
    button_group_ = new QButtonGroup(this);
    button_group_->addButton(part_button_, 0);
    button_group_->addButton(full_button_, 1);
    part_button_->setChecked(true);

    auto* row = new QHBoxLayout();
    row->addWidget(label);
    row->addSpacing(30);
    row->addWidget(part_button_);
    row->addWidget(full_button_);
    row->addStretch();
    mainLayout()->addLayout(row);

    addConfirmRow(this, &RightFactoryWidget::slotButtonSetupClicked);
    finishLayout();
}

void RightFactoryWidget::slotButtonSetupClicked() {
    const int id = button_group_->checkedId();
    std::printf("group id:%d \n", id);
    emit signalButtonSetupClicked(id);
}
