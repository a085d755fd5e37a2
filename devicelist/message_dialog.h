// The program's small modal message box. Kind 1 asks a question ("是" accepts, "否" rejects);
// any other kind is a notice with one "确定" button. Openers show it with exec() and
// Qt::WA_DeleteOnClose.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

class MessageDialog : public QDialog {
    Q_OBJECT

public:
    enum Kind { KindNotice = 0, KindQuestion = 1 };

    MessageDialog(QWidget* parent, const QString& title, const QString& text, int kind = 0);

private:
    QLabel* text_label_ = nullptr;
    QPushButton* first_button_ = nullptr;
    QPushButton* second_button_ = nullptr;
};
