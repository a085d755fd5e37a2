#include "right_ipc_config_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "message_dialog.h"
#include "path_row.h"

namespace {

NavButton* createPageButton(QWidget* parent, const QString& text) {
    auto* button = new NavButton(parent);
    button->setText(text);
    button->setCheckable(true);
    button->setFixedSize(80, 30);
    return button;
}

QLineEdit* addPasswordRow(QWidget* page, QVBoxLayout* layout, const QString& caption) {
    auto* label = new QLabel(caption, page);
    label->setFixedSize(60, 30);
    auto* edit = new QLineEdit(page);
    edit->setFixedHeight(30);
    edit->setEchoMode(QLineEdit::Normal);
    auto* row = new QHBoxLayout();
    row->addWidget(label);
    row->addSpacing(60);
    row->addWidget(edit);
    layout->addLayout(row);
    return edit;
}

}  // namespace

RightIpcConfigWidget::RightIpcConfigWidget(QWidget* parent) : RightConfigWidget(parent) {}

RightIpcConfigWidget::~RightIpcConfigWidget() = default;

void RightIpcConfigWidget::setupPanel(int width, int height) {
    RightConfigWidget::setupPanel(width, height);

    page1_button_ = createPageButton(this, QStringLiteral("参数导入"));
    page2_button_ = createPageButton(this, QStringLiteral("密码修改"));
    connect(page1_button_, &QAbstractButton::clicked, this, &RightIpcConfigWidget::slotPage1Clicked);
    connect(page2_button_, &QAbstractButton::clicked, this, &RightIpcConfigWidget::slotPage2Clicked);
    auto* page_row = new QHBoxLayout();
    page_row->addWidget(page1_button_);
    page_row->addWidget(page2_button_);
    page_row->addStretch();
    mainLayout()->addLayout(page_row);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(buildImportPage());
    pages_->addWidget(buildPasswordPage());
    mainLayout()->addWidget(pages_);
    slotPage1Clicked();
    finishLayout();
}

QWidget* RightIpcConfigWidget::buildImportPage() {
    auto* page = new QWidget(this);
    auto* caption = new QLabel(QStringLiteral("添加："), page);
    caption->setFixedSize(60, 30);
    path_row_ = std::make_unique<PathRow>(page, caption, true);
    connect(path_row_->browseButton(), &QAbstractButton::clicked, this,
            &RightIpcConfigWidget::slotButtonFolderClicked);
    connect(path_row_->startButton(), &QAbstractButton::clicked, this,
            &RightIpcConfigWidget::slotButtonUpdateClicked);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(path_row_->layout());
    layout->addStretch();
    return page;
}

QWidget* RightIpcConfigWidget::buildPasswordPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    password_edit_ = addPasswordRow(page, layout, QStringLiteral("输入密码"));
    confirm_edit_ = addPasswordRow(page, layout, QStringLiteral("确认密码"));
    password_button_ = createImageButton(page, QStringLiteral("确认"), QString(), QSize(120, 30));
    password_button_->setObjectName("panelConfirmButton");
    connect(password_button_, &QAbstractButton::clicked, this,
            &RightIpcConfigWidget::slotButtonSetPasswordClicked);
    layout->addWidget(password_button_, 0, Qt::AlignLeft);
    layout->addStretch();
    return page;
}

QLineEdit* RightIpcConfigWidget::pathEdit() const { return path_row_->edit(); }
NavButton* RightIpcConfigWidget::browseButton() const { return path_row_->browseButton(); }
NavButton* RightIpcConfigWidget::startButton() const { return path_row_->startButton(); }

void RightIpcConfigWidget::slotPage1Clicked() {
    pages_->setCurrentIndex(0);
    page1_button_->setChecked(true);
    page2_button_->setChecked(false);
}

void RightIpcConfigWidget::slotPage2Clicked() {
    pages_->setCurrentIndex(1);
    page1_button_->setChecked(false);
    page2_button_->setChecked(true);
}

void RightIpcConfigWidget::slotButtonFolderClicked() {
    PathRow::chooseFiles(this, path_row_->edit(), QStringLiteral("*.cfg"));
}

void RightIpcConfigWidget::slotButtonUpdateClicked() {
    emit signalButtonUpdateClicked(path_row_->edit()->text());
}

void RightIpcConfigWidget::slotButtonSetPasswordClicked() {
    // The cameras refuse an empty password, each one failing on its own: say it once, here.
    const QString refusal = password_edit_->text() != confirm_edit_->text() ? QStringLiteral("密码不一致!")
                            : password_edit_->text().isEmpty() ? QStringLiteral("密码不能为空!")
                                                               : QString();
    if (!refusal.isEmpty()) {
        auto* dialog = new MessageDialog(this, QStringLiteral("提示信息"), refusal);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->exec();
        return;
    }
    emit signalButtonSetPasswordClicked(password_edit_->text());
}
