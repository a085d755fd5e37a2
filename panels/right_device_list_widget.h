// Device-list export: the user picks the workbook file; start emits its path, empty or not.
#pragma once

#include <QString>
#include <memory>

#include "right_config_widget.h"

class QLineEdit;
class PathRow;

class RightDeviceListWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightDeviceListWidget(QWidget* parent = nullptr);
    ~RightDeviceListWidget() override;

    void setupPanel(int width, int height) override;

    QLineEdit* pathEdit() const;
    NavButton* browseButton() const;
    NavButton* startButton() const;

Q_SIGNALS:
    void signalButtonSaveClicked(QString path);

public Q_SLOTS:
    void slotButtonFolderClicked();
    void slotButtonSaveClicked();

private:
    std::unique_ptr<PathRow> path_row_;
};
