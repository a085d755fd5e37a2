#include "right_reboot_widget.h"

RightRebootWidget::RightRebootWidget(QWidget* parent) : RightConfigWidget(parent) {}

void RightRebootWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);
    addConfirmRow(this, &RightRebootWidget::slotButtonSetupClicked);
    finishLayout();
}

void RightRebootWidget::slotButtonSetupClicked() { emit signalButtonSetupClicked(); }
