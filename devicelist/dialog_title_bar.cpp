#include "dialog_title_bar.h"

#include <QDialog>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>

#include "push_button.h"

DialogTitleBar createDialogTitleBar(QDialog* dialog, const QString& title, const QString& close_tip) {
    auto* icon_label = new QLabel(dialog);
    icon_label->setPixmap(QPixmap(":/ico/player"));
    icon_label->setFixedSize(16, 16);
    icon_label->setScaledContents(true);

    auto* title_label = new QLabel(title, dialog);
    title_label->setObjectName("titleLabel");
    title_label->setFixedHeight(19);
    title_label->setStyleSheet("color:white; background:transparent;");
    // White on the dialogs' light grey is hard to read: a dark shadow keeps the white title
    // and makes it legible.
    auto* shadow = new QGraphicsDropShadowEffect(title_label);
    shadow->setColor(QColor(0x2B, 0x33, 0x45));
    shadow->setOffset(1, 1);
    shadow->setBlurRadius(1);
    title_label->setGraphicsEffect(shadow);

    auto* close_button = new PushButton(dialog);
    close_button->setObjectName("closeButton");
    close_button->setPicName(":/title/close");
    if (!close_tip.isEmpty()) close_button->setToolTip(close_tip);
    QObject::connect(close_button, &PushButton::clicked, dialog, &QDialog::close);

    auto* layout = new QHBoxLayout();
    layout->addWidget(icon_label, 0, Qt::AlignVCenter);
    layout->addWidget(title_label, 0, Qt::AlignVCenter);
    layout->addStretch();
    layout->addWidget(close_button);
    layout->setSpacing(5);
    layout->setContentsMargins(5, 0, 0, 0);
    return {layout, close_button};
}
