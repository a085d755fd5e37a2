// Sets the clock of every ticked camera to this computer's time: the panel has no parameter, only the
// confirmation.
#pragma once

#include "right_config_widget.h"

class RightTimeWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightTimeWidget(QWidget* parent = nullptr);

    void setupPanel(int width, int height) override;

Q_SIGNALS:
    void signalButtonSetupClicked();

public Q_SLOTS:
    void slotButtonSetupClicked();
};
