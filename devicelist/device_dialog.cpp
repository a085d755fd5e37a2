#include "device_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "dialog_title_bar.h"
#include "window_drag.h"

const char* const DeviceDialog::kDefaultPassword = "tolvi";

namespace {

// Digits with an optional sign that fit an int; no blanks, no other bases.
bool isDecimalInteger(const QString& text) {
    static const QRegularExpression pattern("^[+-]?[0-9]+$");
    if (!pattern.match(text).hasMatch()) return false;
    bool ok = false;
    text.toInt(&ok, 10);
    return ok;
}

}  // namespace

DeviceDialog::DeviceDialog(QWidget* parent, const QString& title) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(400, 330);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(106, 120, 141));
    setPalette(pal);
    setAutoFillBackground(true);
    // An application style sheet overrides the palette; this keeps the dialog's colour, and
    // its white title and captions readable on it.
    setStyleSheet("DeviceDialog{background-color:rgb(106,120,141);}QLabel{color:white;}");
    setWindowTitle(title);

    const DialogTitleBar title_bar = createDialogTitleBar(this, title);

    ip_edit_ = new QLineEdit("192.168.1.1", this);
    ip_edit_->setObjectName("ipEdit");
    port_edit_ = new QLineEdit("80", this);
    port_edit_->setObjectName("portEdit");
    user_edit_ = new QLineEdit("admin", this);
    user_edit_->setObjectName("userEdit");
    password_edit_ = new QLineEdit(kDefaultPassword, this);
    password_edit_->setObjectName("passwordEdit");
    password_edit_->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout();
    form_ = form;
    form->addRow(QStringLiteral("IP地址："), ip_edit_);
    form->addRow(QStringLiteral("端口："), port_edit_);
    form->addRow(QStringLiteral("用户名："), user_edit_);
    form->addRow(QStringLiteral("密码："), password_edit_);
    form->setVerticalSpacing(12);
    form->setContentsMargins(40, 20, 40, 20);

    wain_label_ = new QLabel(this);
    wain_label_->setObjectName("wainLable");
    success_label_ = new QLabel(this);
    success_label_->setObjectName("successLable");
    auto* message_row = new QHBoxLayout();
    message_row->addStretch();
    message_row->addWidget(wain_label_);
    message_row->addWidget(success_label_);
    message_row->addSpacing(10);

    ok_button_ = new QPushButton(QStringLiteral("确定"), this);
    ok_button_->setObjectName("okButton");
    ok_button_->setFixedWidth(60);
    cancel_button_ = new QPushButton(QStringLiteral("取消"), this);
    cancel_button_->setObjectName("cancelButton");
    cancel_button_->setFixedWidth(60);
    auto* button_row = new QHBoxLayout();
    button_row->addStretch();
    button_row->addWidget(ok_button_);
    button_row->addSpacing(10);
    button_row->addWidget(cancel_button_);
    button_row->addSpacing(10);

    auto* main_layout = new QVBoxLayout(this);
    main_layout->addLayout(title_bar.layout);
    main_layout->addLayout(form);
    main_layout->addLayout(message_row);
    main_layout->addLayout(button_row);
    main_layout->addStretch();
    main_layout->setContentsMargins(5, 5, 5, 10);

    connect(ok_button_, &QPushButton::clicked, this, &DeviceDialog::slotSaveDeviceInfo);
    connect(cancel_button_, &QPushButton::clicked, this, &DeviceDialog::close);
    WindowDrag::install(this);
}

void DeviceDialog::fillFields(const QString& ip, int port, const QString& user_name,
                              const QString& pass_word) {
    ip_edit_->setText(ip);
    port_edit_->setText(QString::number(port));
    user_edit_->setText(user_name.isEmpty() ? QStringLiteral("admin") : user_name);
    password_edit_->setText(pass_word.isEmpty() ? QString(kDefaultPassword) : pass_word);
}

void DeviceDialog::askLoginOnly(const QString& user_name, const QString& pass_word) {
    fillFields(QStringLiteral("0.0.0.0"), 0, user_name, pass_word);
    login_only_ = true;
    for (QLineEdit* edit : {ip_edit_, port_edit_}) {
        edit->hide();
        if (QWidget* label = form_->labelForField(edit)) label->hide();
    }
}

void DeviceDialog::showWarning(const QString& text) {
    wain_label_->setText(text);
    wain_label_->setVisible(true);
    success_label_->setVisible(false);
}

void DeviceDialog::slotSaveDeviceInfo() {
    wain_label_->clear();
    success_label_->clear();

    if (ip_edit_->text().isEmpty()) {
        showWarning(QStringLiteral("请输入设备IP!"));
        return;
    }
    if (port_edit_->text().isEmpty()) {
        showWarning(QStringLiteral("请输入设备端口!"));
        return;
    }
    if (!isDecimalInteger(port_edit_->text())) {
        showWarning(QStringLiteral("端口不正确，请重新输入!"));
        return;
    }
    if (user_edit_->text().isEmpty()) {
        showWarning(QStringLiteral("请输入用户名!"));
        return;
    }
    if (password_edit_->text().isEmpty()) {
        showWarning(QStringLiteral("请输入密码!"));
        return;
    }

    // Read before accept(): a dialog shown with delete-on-close goes away after it.
    const QString ip = login_only_ ? QString() : ip_edit_->text();
    const int port = login_only_ ? 0 : port_edit_->text().toInt();
    const QString user_name = user_edit_->text();
    const QString pass_word = password_edit_->text();
    accept();
    emit signalSaveDeviceInfo(ip, port, user_name, pass_word);
}
