// The status cell of a device row: the status text, coloured by its class, and a progress bar
// shown only while an operation runs.
#pragma once

#include <QWidget>

#include "deviceinfo.h"

class QLabel;
class QProgressBar;

class UpdateWidget : public QWidget {
    Q_OBJECT

public:
    explicit UpdateWidget(QWidget* parent = nullptr);

    DeviceStatus status() const { return status_; }
    QLabel* statusLabel() const { return label_; }
    QProgressBar* progressBar() const { return progress_bar_; }

public Q_SLOTS:
    void slotSetStatus(DeviceStatus status, int value);

private:
    QLabel* label_ = nullptr;
    QProgressBar* progress_bar_ = nullptr;
    DeviceStatus status_ = DEVICE_STATUS_IDLE;
};
