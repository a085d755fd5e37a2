// The title row shared by the frameless dialogs: icon, title, stretch, close button.
#pragma once

#include <QString>

class QDialog;
class QHBoxLayout;
class PushButton;

struct DialogTitleBar {
    QHBoxLayout* layout = nullptr;
    PushButton* close_button = nullptr;
};

// The close button closes `dialog`; `close_tip` becomes its tool tip when not empty.
DialogTitleBar createDialogTitleBar(QDialog* dialog, const QString& title,
                                    const QString& close_tip = QString());
