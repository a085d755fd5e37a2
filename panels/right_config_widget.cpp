#include "right_config_widget.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "nav_button.h"

RightConfigWidget::RightConfigWidget(QWidget* parent) : QDialog(parent) {
    // Qt::Dialog keeps it a window of its own: without a type flag it would become a child widget.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
}

NavButton* RightConfigWidget::createImageButton(QWidget* parent, const QString& text, const QString& image,
                                                const QSize& size) {
    auto* button = new NavButton(parent);
    button->setCheckable(false);
    button->setText(text);
    button->setFixedSize(size);
    if (!image.isEmpty()) {
        button->setShowIcon(true);
        button->setIconSize(QSize(16, 16));
        button->setIconNormal(QPixmap(image));
        button->setIconHover(QPixmap(image + "_hover"));
        button->setIconCheck(QPixmap(image + "_hover"));
        button->setIconDisable(QPixmap(image + "_ban"));
        // The text starts after the icon (icon gap 10 + 16 + 10).
        button->setPaddingLeft(36);
    }
    return button;
}

void RightConfigWidget::setupPanel(int width, int height) {
    setFixedSize(width, height);
    setStyleSheet("background-color:#FFFFFF;");

    header_button_ = createImageButton(this, QStringLiteral("操作"), ":/base/cancel", QSize(100, 30));
    header_button_->setObjectName("panelHeaderButton");
    connect(header_button_, &QAbstractButton::clicked, this, &RightConfigWidget::slotsClose);

    main_layout_ = new QVBoxLayout(this);
    header_layout_ = new QHBoxLayout();
    header_layout_->addWidget(header_button_, 0, Qt::AlignLeft);
    header_layout_->addStretch();
    main_layout_->addLayout(header_layout_);
}

NavButton* RightConfigWidget::createConfirmRow() {
    NavButton* button = createImageButton(this, QStringLiteral("确认"), QString(), QSize(120, 30));
    button->setObjectName("panelConfirmButton");
    auto* row = new QHBoxLayout();
    row->addWidget(button, 0, Qt::AlignLeft);
    row->addStretch();
    main_layout_->addLayout(row);
    return button;
}

void RightConfigWidget::finishLayout() {
    main_layout_->setSpacing(10);
    main_layout_->addStretch();
    main_layout_->setContentsMargins(20, 0, 20, 0);
}

void RightConfigWidget::slotsClose() {
    close();
    emit signalsClose();
}
