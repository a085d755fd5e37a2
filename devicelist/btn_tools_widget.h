// The tool buttons of a device row: open the camera's web page, open its live video. The widget
// keeps its own copy of the row's record and hands a pointer to it with each click.
#pragma once

#include <QWidget>

#include "deviceinfo.h"

class NavButton;

class BtnToolsWidget : public QWidget {
    Q_OBJECT

public:
    explicit BtnToolsWidget(QWidget* parent = nullptr);

    void setDeviceInfo(const DeviceInfo& device_info) { device_info_ = device_info; }
    const DeviceInfo& deviceInfo() const { return device_info_; }
    NavButton* ieButton() const { return button_ie_; }
    NavButton* videoButton() const { return button_video_; }

Q_SIGNALS:
    void signalButtonIeClicked(DeviceInfo* device_info);
    void signalButtonVideoClicked(DeviceInfo* device_info);

public Q_SLOTS:
    void slotButtonIeClicked();
    void slotButtonVideoClicked();

private:
    NavButton* button_ie_ = nullptr;
    NavButton* button_video_ = nullptr;
    DeviceInfo device_info_;
};
