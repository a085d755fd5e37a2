#include "btn_tools_widget.h"

#include <QHBoxLayout>

#include "nav_button.h"

namespace {

NavButton* createToolButton(QWidget* parent, const QString& image) {
    auto* button = new NavButton(parent);
    button->setCheckable(false);
    button->setFixedSize(24, 20);
    button->setShowIcon(true);
    button->setIconSize(QSize(16, 16));
    // Centre the icon in the button; the row colours show through the button.
    button->setIconSpace((24 - 16) / 2);
    button->setShowLine(false);
    button->setNormalBgColor(Qt::transparent);
    button->setHoverBgColor(Qt::transparent);
    button->setCheckBgColor(Qt::transparent);
    button->setDisableBgColor(Qt::transparent);
    button->setIconNormal(QPixmap(image));
    button->setIconHover(QPixmap(image + "_hover"));
    button->setIconCheck(QPixmap(image + "_hover"));
    button->setIconDisable(QPixmap(image + "_ban"));
    return button;
}

}  // namespace

BtnToolsWidget::BtnToolsWidget(QWidget* parent) : QWidget(parent) {
    button_ie_ = createToolButton(this, ":/base/ie");
    button_ie_->setObjectName("buttonIe");
    button_video_ = createToolButton(this, ":/base/video");
    button_video_->setObjectName("buttonVideo");

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(button_ie_);
    layout->addWidget(button_video_);
    layout->addStretch();
    layout->setSpacing(20);
    layout->setContentsMargins(0, 1, 0, 1);
    setFixedHeight(22);

    connect(button_ie_, &NavButton::clicked, this, &BtnToolsWidget::slotButtonIeClicked);
    connect(button_video_, &NavButton::clicked, this, &BtnToolsWidget::slotButtonVideoClicked);
}

void BtnToolsWidget::slotButtonIeClicked() { emit signalButtonIeClicked(&device_info_); }

void BtnToolsWidget::slotButtonVideoClicked() { emit signalButtonVideoClicked(&device_info_); }
