// The status cell of a device row: the status text, coloured by its class, and a progress bar
// shown only while an operation runs.
//
// The cells take their look from tableStyleSheet(), which the table that holds them carries:
// one sheet for the whole table costs a fraction of a sheet per cell when a thousand rows are
// built. The label's colour follows its "statusColor" property (green, blue or red).
//
// A row that ended badly also says why: a short reason after the status text, cut with "…"
// where the column is too narrow, and whole in the cell's tooltip. A new status drops it.
#pragma once

#include <QWidget>

#include "deviceinfo.h"

class QLabel;
class QProgressBar;

class UpdateWidget : public QWidget {
    Q_OBJECT

public:
    explicit UpdateWidget(QWidget* parent = nullptr);

    static QString tableStyleSheet();

    DeviceStatus status() const { return status_; }
    // "green", "blue" or "red".
    QString statusColor() const;
    QLabel* statusLabel() const { return label_; }
    QProgressBar* progressBar() const { return progress_bar_; }
    QLabel* reasonLabel() const { return reason_label_; }
    QString reason() const;

    // Shows `reason` after the status text; empty hides it.
    void setReason(const QString& reason);

public Q_SLOTS:
    // Also drops the reason: it belonged to the status before.
    void slotSetStatus(DeviceStatus status, int value);

private:
    void setStatusColor(const char* color);

    QLabel* label_ = nullptr;
    QLabel* reason_label_ = nullptr;
    QProgressBar* progress_bar_ = nullptr;
    DeviceStatus status_ = DEVICE_STATUS_IDLE;
};
