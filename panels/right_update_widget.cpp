#include "right_update_widget.h"

#include <QLabel>
#include <QLineEdit>
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
    connect(path_row_->browseButton(), &QAbstractButton::clicked, this,
            &RightUpdateWidget::slotButtonFolderClicked);
    connect(path_row_->startButton(), &QAbstractButton::clicked, this,
            &RightUpdateWidget::slotButtonUpdateClicked);
    finishLayout();
}

QLineEdit* RightUpdateWidget::pathEdit() const { return path_row_->edit(); }
NavButton* RightUpdateWidget::browseButton() const { return path_row_->browseButton(); }
NavButton* RightUpdateWidget::startButton() const { return path_row_->startButton(); }

void RightUpdateWidget::slotButtonFolderClicked() {
    PathRow::chooseFiles(this, path_row_->edit(), QStringLiteral("*.bin"));
}

void RightUpdateWidget::slotButtonUpdateClicked() {
    emit signalButtonUpdateClicked(path_row_->edit()->text());
}
