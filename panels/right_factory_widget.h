// Parameter restore: partial (id 0, keeps network and password) or full (id 1).
#pragma once

#include "right_config_widget.h"

class QButtonGroup;
class QRadioButton;

class RightFactoryWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightFactoryWidget(QWidget* parent = nullptr);

    void setupPanel(int width, int height) override;

    QRadioButton* partButton() const { return part_button_; }
    QRadioButton* fullButton() const { return full_button_; }

Q_SIGNALS:
    void signalButtonSetupClicked(int index);

public Q_SLOTS:
    void slotButtonSetupClicked();

private:
    QRadioButton* part_button_ = nullptr;
    QRadioButton* full_button_ = nullptr;
    QButtonGroup* button_group_ = nullptr;
};
