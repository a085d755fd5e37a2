#include "message_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dialog_title_bar.h"
#include "push_button.h"
#include "window_drag.h"

MessageDialog::MessageDialog(QWidget* parent, const QString& title, const QString& text, int kind)
    : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet("background-color:#d5dae6");
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setFixedSize(280, 130);
    setWindowTitle(title);

    const DialogTitleBar title_bar = createDialogTitleBar(this, title, QStringLiteral("关闭"));

    text_label_ = new QLabel(text, this);
    text_label_->setObjectName("textLabel");
    // Messages may quote camera text or paths: shown as they are, never as markup.
    text_label_->setTextFormat(Qt::PlainText);
    auto* text_row = new QHBoxLayout();
    text_row->addStretch();
    text_row->addWidget(text_label_);
    text_row->addStretch();
    text_row->setContentsMargins(20, 15, 20, 10);

    const bool question = kind == KindQuestion;
    first_button_ = new QPushButton(question ? QStringLiteral("是") : QStringLiteral("确定"), this);
    first_button_->setObjectName("firstButton");
    first_button_->setFixedWidth(50);
    second_button_ = new QPushButton(QStringLiteral("否"), this);
    second_button_->setObjectName("secondButton");
    second_button_->setFixedWidth(50);
    second_button_->setVisible(question);

    auto* button_row = new QHBoxLayout();
    button_row->addSpacing(10);
    button_row->addStretch();
    button_row->addWidget(first_button_);
    button_row->addSpacing(10);
    button_row->addWidget(second_button_);
    button_row->addStretch();
    button_row->setContentsMargins(20, 10, 20, 10);

    auto* main_layout = new QVBoxLayout(this);
    main_layout->addLayout(title_bar.layout);
    main_layout->addLayout(text_row);
    main_layout->addLayout(button_row);
    main_layout->addStretch();
    main_layout->setContentsMargins(5, 5, 5, 5);

    // A text of several lines gets the room its further lines need; one line keeps the usual size.
    const QSize text_size = text_label_->sizeHint();
    setFixedSize(std::max(280, text_size.width() + 50),
                 130 + std::max(0, text_size.height() - text_label_->fontMetrics().height()));

    connect(first_button_, &QPushButton::clicked, this, &MessageDialog::accept);
    connect(second_button_, &QPushButton::clicked, this, &MessageDialog::close);
    WindowDrag::install(this);
}
