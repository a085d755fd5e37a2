#include "right_network_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegExp>
#include <QRegExpValidator>
#include <QVBoxLayout>
#include <cstdint>

#include "batch.h"
#include "ipv4.h"

namespace {

const char kAddressPattern[] = "((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)";
// 0 to 65535. The toolkit's integer validator lets "70000" stand as intermediate text.
const char kPortPattern[] = "6553[0-5]|655[0-2]\\d|65[0-4]\\d\\d|6[0-4]\\d{3}|[1-5]\\d{4}|\\d{1,4}";
// Cameras named one by one in the preview's tooltip; the rest are counted.
constexpr int kTooltipCameras = 20;

// A mask is ones then zeros.
bool parseMask(const QString& text, std::uint32_t* mask) {
    std::uint32_t value = 0;
    if (!factory::ParseIpv4(text.toStdString(), &value)) return false;
    if ((~value & (~value + 1)) != 0) return false;
    *mask = value;
    return true;
}

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

    preview_label_ = new QLabel(this);
    preview_label_->setObjectName("addressPreview");
    preview_label_->setWordWrap(true);
    warning_label_ = new QLabel(this);
    warning_label_->setObjectName("addressWarning");
    warning_label_->setWordWrap(true);
    warning_label_->setStyleSheet("color:#d03030;");
    mainLayout()->addWidget(preview_label_);
    mainLayout()->addWidget(warning_label_);
    for (QLineEdit* edit : {ip_edit_, mask_edit_})
        connect(edit, &QLineEdit::textChanged, this, &RightNetworkWidget::updatePreview);
    updatePreview();

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

void RightNetworkWidget::setCameras(const QStringList& addresses) {
    cameras_ = addresses;
    updatePreview();
}

void RightNetworkWidget::updatePreview() {
    if (!preview_label_) return;
    const int count = cameras_.size();
    QString preview, warning, tooltip;
    const std::string first = ip_edit_->text().toStdString();
    const QString start = QString::fromStdString(batch::AssignedAddress(first, 0));
    const QString last = QString::fromStdString(batch::AssignedAddress(first, count - 1));
    if (count == 0) {
        // Nothing ticked: nothing to preview.
    } else if (start.isEmpty()) {
        preview = QStringLiteral("请输入完整的首地址");
    } else if (last.isEmpty()) {
        warning = QStringLiteral("从 %1 起的地址不够 %2 台设备").arg(start).arg(count);
    } else {
        // Two lines: the range alone is as wide as the panel allows.
        preview = QStringLiteral("将分配 %1 台设备:\n").arg(count) +
                  (count == 1 ? start : QStringLiteral("%1 – %2").arg(start, last));
        std::uint32_t mask = 0, base = 0;
        if (parseMask(mask_edit_->text(), &mask) && mask != 0xFFFFFFFFu && factory::ParseIpv4(first, &base)) {
            for (int i = 0; i < count && warning.isEmpty(); ++i) {
                const std::string text = batch::AssignedAddress(first, i);
                std::uint32_t address = 0;
                factory::ParseIpv4(text, &address);
                const QString shown = QString::fromStdString(text);
                if ((address & mask) != (base & mask))
                    warning = QStringLiteral("注意: %1 不在首地址的子网内").arg(shown);
                else if ((address & ~mask) == 0)
                    warning = QStringLiteral("注意: %1 是子网的网络地址").arg(shown);
                else if ((address & ~mask) == ~mask)
                    warning = QStringLiteral("注意: %1 是子网的广播地址").arg(shown);
            }
        }
        for (int i = 0; i < count && i < kTooltipCameras; ++i)
            tooltip += QStringLiteral("%1 → %2\n")
                           .arg(cameras_[i], QString::fromStdString(batch::AssignedAddress(first, i)));
        if (count > kTooltipCameras) tooltip += QStringLiteral("… 另 %1 台").arg(count - kTooltipCameras);
    }
    preview_label_->setText(preview);
    preview_label_->setToolTip(tooltip.trimmed());
    preview_label_->setVisible(!preview.isEmpty());
    warning_label_->setText(warning);
    warning_label_->setVisible(!warning.isEmpty());
}

void RightNetworkWidget::slotButtonUpdateClicked() {
    emit signalButtonUpdateClicked(ip_edit_->text(), port_edit_->text().toInt(), mask_edit_->text(),
                                   gateway_edit_->text());
}
