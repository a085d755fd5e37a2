#include "right_update_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "path_row.h"

RightUpdateWidget::RightUpdateWidget(QWidget* parent) : RightConfigWidget(parent) {}

RightUpdateWidget::~RightUpdateWidget() = default;

void RightUpdateWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);
    auto* caption = new QLabel(QStringLiteral("选择路径"), this);
    caption->setFixedSize(60, 30);
    path_row_ = std::make_unique<PathRow>(this, caption, true);
    mainLayout()->addLayout(path_row_->layout());
    // The staged rollout; each box at 0 keeps the plain batch (its special text says so).
    auto* rollout = new QHBoxLayout();
    auto addBox = [&](const char* label, const char* zero, int width) {
        auto* caption = new QLabel(QString::fromUtf8(label), this);
        caption->setFixedSize(60, 30);
        auto* box = new QSpinBox(this);
        box->setRange(0, 100000);
        box->setSpecialValueText(QString::fromUtf8(zero));
        box->setFixedSize(width, 30);
        rollout->addWidget(caption);
        rollout->addWidget(box);
        rollout->addSpacing(10);
        return box;
    };
    parallel_ = addBox("同时升级", "全部", 80);
    canary_ = addBox("先行验证", "无", 80);
    max_failures_ = addBox("失败上限", "不限", 80);
    rollout->addStretch();
    mainLayout()->addLayout(rollout);
    connect(path_row_->browseButton(), &QAbstractButton::clicked, this,
            &RightUpdateWidget::slotButtonFolderClicked);
    connect(path_row_->startButton(), &QAbstractButton::clicked, this,
            &RightUpdateWidget::slotButtonUpdateClicked);
    finishLayout();
}

QLineEdit* RightUpdateWidget::pathEdit() const { return path_row_->edit(); }
NavButton* RightUpdateWidget::browseButton() const { return path_row_->browseButton(); }
NavButton* RightUpdateWidget::startButton() const { return path_row_->startButton(); }

batch::Policy RightUpdateWidget::policy() const {
    if (!parallel_) return batch::Policy();
    return batch::Policy{parallel_->value(), canary_->value(), max_failures_->value()};
}

void RightUpdateWidget::slotButtonFolderClicked() {
    PathRow::chooseFiles(this, path_row_->edit(), QStringLiteral("*.bin"));
}

void RightUpdateWidget::slotButtonUpdateClicked() {
    emit signalButtonUpdateClicked(path_row_->edit()->text());
}
