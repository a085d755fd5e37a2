// Reboots every ticked camera: the panel has no parameter, only the confirmation.
#pragma once

#include "right_config_widget.h"

class RightRebootWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightRebootWidget(QWidget* parent = nullptr);

    void setupPanel(int width, int height) override;

Q_SIGNALS:
    void signalButtonSetupClicked();

public Q_SLOTS:
    void slotButtonSetupClicked();
};
