// Uploads to face-recognition cameras: logo, background or style sheet, one at a time (the
// radios are exclusive); confirm emits each row's choice and path.
#pragma once

#include <QString>
#include <memory>

#include "right_config_widget.h"

class QButtonGroup;
class QRadioButton;
class PathRow;

class RightUserUploadWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightUserUploadWidget(QWidget* parent = nullptr);
    ~RightUserUploadWidget() override;

    void setupPanel(int width, int height) override;

    enum Row { Logo = 0, Background = 1, StyleSheet = 2 };
    QRadioButton* radio(Row row) const { return radios_[row]; }
    PathRow* pathRow(Row row) const { return rows_[row].get(); }
    NavButton* confirmButton() const { return confirm_button_; }

Q_SIGNALS:
    void signalButtonUpdateClicked(bool enable_logo, QString path_logo, bool enable_bg, QString path_bg,
                                   bool enable_css, QString path_css);

public Q_SLOTS:
    void slotButtonLogoFolderClicked();
    void slotButtonBgFolderClicked();
    void slotButtonCssFolderClicked();
    void slotButtonUpdateClicked();

private:
    QRadioButton* radios_[3] = {};
    std::unique_ptr<PathRow> rows_[3];
    QButtonGroup* group_ = nullptr;
    NavButton* confirm_button_ = nullptr;
};
