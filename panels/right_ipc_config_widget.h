// Camera configuration on two pages: parameter import from a .cfg file, and the login password
// (typed twice; nothing is emitted unless both agree).
#pragma once

#include <QString>
#include <memory>

#include "right_config_widget.h"

class QLineEdit;
class QStackedWidget;
class PathRow;

class RightIpcConfigWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightIpcConfigWidget(QWidget* parent = nullptr);
    ~RightIpcConfigWidget() override;

    void setupPanel(int width, int height) override;

    NavButton* page1Button() const { return page1_button_; }
    NavButton* page2Button() const { return page2_button_; }
    QStackedWidget* pages() const { return pages_; }
    QLineEdit* pathEdit() const;
    NavButton* browseButton() const;
    NavButton* startButton() const;
    QLineEdit* passwordEdit() const { return password_edit_; }
    QLineEdit* confirmPasswordEdit() const { return confirm_edit_; }
    NavButton* setPasswordButton() const { return password_button_; }

Q_SIGNALS:
    void signalButtonUpdateClicked(QString path);
    void signalButtonSetPasswordClicked(QString password);

public Q_SLOTS:
    void slotButtonFolderClicked();
    void slotButtonUpdateClicked();
    void slotButtonSetPasswordClicked();
    void slotPage1Clicked();
    void slotPage2Clicked();

private:
    QWidget* buildImportPage();
    QWidget* buildPasswordPage();

    NavButton* page1_button_ = nullptr;
    NavButton* page2_button_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::unique_ptr<PathRow> path_row_;
    QLineEdit* password_edit_ = nullptr;
    QLineEdit* confirm_edit_ = nullptr;
    NavButton* password_button_ = nullptr;
};
