// Firmware upgrade: one path row, then the staged rollout (cameras at once, canary cameras,
// failure limit; 0 = all at once, none, no limit: the plain batch); start emits the path,
// several files joined by "|", and policy() tells the rollout.
#pragma once

#include <QString>
#include <memory>

#include "batch.h"
#include "right_config_widget.h"

class QLineEdit;
class QSpinBox;
class PathRow;

class RightUpdateWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightUpdateWidget(QWidget* parent = nullptr);
    ~RightUpdateWidget() override;

    void setupPanel(int width, int height) override;

    QLineEdit* pathEdit() const;
    NavButton* browseButton() const;
    NavButton* startButton() const;
    QSpinBox* parallelBox() const { return parallel_; }
    QSpinBox* canaryBox() const { return canary_; }
    QSpinBox* maxFailuresBox() const { return max_failures_; }
    batch::Policy policy() const;

Q_SIGNALS:
    void signalButtonUpdateClicked(QString path);

public Q_SLOTS:
    void slotButtonFolderClicked();
    void slotButtonUpdateClicked();

private:
    std::unique_ptr<PathRow> path_row_;
    QSpinBox* parallel_ = nullptr;
    QSpinBox* canary_ = nullptr;
    QSpinBox* max_failures_ = nullptr;
};
