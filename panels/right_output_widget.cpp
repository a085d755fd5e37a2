#include "right_output_widget.h"

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTextCodec>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>

#include "panel_file_dialog.h"
#include "path_row.h"

namespace {

// The record comes from a camera: counts beyond the tables are cut to the tables' size, and a
// name without its NUL ends at the end of its field.
int usedGroups(const KP_PARAM_IMPORT_ABILITY_V2& ability) {
    return qBound(0, ability.group_count, KP_PARAM_GROUP_MAX);
}

int usedItems(const KP_PARAM_IMPORT_GROUP& group) { return qBound(0, group.item_count, KP_PARAM_ITEM_MAX); }

QString fromGb2312(const char (&name)[KP_PARAM_NAME_LEN]) {
    const QByteArray bytes(name, static_cast<int>(qstrnlen(name, KP_PARAM_NAME_LEN)));
    QTextCodec* gb2312 = QTextCodec::codecForName("gb2312");
    return gb2312 ? gb2312->toUnicode(bytes) : QString::fromUtf8(bytes);
}

Qt::CheckState stateFor(int checked, int total) {
    if (checked == 0) return Qt::Unchecked;
    return checked == total ? Qt::Checked : Qt::PartiallyChecked;
}

void recomputeParent(QTreeWidgetItem* item) {
    QTreeWidgetItem* parent = item->parent();
    if (!parent) return;
    int checked = 0;
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->checkState(0) == Qt::Checked) ++checked;
    parent->setCheckState(0, stateFor(checked, parent->childCount()));
}

}  // namespace

RightOutputWidget::RightOutputWidget(QWidget* parent)
    : RightConfigWidget(parent), ability_(new KP_PARAM_IMPORT_ABILITY_V2()) {}

RightOutputWidget::~RightOutputWidget() = default;

void RightOutputWidget::setupPanel(int width, int height) { setupPanel(width, height, *ability_); }

void RightOutputWidget::setupPanel(int width, int height, const KP_PARAM_IMPORT_ABILITY_V2& record) {
    if (&record != ability_.get()) std::memcpy(ability_.get(), &record, sizeof(KP_PARAM_IMPORT_ABILITY_V2));
    RightConfigWidget::setupPanel(width, height);

    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    buildTree();
    connect(tree_, &QTreeWidget::itemChanged, this, &RightOutputWidget::slotTreeItemChanged);
    mainLayout()->addWidget(tree_);

    auto* caption = new QLabel(QStringLiteral("保存到"), this);
    caption->setFixedSize(60, 30);
    folder_row_ = std::make_unique<PathRow>(this, caption, false);
    folder_row_->edit()->setText(folder_);
    folder_row_->edit()->setToolTip(folder_);
    connect(folder_row_->edit(), &QLineEdit::textChanged, this, [this](const QString& text) {
        folder_ = text;
        folder_row_->edit()->setToolTip(text);
    });
    connect(folder_row_->browseButton(), &QAbstractButton::clicked, this, [this] {
        const QString chosen =
            PanelFileDialog::getExistingDirectory(this, QStringLiteral("选择文件夹"), folder_);
        if (!chosen.isEmpty()) setFolder(chosen);
    });
    mainLayout()->addLayout(folder_row_->layout());

    confirm_button_ = addConfirmRow(this, &RightOutputWidget::slotButtonSetupClicked);
    finishLayout();
}

void RightOutputWidget::buildTree() {
    tree_->clear();
    item_names_.assign(static_cast<size_t>(usedGroups(*ability_)), {});
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
    for (int g = 0; g < usedGroups(*ability_); ++g) {
        const KP_PARAM_IMPORT_GROUP& group = ability_->groups[g];
        auto* group_item = new QTreeWidgetItem(tree_, QStringList(fromGb2312(group.name)));
        group_item->setFlags(flags);
        int checked = 0;
        for (int i = 0; i < usedItems(group); ++i) {
            item_names_[static_cast<size_t>(g)].push_back(fromGb2312(group.items[i].name));
            auto* child =
                new QTreeWidgetItem(group_item, QStringList(item_names_[static_cast<size_t>(g)].back()));
            child->setFlags(flags);
            const bool selected = group.items[i].selected != 0;
            child->setCheckState(0, selected ? Qt::Checked : Qt::Unchecked);
            if (selected) ++checked;
        }
        group_item->setCheckState(0, stateFor(checked, usedItems(group)));
    }
}

void RightOutputWidget::slotTreeItemChanged(QTreeWidgetItem* item, int column) {
    Q_UNUSED(column);
    const Qt::CheckState state = item->checkState(0);
    if (state != Qt::PartiallyChecked) {
        // Each change below comes back through this slot, so children and parents write their
        // own entries; an unchanged state fires nothing, which ends the recursion.
        if (item->childCount() > 0) {
            for (int i = 0; i < item->childCount(); ++i) item->child(i)->setCheckState(0, state);
        } else {
            recomputeParent(item);
        }
    }
    writeBack(item);
}

void RightOutputWidget::writeBack(QTreeWidgetItem* item) {
    // Only items carry a selected flag; a group whose name equals an item's must not set it.
    if (!item->parent()) return;
    const QString name = item->text(0);
    const bool checked = item->checkState(0) == Qt::Checked;
    for (size_t g = 0; g < item_names_.size(); ++g) {
        KP_PARAM_IMPORT_GROUP& group = ability_->groups[g];
        for (size_t i = 0; i < item_names_[g].size(); ++i) {
            if (item_names_[g][i] != name) continue;
            group.items[i].selected = checked ? 1 : 0;
            std::printf("selected item[%d][%d]:%d \n", static_cast<int>(g), static_cast<int>(i),
                        group.items[i].selected);
            // A namesake elsewhere in the tree shows what will be exported. Its flag is written
            // right here, so it follows quietly: a record full of namesakes must not recurse deep.
            QTreeWidgetItem* shown = tree_->topLevelItem(static_cast<int>(g))->child(static_cast<int>(i));
            if (shown != item && shown->checkState(0) != item->checkState(0)) {
                const QSignalBlocker quiet(tree_);
                shown->setCheckState(0, item->checkState(0));
                recomputeParent(shown);
            }
        }
    }
}

void RightOutputWidget::setFolder(const QString& folder) {
    folder_ = folder;
    if (folder_row_) folder_row_->edit()->setText(folder);
}

QString RightOutputWidget::folder() const { return folder_; }

void RightOutputWidget::slotButtonSetupClicked() { emit signalButtonSetupClicked(*ability_); }
