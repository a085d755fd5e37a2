// Network parameters: first address, port, mask and gateway. The edits refuse what cannot
// become a dotted address or a port; text still being typed is emitted as it stands.
#pragma once

#include <QString>

#include "right_config_widget.h"

class QLineEdit;

class RightNetworkWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightNetworkWidget(QWidget* parent = nullptr);

    void setupPanel(int width, int height) override;
    void setupPanel(int width, int height, const QString& ip, int port, const QString& mask,
                    const QString& gateway);

    QLineEdit* ipEdit() const { return ip_edit_; }
    QLineEdit* portEdit() const { return port_edit_; }
    QLineEdit* maskEdit() const { return mask_edit_; }
    QLineEdit* gatewayEdit() const { return gateway_edit_; }
    NavButton* confirmButton() const { return confirm_button_; }

Q_SIGNALS:
    void signalButtonUpdateClicked(QString ip, int port, QString mask, QString geteway);

public Q_SLOTS:
    void slotButtonUpdateClicked();

private:
    QLineEdit* addRow(const QString& caption, const QString& text);

    QLineEdit* ip_edit_ = nullptr;
    QLineEdit* port_edit_ = nullptr;
    QLineEdit* mask_edit_ = nullptr;
    QLineEdit* gateway_edit_ = nullptr;
    NavButton* confirm_button_ = nullptr;
};
