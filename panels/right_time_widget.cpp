#include "right_time_widget.h"

RightTimeWidget::RightTimeWidget(QWidget* parent) : RightConfigWidget(parent) {}

void RightTimeWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);
    addConfirmRow(this, &RightTimeWidget::slotButtonSetupClicked);
    finishLayout();
}

void RightTimeWidget::slotButtonSetupClicked() { emit signalButtonSetupClicked(); }
