// The modal form for a camera of the local list: address, port, user name, password. It checks
// that every field is filled and the port is a number, then hands the four values on through
// signalSaveDeviceInfo. Openers show it with exec() and Qt::WA_DeleteOnClose.
#pragma once

#include <QDialog>
#include <QString>

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

class DeviceDialog : public QDialog {
    Q_OBJECT

public:
    static const char* const kDefaultPassword;

    explicit DeviceDialog(QWidget* parent = nullptr, const QString& title = QString());

    // An empty user name becomes "admin", an empty password the default password.
    void fillFields(const QString& ip, int port, const QString& user_name, const QString& pass_word);
    // Asks for the login only: the address and port rows are hidden, and the signal carries
    // an empty address and port 0.
    void askLoginOnly(const QString& user_name, const QString& pass_word);

Q_SIGNALS:
    void signalSaveDeviceInfo(QString ip, int port, QString user_name, QString pass_word);

public Q_SLOTS:
    void slotSaveDeviceInfo();

private:
    void showWarning(const QString& text);

    QFormLayout* form_ = nullptr;
    bool login_only_ = false;
    QLineEdit* ip_edit_ = nullptr;
    QLineEdit* port_edit_ = nullptr;
    QLineEdit* user_edit_ = nullptr;
    QLineEdit* password_edit_ = nullptr;
    QLabel* wain_label_ = nullptr;
    QLabel* success_label_ = nullptr;
    QPushButton* ok_button_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
};
