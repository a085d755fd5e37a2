#include "path_row.h"

#include <QHBoxLayout>
#include <QLineEdit>

#include "nav_button.h"
#include "panel_file_dialog.h"

namespace {

NavButton* createIconButton(QWidget* parent, const QString& image, const QString& disabled_image) {
    auto* button = new NavButton(parent);
    button->setCheckable(false);
    button->setFixedSize(30, 30);
    button->setShowIcon(true);
    button->setIconSize(QSize(16, 16));
    // Centre the icon: the button carries no text.
    button->setIconSpace((30 - 16) / 2);
    button->setIconNormal(QPixmap(image));
    button->setIconHover(QPixmap(image + "_hover"));
    button->setIconCheck(QPixmap(image + "_hover"));
    button->setIconDisable(QPixmap(disabled_image));
    return button;
}

// What the chooser's filter calls the files: a configuration file offered as an upgrade file
// looks like the wrong panel.
QString fileFilterLabel(const QString& pattern) {
    QString kind = QStringLiteral("升级文件");
    if (pattern.contains(QLatin1String(".cfg")))
        kind = QStringLiteral("配置文件");
    else if (pattern.contains(QLatin1String(".png")) || pattern.contains(QLatin1String(".jpg")))
        kind = QStringLiteral("图片文件");
    else if (pattern.contains(QLatin1String(".css")))
        kind = QStringLiteral("样式文件");
    return QStringLiteral("%1(%2)").arg(kind, pattern);
}

}  // namespace

PathRow::PathRow(QWidget* parent, QWidget* caption, bool with_start) {
    edit_ = new QLineEdit(parent);
    edit_->setFixedSize(150, 30);
    browse_ = createIconButton(parent, ":/base/folder", ":/base/folder_ban");
    browse_->setObjectName("panelBrowseButton");
    layout_ = new QHBoxLayout();
    layout_->addWidget(caption);
    layout_->addSpacing(60);
    layout_->addWidget(edit_);
    layout_->addWidget(browse_);
    if (with_start) {
        start_ = createIconButton(parent, ":/base/update", ":/base/updateo_ban");
        start_->setObjectName("panelStartButton");
        layout_->addWidget(start_);
    }
    layout_->addStretch();
}

void PathRow::chooseFiles(QWidget* parent, QLineEdit* edit, const QString& pattern) {
    const QStringList files =
        PanelFileDialog::getOpenFileNames(parent, QStringLiteral("选择文件"), "./", fileFilterLabel(pattern));
    if (!files.isEmpty()) edit->setText(files.join('|'));
}
