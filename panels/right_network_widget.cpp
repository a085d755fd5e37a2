#include "right_network_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegExp>
#include <QRegExpValidator>
#include <QVBoxLayout>

namespace {

const char kAddressPattern[] = "((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)";
// 0 to 65535. The toolkit's integer validator lets "70000" stand as intermediate text.
const char kPortPattern[] = "6553[0-5]|655[0-2]\\d|65[0-4]\\d\\d|6[0-4]\\d{3}|[1-5]\\d{4}|\\d{1,4}";

}  // namespace

RightNetworkWidget::RightNetworkWidget(QWidget* parent) : RightConfigWidget(parent) {}

void RightNetworkWidget::setupPanel(int width, int height) {
    setupPanel(width, height, QString(), 0, QString(), QString());
}

void RightNetworkWidget::setupPanel(int width, int height, const QString& ip, int port, const QString& mask,
                                    const QString& gateway) {
    RightConfigWidget::setupPanel(width, height);

    ip_edit_ = addRow(QStringLiteral("ip地址/首地址"), ip);
    port_edit_ = addRow(QStringLiteral("端口"), QString::number(port));
    mask_edit_ = addRow(QStringLiteral("子网掩码"), mask);
    gateway_edit_ = addRow(QStringLiteral("网关"), gateway);

    const QRegExp address(QString::fromLatin1(kAddressPattern));
    for (QLineEdit* edit : {ip_edit_, mask_edit_, gateway_edit_})
        edit->setValidator(new QRegExpValidator(address, edit));
    port_edit_->setValidator(new QRegExpValidator(QRegExp(QString::fromLatin1(kPortPattern)), port_edit_));

    confirm_button_ = createImageButton(this, QStringLiteral("确认"), QString(), QSize(120, 30));
    confirm_button_->setObjectName("panelConfirmButton");
    connect(confirm_button_, &QAbstractButton::clicked, this, &RightNetworkWidget::slotButtonUpdateClicked);
    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(confirm_button_);
    mainLayout()->addLayout(row);
    finishLayout();
}

QLineEdit* RightNetworkWidget::addRow(const QString& caption, const QString& text) {
    auto* label = new QLabel(caption, this);
    label->setFixedSize(80, 30);
    auto* edit = new QLineEdit(text, this);
    auto* row = new QHBoxLayout();
    row->addWidget(label);
    row->addSpacing(60);
    row->addWidget(edit);
    mainLayout()->addLayout(row);
    mainLayout()->addSpacing(10);
    return edit;
}

void RightNetworkWidget::slotButtonUpdateClicked() {
    emit signalButtonUpdateClicked(ip_edit_->text(), port_edit_->text().toInt(), mask_edit_->text(),
                                   gateway_edit_->text());
}
