// Network parameters: first address, port, mask and gateway. The edits refuse what cannot
// become a dotted address or a port; text still being typed is emitted as it stands.
//
// Given the ticked cameras (setCameras), a line under the edits shows the addresses they will
// get before anything is sent: the range and count, each camera's old and new address in its
// tooltip, and a warning in red when an address would be its subnet's own or broadcast address
// or leave the first address's subnet.
#pragma once

#include <QString>
#include <QStringList>

#include "right_config_widget.h"

class QLabel;
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
    // The current addresses of the cameras the change goes to, in the order they get theirs.
    void setCameras(const QStringList& addresses);
    QLabel* previewLabel() const { return preview_label_; }
    QLabel* warningLabel() const { return warning_label_; }

Q_SIGNALS:
    void signalButtonUpdateClicked(QString ip, int port, QString mask, QString geteway);

public Q_SLOTS:
    void slotButtonUpdateClicked();

private:
    QLineEdit* addRow(const QString& caption, const QString& text);
    void updatePreview();

    QLineEdit* ip_edit_ = nullptr;
    QLineEdit* port_edit_ = nullptr;
    QLineEdit* mask_edit_ = nullptr;
    QLineEdit* gateway_edit_ = nullptr;
    NavButton* confirm_button_ = nullptr;
    QLabel* preview_label_ = nullptr;
    QLabel* warning_label_ = nullptr;
    QStringList cameras_;
};
