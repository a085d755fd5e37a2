// Firmware upgrade: one path row; start emits the path, several files joined by "|".
#pragma once

#include <QString>
#include <memory>

#include "right_config_widget.h"

class QLineEdit;
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

Q_SIGNALS:
    void signalButtonUpdateClicked(QString path);

public Q_SLOTS:
    void slotButtonFolderClicked();
    void slotButtonUpdateClicked();

private:
    std::unique_ptr<PathRow> path_row_;
};
